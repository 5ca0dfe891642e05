#include "scene/style.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace lumora::scene {
namespace {

enum class MemberType { colour, number, font_family, gradient_axis, bevel, pattern };

struct MemberRule {
  const char* name;
  MemberType type;
  double min = 0;
  double max = 0;
};

constexpr double kMaxExtent = kMaxSceneCoordinate;

// The 26 member names; colours first in serialisation order.
constexpr std::array<MemberRule, 26> kMemberRules = {{
    {"fill", MemberType::colour},
    {"foreground", MemberType::colour},
    {"border", MemberType::colour},
    {"fill_end", MemberType::colour},
    {"border_end", MemberType::colour},
    {"bevel_light", MemberType::colour},
    {"bevel_dark", MemberType::colour},
    {"highlight", MemberType::colour},
    {"inner_border", MemberType::colour},
    {"glow", MemberType::colour},
    {"pattern_color", MemberType::colour},
    {"shadow", MemberType::colour},
    {"radius", MemberType::number, 0, kMaxExtent},
    {"border_width", MemberType::number, 0, kMaxExtent},
    {"glow_width", MemberType::number, 0, 16},
    {"bevel_width", MemberType::number, 0, 16},
    {"pattern_spacing", MemberType::number, 2, kMaxExtent},
    {"shadow_blur", MemberType::number, 0, 24},
    {"shadow_x", MemberType::number, -24, 24},
    {"shadow_y", MemberType::number, -24, 24},
    {"font_size", MemberType::number, 0.01, 2048},
    {"padding", MemberType::number, 0, kMaxExtent},
    {"gradient_axis", MemberType::gradient_axis},
    {"bevel", MemberType::bevel},
    {"pattern", MemberType::pattern},
    {"font_family", MemberType::font_family},
}};

const MemberRule* find_rule(const char* name) {
  if (name == nullptr) return nullptr;
  for (const MemberRule& rule : kMemberRules) {
    if (std::strcmp(rule.name, name) == 0) return &rule;
  }
  return nullptr;
}

bool string_is_one_of(const cJSON* value, std::initializer_list<const char*> options) {
  if (!cJSON_IsString(value) || value->valuestring == nullptr) return false;
  for (const char* option : options) {
    if (std::strcmp(value->valuestring, option) == 0) return true;
  }
  return false;
}

bool member_value_valid(const MemberRule& rule, const cJSON* value) {
  switch (rule.type) {
    case MemberType::colour: {
      if (!cJSON_IsString(value) || value->valuestring == nullptr) return false;
      const std::size_t length = std::strlen(value->valuestring);
      if (length > kMaxStringBytes) return false;
      return length == 0 || parse_color(value->valuestring).present;
    }
    case MemberType::number:
      return cJSON_IsNumber(value) && std::isfinite(value->valuedouble) && value->valuedouble >= rule.min &&
             value->valuedouble <= rule.max;
    case MemberType::font_family: return string_is_one_of(value, {"ui", "mono"});
    case MemberType::gradient_axis: return string_is_one_of(value, {"vertical", "horizontal"});
    case MemberType::bevel: return string_is_one_of(value, {"none", "raised", "sunken"});
    case MemberType::pattern: return string_is_one_of(value, {"none", "scanlines", "grid"});
  }
  return false;
}

const cJSON* member(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  return cJSON_IsNull(item) ? nullptr : item;
}

ColorValue colour_member(const cJSON* object, const char* name) {
  const cJSON* item = member(object, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return {};
  return parse_color(item->valuestring);
}

double number_member(const cJSON* object, const char* name, double fallback) {
  const cJSON* item = member(object, name);
  return cJSON_IsNumber(item) ? item->valuedouble : fallback;
}

std::string_view string_value(const cJSON* object, const char* name) {
  const cJSON* item = member(object, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return {};
  return item->valuestring;
}

}  // namespace

bool style_names_acceptable(const cJSON* value) {
  if (!cJSON_IsObject(value)) return false;
  // Bit i records that member i of kMemberRules was seen.
  std::uint32_t seen = 0;
  for (const cJSON* item = value->child; item != nullptr; item = item->next) {
    const MemberRule* rule = find_rule(item->string);
    if (rule == nullptr) return false;
    const std::uint32_t bit = 1u << (rule - kMemberRules.data());
    if ((seen & bit) != 0) return false;
    seen |= bit;
    if (!cJSON_IsNull(item) && !cJSON_IsBool(item) && !cJSON_IsNumber(item) &&
        !(cJSON_IsString(item) && item->valuestring != nullptr)) {
      return false;
    }
  }
  return true;
}

bool is_style_colour_member(const char* name) {
  const MemberRule* rule = find_rule(name);
  return rule != nullptr && rule->type == MemberType::colour;
}

bool validate_rect_style(const cJSON* value) {
  if (!style_names_acceptable(value)) return false;
  for (const cJSON* item = value->child; item != nullptr; item = item->next) {
    if (cJSON_IsNull(item)) continue;
    if (!member_value_valid(*find_rule(item->string), item)) return false;
  }
  return true;
}

RectStyle parse_rect_style(const cJSON* value) {
  RectStyle style;
  if (!cJSON_IsObject(value)) return style;
  style.fill = colour_member(value, "fill");
  style.foreground = colour_member(value, "foreground");
  style.border = colour_member(value, "border");
  style.fill_end = colour_member(value, "fill_end");
  style.border_end = colour_member(value, "border_end");
  style.bevel_light = colour_member(value, "bevel_light");
  style.bevel_dark = colour_member(value, "bevel_dark");
  style.highlight = colour_member(value, "highlight");
  style.inner_border = colour_member(value, "inner_border");
  style.glow = colour_member(value, "glow");
  style.pattern_color = colour_member(value, "pattern_color");
  style.shadow = colour_member(value, "shadow");
  style.radius = number_member(value, "radius", 0);
  style.border_width = number_member(value, "border_width", 0);
  style.glow_width = number_member(value, "glow_width", 0);
  style.bevel_width = number_member(value, "bevel_width", kDefaultBevelWidth);
  style.pattern_spacing = number_member(value, "pattern_spacing", kDefaultPatternSpacing);
  style.shadow_blur = number_member(value, "shadow_blur", 0);
  style.shadow_x = number_member(value, "shadow_x", 0);
  style.shadow_y = number_member(value, "shadow_y", 0);
  style.gradient_axis =
      string_value(value, "gradient_axis") == "horizontal" ? GradientAxis::horizontal : GradientAxis::vertical;
  const std::string_view bevel = string_value(value, "bevel");
  style.bevel = bevel == "raised" ? Bevel::raised : bevel == "sunken" ? Bevel::sunken : Bevel::none;
  const std::string_view pattern = string_value(value, "pattern");
  style.pattern = pattern == "scanlines" ? Pattern::scanlines : pattern == "grid" ? Pattern::grid : Pattern::none;
  return style;
}

JsonPtr serialize_rect_style(const RectStyle& style) {
  JsonPtr object(cJSON_CreateObject());
  if (!object) return nullptr;
  const std::pair<const char*, const ColorValue*> colours[] = {
      {"fill", &style.fill},
      {"foreground", &style.foreground},
      {"border", &style.border},
      {"fill_end", &style.fill_end},
      {"border_end", &style.border_end},
      {"bevel_light", &style.bevel_light},
      {"bevel_dark", &style.bevel_dark},
      {"highlight", &style.highlight},
      {"inner_border", &style.inner_border},
      {"glow", &style.glow},
      {"pattern_color", &style.pattern_color},
      {"shadow", &style.shadow},
  };
  for (const auto& [name, colour] : colours) {
    if (!colour->present) continue;
    if (cJSON_AddStringToObject(object.get(), name, format_color(*colour).c_str()) == nullptr) return nullptr;
  }
  const std::pair<const char*, double> numbers[] = {
      {"radius", style.radius},           {"border_width", style.border_width},
      {"glow_width", style.glow_width},   {"bevel_width", style.bevel_width},
      {"pattern_spacing", style.pattern_spacing}, {"shadow_blur", style.shadow_blur},
      {"shadow_x", style.shadow_x},       {"shadow_y", style.shadow_y},
  };
  for (const auto& [name, number] : numbers) {
    if (cJSON_AddNumberToObject(object.get(), name, number) == nullptr) return nullptr;
  }
  const char* axis = style.gradient_axis == GradientAxis::horizontal ? "horizontal" : "vertical";
  const char* bevel = style.bevel == Bevel::raised ? "raised" : style.bevel == Bevel::sunken ? "sunken" : "none";
  const char* pattern =
      style.pattern == Pattern::scanlines ? "scanlines" : style.pattern == Pattern::grid ? "grid" : "none";
  if (cJSON_AddStringToObject(object.get(), "gradient_axis", axis) == nullptr ||
      cJSON_AddStringToObject(object.get(), "bevel", bevel) == nullptr ||
      cJSON_AddStringToObject(object.get(), "pattern", pattern) == nullptr) {
    return nullptr;
  }
  return object;
}

}  // namespace lumora::scene
