#include "scene/blend.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "json/json.h"
#include "scene/command_schema.h"
#include "scene/rounding.h"
#include "scene/scene_format.h"

namespace lumora::scene {
namespace {

// A colour is at most 9 characters; reading one more tells a longer string
// apart without walking all of it.
constexpr std::size_t kColourProbeBytes = 10;

// NaN (from a progress that is not a number) reads as 0 rather than
// converting undefinedly.
std::uint8_t channel(double value) {
  const double rounded = round_half_even(value);
  if (!(rounded > 0)) return 0;
  return static_cast<std::uint8_t>(std::min(rounded, 255.0));
}

double lerp(double a, double b, double t) { return a + (b - a) * t; }

ColorValue colour_item(const cJSON* item) {
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return {};
  return parse_color(std::string_view(item->valuestring, strnlen(item->valuestring, kColourProbeBytes)));
}

// The colour items of the kinds whose colours blend; none for the others.
TransitionMask mask_of_kind(std::string_view kind) {
  struct KindMask {
    std::string_view kind;
    TransitionMask mask;
  };
  static constexpr KindMask kMasks[] = {
      {"rect", 1u << 2 | 1u << 4}, {"text", 1u << 4},          {"line", 1u << 5},
      {"lines", 1u << 2},          {"segments", 1u << 2},      {"image", 1u << 3},
      {"image_nine", 1u << 4},     {"gradient_rect", 1u << 2 | 1u << 3},
      {"caret", 1u << 4},          {"focus_ring", 1u << 2},
  };
  for (const KindMask& entry : kMasks) {
    if (entry.kind == kind) return entry.mask;
  }
  return 0;
}

bool both_styled(const cJSON* a, const cJSON* b) {
  const std::string_view kind = command_kind(a, "");
  return (kind == "styled_rect" || kind == "marker") && command_kind(b, "") == kind;
}

bool replace_item(cJSON* parent, cJSON* item, cJSON* replacement) {
  if (replacement == nullptr) return false;
  if (!cJSON_ReplaceItemViaPointer(parent, item, replacement)) {
    cJSON_Delete(replacement);
    return false;
  }
  return true;
}

bool blend_rect_back(cJSON* command, cJSON* rect, const cJSON* older_rect, double progress) {
  double values[4] = {0, 0, 0, 0};
  double older[4] = {0, 0, 0, 0};
  const cJSON* item = cJSON_IsArray(rect) ? rect->child : nullptr;
  for (int i = 0; i < 4 && item != nullptr; ++i, item = item->next) values[i] = cJSON_IsNumber(item) ? item->valuedouble : 0;
  item = cJSON_IsArray(older_rect) ? older_rect->child : nullptr;
  for (int i = 0; i < 4 && item != nullptr; ++i, item = item->next) older[i] = cJSON_IsNumber(item) ? item->valuedouble : 0;
  for (int i = 0; i < 4; ++i) values[i] = lerp(older[i], values[i], progress);
  return replace_item(command, rect, cJSON_CreateDoubleArray(values, 4));
}

}  // namespace

ColorValue blend_color(const ColorValue& old_colour, const ColorValue& new_colour, double t, bool premultiplied) {
  if (!old_colour.present && !new_colour.present) return {};
  ColorValue a = old_colour;
  ColorValue b = new_colour;
  if (!a.present) a = {b.r, b.g, b.b, 0, true};
  if (!b.present) b = {a.r, a.g, a.b, 0, true};
  const double alpha = lerp(a.a, b.a, t);
  ColorValue result;
  result.present = true;
  result.a = channel(alpha);
  std::uint8_t ColorValue::*const channels[3] = {&ColorValue::r, &ColorValue::g, &ColorValue::b};
  for (const auto member : channels) {
    const double value = premultiplied && alpha > 0
                             ? (a.a * (a.*member) * (1 - t) + b.a * (b.*member) * t) / alpha
                             : lerp(a.*member, b.*member, t);
    result.*member = channel(value);
  }
  return result;
}

ColorValue mix_color(const ColorValue& from, const ColorValue& to, double t) {
  return {channel(lerp(from.r, to.r, t)), channel(lerp(from.g, to.g, t)), channel(lerp(from.b, to.b, t)),
          channel(lerp(from.a, to.a, t)), from.present || to.present};
}

RectStyle blend_style(const RectStyle& old_style, const RectStyle& new_style, double t) {
  RectStyle style = new_style;
  ColorValue RectStyle::*const colours[] = {
      &RectStyle::fill,      &RectStyle::foreground,   &RectStyle::border, &RectStyle::bevel_light,
      &RectStyle::bevel_dark, &RectStyle::highlight,   &RectStyle::inner_border, &RectStyle::glow,
      &RectStyle::pattern_color, &RectStyle::shadow,
  };
  for (const auto member : colours) style.*member = blend_color(old_style.*member, new_style.*member, t, true);
  // A gradient end that is absent continues its start colour.
  const auto end_or_start = [](const ColorValue& end, const ColorValue& start) { return end.present ? end : start; };
  style.fill_end = blend_color(end_or_start(old_style.fill_end, old_style.fill),
                               end_or_start(new_style.fill_end, new_style.fill), t, true);
  style.border_end = blend_color(end_or_start(old_style.border_end, old_style.border),
                                 end_or_start(new_style.border_end, new_style.border), t, true);
  double RectStyle::*const sizes[] = {&RectStyle::radius,      &RectStyle::border_width, &RectStyle::glow_width,
                                      &RectStyle::bevel_width, &RectStyle::shadow_x,     &RectStyle::shadow_y};
  for (const auto member : sizes) style.*member = lerp(old_style.*member, new_style.*member, t);
  style.shadow_blur = round_half_even(lerp(old_style.shadow_blur, new_style.shadow_blur, t));
  return style;
}

TransitionMask transition_mask(const cJSON* new_command, const cJSON* old_command) {
  if (!cJSON_IsArray(new_command) || !cJSON_IsArray(old_command)) return 0;
  const TransitionMask mask = mask_of_kind(command_kind(new_command, ""));
  if (mask == 0) return 0;
  const cJSON* a = new_command->child;
  const cJSON* b = old_command->child;
  for (int index = 0; a != nullptr || b != nullptr; ++index, a = a->next, b = b->next) {
    if (a == nullptr || b == nullptr) return 0;  // different item counts
    if (index < 16 && (mask & (1u << index)) != 0) continue;
    if (!json_equal(a, b)) return 0;
  }
  return mask;
}

bool pair_needs_transition(const cJSON* new_command, const cJSON* old_command) {
  if (json_equal(new_command, old_command)) return false;
  return both_styled(new_command, old_command) || transition_mask(new_command, old_command) != 0;
}

bool lists_need_transition(const cJSON* new_list, const cJSON* old_list) {
  if (!cJSON_IsArray(new_list) || !cJSON_IsArray(old_list)) return false;
  for (const cJSON *a = new_list->child, *b = old_list->child; a != nullptr && b != nullptr;
       a = a->next, b = b->next) {
    if (pair_needs_transition(a, b)) return true;
  }
  return false;
}

bool blend_command_back(cJSON* command, const cJSON* older, double progress) {
  if (json_equal(command, older)) return true;
  if (both_styled(command, older)) {
    cJSON* rect = cJSON_GetArrayItem(command, 1);
    cJSON* style = cJSON_GetArrayItem(command, 2);
    if (rect == nullptr || style == nullptr) return true;
    if (!blend_rect_back(command, rect, cJSON_GetArrayItem(older, 1), progress)) return false;
    const RectStyle blended =
        blend_style(parse_rect_style(cJSON_GetArrayItem(older, 2)), parse_rect_style(style), progress);
    return replace_item(command, style, serialize_rect_style(blended).release());
  }
  const TransitionMask mask = transition_mask(command, older);
  if (mask == 0) return true;
  cJSON* item = command->child;
  const cJSON* older_item = older->child;
  for (int index = 0; item != nullptr && older_item != nullptr; ++index, older_item = older_item->next) {
    cJSON* next = item->next;  // `item` may be replaced
    if ((mask & (1u << index)) != 0 && !json_equal(item, older_item)) {
      const ColorValue blended = blend_color(colour_item(older_item), colour_item(item), progress, true);
      if (!replace_item(command, item, cJSON_CreateString(format_color(blended).c_str()))) return false;
    }
    item = next;
  }
  return true;
}

bool blend_list_back(cJSON* list, const cJSON* older_list, double progress) {
  if (!cJSON_IsArray(list) || !cJSON_IsArray(older_list)) return true;
  const cJSON* older = older_list->child;
  for (cJSON* command = list->child; command != nullptr && older != nullptr;
       command = command->next, older = older->next) {
    if (!blend_command_back(command, older, progress)) return false;
  }
  return true;
}

}  // namespace lumora::scene
