#include "window/scene/bounds.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "json/json_type.h"

namespace lumora::window {
namespace {

double scale_of(const BoundsContext& context) {
  // A scale that cannot be one (0, negative, NaN) reads as 1 rather than
  // dividing by it.
  return context.scale > 0 && std::isfinite(context.scale) ? context.scale : 1;
}

Rect rect_at(const Rect& rect, double x, double y) { return {x, y, rect.w, rect.h}; }

// Squares of half-width `pad` around every point, united.
template <typename ForEachPoint>
Rect points_bounds(double pad, ForEachPoint for_each_point) {
  Rect area;
  for_each_point([&](double x, double y) { area = unite_rects(area, {x - pad, y - pad, 2 * pad, 2 * pad}); });
  return area;
}

double number_or_zero(const cJSON* item) { return json::is_number(item) ? item->valuedouble : 0; }

Rect json_rect(const cJSON* item) {
  double values[4] = {0, 0, 0, 0};
  int index = 0;
  for (const cJSON* child = item->child; child != nullptr && index < 4; child = child->next) {
    values[index++] = number_or_zero(child);
  }
  return {values[0], values[1], values[2], values[3]};
}

// Shadow and glow may reach past the rect, within the effect clip when one
// is given, within nothing when it is null, and within the clip when it is
// left out.
Rect styled_bounds(const DrawCommand& command, const Rect& clip) {
  const scene::RectStyle& style = command.style;
  const double reach = std::max(style.shadow_blur, 1.5 * style.glow_width);
  const Rect& rect = command.rect;
  const Rect grown{rect.x - reach, rect.y - reach, std::max(0.0, rect.w + 2 * reach),
                   std::max(0.0, rect.h + 2 * reach)};
  const Rect shadow = rect_at(grown, grown.x + style.shadow_x, grown.y + style.shadow_y);
  Rect effect = unite_rects(grown, shadow);
  if (json::is_array(command.effect_clip)) {
    effect = intersect_rects(effect, json_rect(command.effect_clip));
  } else if (!json::is_null(command.effect_clip)) {
    effect = intersect_rects(effect, clip);
  }
  return unite_rects(effect, intersect_rects(rect, clip));
}

// Everything but the point lists and the kinds that ignore the clip.
Rect clipped_bounds(const DrawCommand& command, const Rect& clip, const BoundsContext& context) {
  const double s = scale_of(context);
  switch (command.kind) {
    case DrawKind::text: {
      double width = 0;
      double height = 0;
      if (context.measure_text == nullptr ||
          !context.measure_text(context.measure_context, command.text != nullptr ? command.text : "", command.c,
                                command.flag != 0, width, height)) {
        return clip;
      }
      const double pad = std::max(2 / s, 0.15 * command.c);
      return intersect_rects({command.a - pad, command.b - pad, std::max(0.0, width + 2 * pad),
                              std::max(0.0, height + 2 * pad)},
                             clip);
    }
    case DrawKind::line: {
      const double pad = std::max(1 / s, command.c);
      return intersect_rects({std::min(command.a, command.from) - pad, std::min(command.b, command.to) - pad,
                              std::fabs(command.from - command.a) + 2 * pad,
                              std::fabs(command.to - command.b) + 2 * pad},
                             clip);
    }
    case DrawKind::caret: return intersect_rects({command.a - 1 / s, command.b, 2 / s, command.c}, clip);
    case DrawKind::animated_rect: {
      Rect area = command.rect;
      const char* property = command.mode != nullptr ? command.mode : "";
      if (std::strcmp(property, "x") == 0) {
        area = unite_rects(area, rect_at(command.rect, command.from, command.rect.y));
        area = unite_rects(area, rect_at(command.rect, command.to, command.rect.y));
      } else if (std::strcmp(property, "y") == 0) {
        area = unite_rects(area, rect_at(command.rect, command.rect.x, command.from));
        area = unite_rects(area, rect_at(command.rect, command.rect.x, command.to));
      }
      return intersect_rects(area, clip);
    }
    default: return intersect_rects(command.rect, clip);
  }
}

}  // namespace

Rect command_bounds(const DrawCommand& command, const Rect& clip, const BoundsContext& context) {
  switch (command.kind) {
    case DrawKind::begin: return kUnclippedArea;
    case DrawKind::styled_rect:
    case DrawKind::marker: return styled_bounds(command, clip);
    case DrawKind::lines: {
      const double pad = std::max(1 / scale_of(context), command.a);
      return intersect_rects(points_bounds(pad,
                                           [&](auto add) {
                                             for (std::int32_t i = 0; i < command.point_count; ++i) {
                                               add(command.points[i].x, command.points[i].y);
                                             }
                                           }),
                             clip);
    }
    default: return clipped_bounds(command, clip, context);
  }
}

Rect command_bounds(const cJSON* command, const Rect& clip, const BoundsContext& context) {
  const DrawCommand decoded = decode_draw_command_fields(command);
  if (decoded.kind != DrawKind::lines) return command_bounds(decoded, clip, context);
  // The decoded fields carry no points: read them where they are.
  const cJSON* points = cJSON_GetArrayItem(command, 1);
  const double pad = std::max(1 / scale_of(context), decoded.a);
  return intersect_rects(points_bounds(pad,
                                       [&](auto add) {
                                         if (!json::is_array(points)) return;
                                         for (const cJSON* point = points->child; point != nullptr;
                                              point = point->next) {
                                           const cJSON* x = json::is_array(point) ? point->child : nullptr;
                                           const cJSON* y = x != nullptr ? x->next : nullptr;
                                           add(number_or_zero(x), number_or_zero(y));
                                         }
                                       }),
                         clip);
}

Rect list_bounds(std::span<const DrawCommand> list, const BoundsContext& context) {
  Rect area;
  Rect clip = kUnclippedArea;
  for (const DrawCommand& command : list) {
    if (command.kind == DrawKind::clip) {
      clip = command.flag != 0 ? kUnclippedArea : command.rect;
      continue;
    }
    if (command.kind == DrawKind::begin) clip = kUnclippedArea;
    area = unite_rects(area, command_bounds(command, clip, context));
  }
  return area;
}

Rect list_bounds(const cJSON* list, const BoundsContext& context) {
  Rect area;
  if (!json::is_array(list)) return area;
  Rect clip = kUnclippedArea;
  for (const cJSON* command = list->child; command != nullptr; command = command->next) {
    const scene::KindSchema* schema = scene::command_schema(command);
    const DrawKind kind = schema != nullptr ? draw_kind_of(schema->kind) : DrawKind::unknown;
    if (kind == DrawKind::clip) {
      const DrawCommand decoded = decode_draw_command_fields(command);
      clip = decoded.flag != 0 ? kUnclippedArea : decoded.rect;
      continue;
    }
    if (kind == DrawKind::begin) clip = kUnclippedArea;
    area = unite_rects(area, command_bounds(command, clip, context));
  }
  return area;
}

}  // namespace lumora::window
