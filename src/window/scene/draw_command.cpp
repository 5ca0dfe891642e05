#include "window/scene/draw_command.h"

#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <type_traits>

#include "json/json_type.h"

namespace lumora::window {
namespace {

static_assert(std::is_trivially_destructible_v<DrawCommand>, "records are released without running destructors");

// The decoded kind numbers are the schema's; "icon" is the only schema kind
// past them.
static_assert(static_cast<int>(DrawKind::animated_rect) == static_cast<int>(scene::CommandKind::animated_rect));
static_assert(static_cast<int>(DrawKind::lines) == static_cast<int>(scene::CommandKind::lines));
static_assert(static_cast<int>(scene::CommandKind::icon) == static_cast<int>(DrawKind::animated_rect) + 1);

// A colour is at most 9 characters; reading one more tells a longer string
// apart without walking all of it.
constexpr std::size_t kColourProbeBytes = 10;

// The items of one command, kind included; missing ones are null.
struct Items {
  const cJSON* at[scene::kMaxCommandItems] = {};
};

Items items_of(const cJSON* command) {
  Items items;
  int index = 0;
  for (const cJSON* item = command->child; item != nullptr && index < scene::kMaxCommandItems; item = item->next) {
    items.at[index++] = item;
  }
  return items;
}

double number_of(const cJSON* item, double fallback) {
  return json::is_number(item) ? item->valuedouble : fallback;
}

bool bool_of(const cJSON* item) { return json::is_true(item); }

const char* string_of(const cJSON* item, const char* fallback) {
  return json::is_string(item) && item->valuestring != nullptr ? item->valuestring : fallback;
}

scene::ColorValue colour_of(const cJSON* item) {
  if (!json::is_string(item) || item->valuestring == nullptr) return {};
  return scene::parse_color(std::string_view(item->valuestring, strnlen(item->valuestring, kColourProbeBytes)));
}

// Up to `count` numbers of an array item; a missing or non-number one reads 0.
void numbers_of(const cJSON* item, double* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = 0;
  if (!json::is_array(item)) return;
  int index = 0;
  for (const cJSON* child = item->child; child != nullptr && index < count; child = child->next, ++index) {
    values[index] = number_of(child, 0);
  }
}

Rect rect_of(const cJSON* item) {
  double values[4];
  numbers_of(item, values, 4);
  return {values[0], values[1], values[2], values[3]};
}

// A sprite count truncated to an integer; the default when it is not a
// number an int can hold (validation allows 1..8192).
std::int32_t count_of(const cJSON* item) {
  const double value = number_of(item, 1);
  if (!(value > std::numeric_limits<std::int32_t>::min() && value < std::numeric_limits<std::int32_t>::max())) {
    return 1;
  }
  return static_cast<std::int32_t>(value);
}

std::size_t point_count_of(const cJSON* points) {
  if (!json::is_array(points)) return 0;
  std::size_t count = 0;
  for (const cJSON* point = points->child; point != nullptr; point = point->next) ++count;
  return count;
}

void* default_allocate(std::size_t bytes) { return ::operator new(bytes, std::nothrow); }

// Fills the fields of `out` (already initialised) from one command. Only a
// point list allocates, and only with an `allocate`; false when that
// allocation fails.
bool decode_one(const cJSON* command, DrawCommand& out, void* (*allocate)(std::size_t)) {
  const scene::KindSchema* schema = scene::command_schema(command);
  if (schema == nullptr) return true;
  out.kind = draw_kind_of(schema->kind);
  const Items items = items_of(command);
  const cJSON* const* item = items.at;
  switch (out.kind) {
    case DrawKind::unknown:
    case DrawKind::icon:  // never decoded: draw_kind_of maps it to unknown
      break;
    case DrawKind::begin: out.color = colour_of(item[1]); break;
    case DrawKind::clip:
      if (item[1] == nullptr || json::is_null(item[1])) {
        out.flag = 1;
      } else {
        out.rect = rect_of(item[1]);
      }
      break;
    case DrawKind::rect:
      out.rect = rect_of(item[1]);
      out.color = colour_of(item[2]);
      out.a = number_of(item[3], 0);
      out.color2 = colour_of(item[4]);
      out.b = number_of(item[5], 0);
      break;
    case DrawKind::text:
      out.text = string_of(item[1], "");
      out.a = number_of(item[2], 0);
      out.b = number_of(item[3], 0);
      out.color = colour_of(item[4]);
      out.c = number_of(item[5], 14);
      out.flag = bool_of(item[6]);
      break;
    case DrawKind::line:
      out.a = number_of(item[1], 0);
      out.b = number_of(item[2], 0);
      out.from = number_of(item[3], 0);
      out.to = number_of(item[4], 0);
      out.color = colour_of(item[5]);
      out.c = number_of(item[6], 1);
      break;
    case DrawKind::lines: {
      out.flag = schema->name == "segments";
      out.color = colour_of(item[2]);
      out.a = number_of(item[3], 1);
      const std::size_t count = point_count_of(item[1]);
      if (count == 0 || allocate == nullptr) break;
      // Validation allows 200000 points; a larger list cannot even be held
      // in memory as JSON before the count overflows.
      if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
      auto* points = static_cast<Point*>(allocate(count * sizeof(Point)));
      if (points == nullptr) return false;
      std::size_t index = 0;
      for (const cJSON* point = item[1]->child; point != nullptr; point = point->next, ++index) {
        double xy[2];
        numbers_of(point, xy, 2);
        new (&points[index]) Point{xy[0], xy[1]};
      }
      out.points = points;
      out.point_count = static_cast<std::int32_t>(count);
      break;
    }
    case DrawKind::image:
      out.text = string_of(item[1], "");
      out.rect = rect_of(item[2]);
      out.color = colour_of(item[3]);
      out.mode = string_of(item[4], "stretch");
      break;
    case DrawKind::image_nine:
      out.text = string_of(item[1], "");
      out.rect = rect_of(item[2]);
      numbers_of(item[3], out.insets, 4);
      out.color = colour_of(item[4]);
      break;
    case DrawKind::gradient_rect:
      out.rect = rect_of(item[1]);
      out.color = colour_of(item[2]);
      out.color2 = colour_of(item[3]);
      out.flag = std::strcmp(string_of(item[4], ""), "horizontal") == 0;
      out.a = number_of(item[5], 0);
      out.b = number_of(item[6], 0);
      break;
    case DrawKind::styled_rect:
      out.rect = rect_of(item[1]);
      out.style = scene::parse_rect_style(item[2]);
      out.effect_clip = item[3];
      break;
    case DrawKind::marker:
      out.rect = rect_of(item[1]);
      out.style = scene::parse_rect_style(item[2]);
      out.mode = string_of(item[3], "square");
      out.flag = bool_of(item[4]);
      out.effect_clip = item[5];
      break;
    case DrawKind::caret:
      out.a = number_of(item[1], 0);
      out.b = number_of(item[2], 0);
      out.c = number_of(item[3], 0);
      out.color = colour_of(item[4]);
      break;
    case DrawKind::focus_ring:
      out.rect = rect_of(item[1]);
      out.color = colour_of(item[2]);
      out.a = number_of(item[3], 0);
      break;
    case DrawKind::sprite:
      out.text = string_of(item[1], "");
      out.rect = rect_of(item[2]);
      out.frame_width = count_of(item[3]);
      out.frame_height = count_of(item[4]);
      out.frame_count = count_of(item[5]);
      out.a = number_of(item[6], 1);
      out.flag = bool_of(item[7]);
      out.color = colour_of(item[8]);
      break;
    case DrawKind::animated_rect: {
      out.rect = rect_of(item[1]);
      out.color = colour_of(item[2]);
      out.a = number_of(item[3], 0);
      out.color2 = colour_of(item[4]);
      out.b = number_of(item[5], 0);
      const cJSON* animation = json::is_object(item[6]) ? item[6] : nullptr;
      out.mode = string_of(cJSON_GetObjectItemCaseSensitive(animation, "property"), "x");
      out.from = number_of(cJSON_GetObjectItemCaseSensitive(animation, "from"), 0);
      out.to = number_of(cJSON_GetObjectItemCaseSensitive(animation, "to"), 1);
      out.duration = number_of(cJSON_GetObjectItemCaseSensitive(animation, "duration"), 1);
      out.flag = bool_of(cJSON_GetObjectItemCaseSensitive(animation, "loop"));
      out.yoyo = bool_of(cJSON_GetObjectItemCaseSensitive(animation, "yoyo"));
      break;
    }
  }
  return true;
}

}  // namespace

DrawKind draw_kind_of(scene::CommandKind kind) {
  return kind > scene::CommandKind::unknown && kind < scene::CommandKind::icon ? static_cast<DrawKind>(kind)
                                                                              : DrawKind::unknown;
}

DrawCommand decode_draw_command_fields(const cJSON* command) {
  DrawCommand decoded;
  decode_one(command, decoded, nullptr);
  return decoded;
}

void DecodedList::swap(DecodedList& other) noexcept {
  std::swap(commands_, other.commands_);
  std::swap(count_, other.count_);
  std::swap(point_total_, other.point_total_);
}

void DecodedList::release() noexcept {
  // Only records with points own an array; a list without any (most of
  // them) is freed without reading its records again.
  if (commands_ != nullptr) {
    for (std::size_t i = 0; i < count_ && point_total_ > 0; ++i) {
      if (commands_[i].points != nullptr) ::operator delete(const_cast<Point*>(commands_[i].points));
    }
    ::operator delete(commands_);
  }
  commands_ = nullptr;
  count_ = 0;
  point_total_ = 0;
}

bool decode_draw_commands(const cJSON* list, DecodedList& out, void* (*allocate)(std::size_t)) {
  std::size_t count = 0;
  if (json::is_array(list)) {
    for (const cJSON* command = list->child; command != nullptr; command = command->next) ++count;
  }
  return decode_draw_commands(list, count, out, allocate);
}

bool decode_draw_commands(const cJSON* list, std::size_t count, DecodedList& out, void* (*allocate)(std::size_t)) {
  if (allocate == nullptr) allocate = default_allocate;
  DecodedList decoded;
  const cJSON* first = json::is_array(list) ? list->child : nullptr;
  if (count == 0 || first == nullptr) {
    out.swap(decoded);
    return true;
  }
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(DrawCommand)) return false;
  auto* commands = static_cast<DrawCommand*>(allocate(count * sizeof(DrawCommand)));
  if (commands == nullptr) return false;
  decoded.commands_ = commands;
  // Each record is initialised just before it is decoded, while it is in
  // the cache, and counted once it is, so that releasing a partly decoded
  // list only ever frees point arrays that exist. A list shorter than
  // `count` keeps the records it has; a longer one is read up to `count`.
  std::size_t index = 0;
  for (const cJSON* command = first; command != nullptr && index < count; command = command->next, ++index) {
    DrawCommand* record = new (&commands[index]) DrawCommand();
    decoded.count_ = index + 1;
    if (!decode_one(command, *record, allocate)) return false;  // `decoded` frees what was made
    decoded.point_total_ += static_cast<std::uint64_t>(record->point_count);
  }
  out.swap(decoded);
  return true;
}

}  // namespace lumora::window
