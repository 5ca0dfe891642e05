#include "scene/draw_validation.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "json/json_type.h"
#include "scene/colour.h"
#include "scene/command_schema.h"
#include "scene/scene_format.h"
#include "scene/style.h"

namespace lumora::scene {
namespace {

// A colour is at most 9 characters; reading one more tells a longer string
// apart without walking a 16 MiB one.
constexpr std::size_t kColourProbeBytes = 10;

bool number_in(const cJSON* item, double min, double max) {
  return json::is_number(item) && std::isfinite(item->valuedouble) && item->valuedouble >= min &&
         item->valuedouble <= max;
}

bool coordinate(const cJSON* item) { return number_in(item, -kMaxSceneCoordinate, kMaxSceneCoordinate); }
bool extent(const cJSON* item) { return number_in(item, 0, kMaxSceneCoordinate); }

bool integer_in(const cJSON* item, double min, double max) {
  return number_in(item, min, max) && std::floor(item->valuedouble) == item->valuedouble;
}

const char* string_value(const cJSON* item) {
  return json::is_string(item) ? item->valuestring : nullptr;
}

bool bounded_string(const cJSON* item) {
  const char* text = string_value(item);
  return text != nullptr && strnlen(text, kMaxStringBytes + 1) <= kMaxStringBytes;
}

// Colours are shorter than the string limit, so parsing decides alone.
bool colour(const cJSON* item) {
  const char* text = string_value(item);
  return text != nullptr && parse_color(std::string_view(text, strnlen(text, kColourProbeBytes))).present;
}

bool optional_colour(const cJSON* item) {
  if (json::is_null(item)) return true;
  const char* text = string_value(item);
  return text != nullptr && (text[0] == '\0' || colour(item));
}

bool one_of(const cJSON* item, std::initializer_list<const char*> options) {
  const char* text = string_value(item);
  if (text == nullptr) return false;
  for (const char* option : options) {
    if (std::strcmp(text, option) == 0) return true;
  }
  return false;
}

bool rect(const cJSON* item) {
  if (!json::is_array(item)) return false;
  int index = 0;
  for (const cJSON* value = item->child; value != nullptr; value = value->next, ++index) {
    if (index == 4) return false;
    if (!(index < 2 ? coordinate(value) : extent(value))) return false;
  }
  return index == 4;
}

bool point_list(const cJSON* item, bool even) {
  if (!json::is_array(item)) return false;
  std::uint64_t count = 0;
  for (const cJSON* point = item->child; point != nullptr; point = point->next) {
    if (++count > kMaxCommandPoints) return false;
    if (!json::is_array(point)) return false;
    const cJSON* x = point->child;
    const cJSON* y = x == nullptr ? nullptr : x->next;
    if (!coordinate(x) || !coordinate(y) || y->next != nullptr) return false;
  }
  return !even || count % 2 == 0;
}

bool insets(const cJSON* item) {
  if (!json::is_array(item)) return false;
  int index = 0;
  for (const cJSON* value = item->child; value != nullptr; value = value->next, ++index) {
    if (index == 4 || !number_in(value, 0, kMaxInset)) return false;
  }
  return index == 4;
}

// The animation object of "animated_rect".
bool animation(const cJSON* item) {
  if (!json::is_object(item)) return false;
  static constexpr const char* kMembers[] = {"property", "from", "to", "duration", "loop", "yoyo"};
  const cJSON* found[6] = {};
  for (const cJSON* member = item->child; member != nullptr; member = member->next) {
    if (member->string == nullptr) return false;
    int slot = -1;
    for (int i = 0; i < 6; ++i) {
      if (std::strcmp(member->string, kMembers[i]) == 0) slot = i;
    }
    if (slot < 0 || found[slot] != nullptr) return false;
    if (!json::is_null(member) && !json::is_bool(member) && !json::is_number(member) &&
        string_value(member) == nullptr) {
      return false;
    }
    found[slot] = member;
  }
  // "loop" and "yoyo" may be left out, but when given must be bools.
  return one_of(found[0], {"x", "y", "opacity"}) && coordinate(found[1]) && coordinate(found[2]) &&
         number_in(found[3], kMinAnimationSeconds, kMaxAnimationSeconds) &&
         (found[4] == nullptr || json::is_bool(found[4])) && (found[5] == nullptr || json::is_bool(found[5]));
}

bool item_valid(ItemType type, const cJSON* item) {
  switch (type) {
    case ItemType::coordinate: return coordinate(item);
    case ItemType::extent: return extent(item);
    case ItemType::rect: return rect(item);
    case ItemType::rect_or_null:
    case ItemType::optional_rect: return json::is_null(item) || rect(item);
    case ItemType::point_list: return point_list(item, false);
    case ItemType::even_point_list: return point_list(item, true);
    case ItemType::colour: return colour(item);
    case ItemType::optional_colour: return optional_colour(item);
    case ItemType::text:
    case ItemType::source: return bounded_string(item);
    case ItemType::boolean: return json::is_bool(item);
    case ItemType::text_size: return number_in(item, kMinTextSize, kMaxTextSize);
    case ItemType::fit: return one_of(item, {"stretch", "contain", "cover"});
    case ItemType::axis: return one_of(item, {"vertical", "horizontal"});
    case ItemType::insets: return insets(item);
    case ItemType::style: return validate_rect_style(item);
    case ItemType::shape: return one_of(item, {"square", "circle"});
    case ItemType::frame_extent: return integer_in(item, 1, kMaxFrameExtent);
    case ItemType::frame_count: return integer_in(item, 1, kMaxFrameCount);
    case ItemType::frames_per_second: return number_in(item, kMinFramesPerSecond, kMaxFramesPerSecond);
    case ItemType::animation: return animation(item);
    case ItemType::icon_name: return false;  // the window draws no icons
  }
  return false;
}

}  // namespace

bool validate_draw_command(const cJSON* command) {
  const KindSchema* schema = command_schema(command);
  if (schema == nullptr || (schema->backends & kWindowBackend) == 0) return false;
  // One walk: each item is checked as it is reached, and a command with
  // more items than its kind takes stops at the first extra one.
  int count = 1;  // the kind, which command_schema has read
  for (const cJSON* item = command->child->next; item != nullptr; item = item->next, ++count) {
    if (count == schema->max_items || !item_valid(schema->items[count - 1], item)) return false;
  }
  return count >= schema->min_items;
}

void report_invalid_draw_command(ErrorText error, std::size_t index, const cJSON* command) {
  const cJSON* first = json::is_array(command) ? command->child : nullptr;
  const char* kind = json::is_string(first) && first->valuestring != nullptr ? first->valuestring : "";
  // The kind may be a 16 MiB string: read only what the buffer can show.
  const std::size_t shown = utf8_prefix_length(std::string_view(kind, strnlen(kind, error.capacity() + 1)),
                                               error.capacity());
  error.format("Invalid draw command at index %d (%.*s)", static_cast<int>(index), static_cast<int>(shown), kind);
}

}  // namespace lumora::scene
