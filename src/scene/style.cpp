#include "scene/style.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "json/json_type.h"
#include "scene/name_index.h"

namespace lumora::scene {
namespace {

enum class MemberType { colour, number, font_family, gradient_axis, bevel, pattern };

struct MemberRule {
  std::string_view name;
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

// The longest member name ("pattern_spacing"): a longer name is unknown
// without being measured in full.
constexpr std::size_t kMaxMemberNameBytes = 15;

// A colour is at most 9 characters; reading one more tells a longer string
// apart without walking a 16 MiB one.
constexpr std::size_t kColourProbeBytes = 10;

// At most four member names share a length.
constexpr NameIndex<kMaxMemberNameBytes, 4> kRuleIndex(kMemberRules);

const MemberRule* find_rule(const char* name) { return kRuleIndex.find(kMemberRules, name); }

// Where parsing stores each member, by its index in kMemberRules: the
// colours first, then the numbers that the style keeps.
constexpr ColorValue RectStyle::*kColourFields[] = {
    &RectStyle::fill,       &RectStyle::foreground,  &RectStyle::border,       &RectStyle::fill_end,
    &RectStyle::border_end, &RectStyle::bevel_light, &RectStyle::bevel_dark,   &RectStyle::highlight,
    &RectStyle::inner_border, &RectStyle::glow,      &RectStyle::pattern_color, &RectStyle::shadow,
};
constexpr double RectStyle::*kNumberFields[] = {
    &RectStyle::radius,          &RectStyle::border_width, &RectStyle::glow_width, &RectStyle::bevel_width,
    &RectStyle::pattern_spacing, &RectStyle::shadow_blur,  &RectStyle::shadow_x,   &RectStyle::shadow_y,
};
constexpr std::size_t kFirstNumberRule = std::size(kColourFields);
constexpr std::size_t kGradientAxisRule = 22;
constexpr std::size_t kBevelRule = 23;
constexpr std::size_t kPatternRule = 24;
static_assert(std::string_view(kMemberRules[kFirstNumberRule].name) == "radius");
static_assert(std::string_view(kMemberRules[kFirstNumberRule + 7].name) == "shadow_y");
static_assert(std::string_view(kMemberRules[kGradientAxisRule].name) == "gradient_axis");
static_assert(std::string_view(kMemberRules[kBevelRule].name) == "bevel");
static_assert(std::string_view(kMemberRules[kPatternRule].name) == "pattern");

bool string_is_one_of(const cJSON* value, std::initializer_list<const char*> options) {
  if (!json::is_string(value) || value->valuestring == nullptr) return false;
  for (const char* option : options) {
    if (std::strcmp(value->valuestring, option) == 0) return true;
  }
  return false;
}

bool member_value_valid(const MemberRule& rule, const cJSON* value) {
  switch (rule.type) {
    case MemberType::colour: {
      // Empty, or a colour; anything longer than a colour is neither, so
      // the string limit needs no separate check.
      if (!json::is_string(value) || value->valuestring == nullptr) return false;
      const std::size_t length = strnlen(value->valuestring, kColourProbeBytes);
      return length == 0 || parse_color(std::string_view(value->valuestring, length)).present;
    }
    case MemberType::number:
      return json::is_number(value) && std::isfinite(value->valuedouble) && value->valuedouble >= rule.min &&
             value->valuedouble <= rule.max;
    case MemberType::font_family: return string_is_one_of(value, {"ui", "mono"});
    case MemberType::gradient_axis: return string_is_one_of(value, {"vertical", "horizontal"});
    case MemberType::bevel: return string_is_one_of(value, {"none", "raised", "sunken"});
    case MemberType::pattern: return string_is_one_of(value, {"none", "scanlines", "grid"});
  }
  return false;
}

// The rule of one member of a style object: a known name, not seen before
// (bit i of `seen` records member i of kMemberRules), with a scalar value;
// nullptr otherwise.
const MemberRule* scalar_member_rule(const cJSON* item, std::uint32_t& seen) {
  const MemberRule* rule = find_rule(item->string);
  if (rule == nullptr) return nullptr;
  const std::uint32_t bit = 1u << (rule - kMemberRules.data());
  if ((seen & bit) != 0) return nullptr;
  seen |= bit;
  if (!json::is_null(item) && !json::is_bool(item) && !json::is_number(item) &&
      !(json::is_string(item) && item->valuestring != nullptr)) {
    return nullptr;
  }
  return rule;
}

}  // namespace

bool style_names_acceptable(const cJSON* value) {
  if (!json::is_object(value)) return false;
  std::uint32_t seen = 0;
  for (const cJSON* item = value->child; item != nullptr; item = item->next) {
    if (scalar_member_rule(item, seen) == nullptr) return false;
  }
  return true;
}

bool is_style_colour_member(const char* name) {
  const MemberRule* rule = find_rule(name);
  return rule != nullptr && rule->type == MemberType::colour;
}

bool validate_rect_style(const cJSON* value) {
  // Names, duplicates, scalar types and values in one walk: each member's
  // rule is looked up once.
  if (!json::is_object(value)) return false;
  std::uint32_t seen = 0;
  for (const cJSON* item = value->child; item != nullptr; item = item->next) {
    const MemberRule* rule = scalar_member_rule(item, seen);
    if (rule == nullptr) return false;
    if (!json::is_null(item) && !member_value_valid(*rule, item)) return false;
  }
  return true;
}

RectStyle parse_rect_style(const cJSON* value) {
  RectStyle style;
  if (!json::is_object(value)) return style;
  // One walk over the members; as with a lookup by name, the first of two
  // equal names counts, and null or a value of another type leaves the default.
  std::uint32_t seen = 0;
  for (const cJSON* item = value->child; item != nullptr; item = item->next) {
    const MemberRule* rule = find_rule(item->string);
    if (rule == nullptr) continue;
    const std::size_t index = static_cast<std::size_t>(rule - kMemberRules.data());
    const std::uint32_t bit = 1u << index;
    if ((seen & bit) != 0) continue;
    seen |= bit;
    const bool is_string = json::is_string(item) && item->valuestring != nullptr;
    if (index < kFirstNumberRule) {
      if (is_string) style.*kColourFields[index] = parse_color(item->valuestring);
    } else if (index < kFirstNumberRule + std::size(kNumberFields)) {
      if (json::is_number(item)) style.*kNumberFields[index - kFirstNumberRule] = item->valuedouble;
    } else if (is_string) {
      const std::string_view text = item->valuestring;
      if (index == kGradientAxisRule) {
        style.gradient_axis = text == "horizontal" ? GradientAxis::horizontal : GradientAxis::vertical;
      } else if (index == kBevelRule) {
        style.bevel = text == "raised" ? Bevel::raised : text == "sunken" ? Bevel::sunken : Bevel::none;
      } else if (index == kPatternRule) {
        style.pattern = text == "scanlines" ? Pattern::scanlines : text == "grid" ? Pattern::grid : Pattern::none;
      }
    }
  }
  return style;
}

json::JsonPtr serialize_rect_style(const RectStyle& style) {
  json::JsonPtr object(cJSON_CreateObject());
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
