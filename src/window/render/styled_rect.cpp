#include "window/render/styled_rect.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "window/render/geometry.h"
#include "window/render/soft_shadow.h"
#include "window/window_backend.h"

namespace lumora::window {

using scene::ColorValue;
using scene::RectStyle;

namespace {

constexpr ColorValue kDefaultBevelLight{255, 255, 255, 255, true};
constexpr ColorValue kDefaultBevelDark{64, 64, 64, 255, true};

bool drawable(ColorValue colour) { return colour.present && colour.a != 0; }

bool same_channels(ColorValue a, ColorValue b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

ColorValue with_alpha_scaled(ColorValue colour, double factor) {
  colour.a = static_cast<std::uint8_t>(round_half_even(colour.a * factor));
  return colour;
}

bool fill_plain(WindowBackend& backend, const Rect& rect, ColorValue colour) {
  return backend.draw_box(rect, colour, 0, ColorValue{}, 0);
}

// The fallback for shadows whose mask would be too large: rings from the
// faintest, outermost one inwards, then the solid core.
bool draw_shadow_rings(WindowBackend& backend, const Rect& rect, const PixelRect& shadow, std::int64_t radius,
                       std::int64_t blur, ColorValue colour, double dx, double dy) {
  const double s = backend.scale();
  const std::int64_t count = shadow_ring_count(blur);
  for (std::int64_t i = 0; i < count; ++i) {
    const ShadowRing ring = shadow_ring(blur, i, colour.a);
    if (ring.inner >= ring.outer || 2 * ring.outer + std::min(shadow.w, shadow.h) <= 0) continue;
    ColorValue tinted = colour;
    tinted.a = ring.alpha;
    const double o = static_cast<double>(ring.outer);
    const Rect ring_rect{(static_cast<double>(shadow.x) - o) / s, (static_cast<double>(shadow.y) - o) / s,
                         (static_cast<double>(shadow.w) + 2 * o) / s, (static_cast<double>(shadow.h) + 2 * o) / s};
    const double ring_radius = std::max(0.0, o + static_cast<double>(radius)) / s;
    if (!backend.draw_box(ring_rect, ColorValue{}, ring_radius, tinted, static_cast<double>(ring.outer - ring.inner) / s)) {
      return false;
    }
  }
  const double inset = static_cast<double>(blur) / s;
  const Rect core{rect.x + dx + inset, rect.y + dy + inset, std::max(0.0, rect.w - 2 * inset),
                  std::max(0.0, rect.h - 2 * inset)};
  if (core.w <= 0 || core.h <= 0) return true;
  return backend.draw_box(core, colour, static_cast<double>(std::max<std::int64_t>(0, radius - blur)) / s, ColorValue{}, 0);
}

bool draw_shadow_in_clip(WindowBackend& backend, const Rect& rect, double radius, ColorValue colour, double dx,
                         double dy, std::int64_t blur) {
  const double s = backend.scale();
  const PixelRect shadow{saturate_to_pixels(round_half_even(s * (rect.x + dx))),
                         saturate_to_pixels(round_half_even(s * (rect.y + dy))),
                         saturate_to_pixels(round_half_even(s * rect.w)), saturate_to_pixels(round_half_even(s * rect.h))};
  const PixelRect area{shadow.x - blur, shadow.y - blur, shadow.w + 2 * blur, shadow.h + 2 * blur};
  if (!backend.visible(area)) return true;
  const auto pixel_radius = saturate_to_pixels(round_half_even(s * radius));
  const ShadowPlan plan = plan_soft_shadow(area.w, area.h, pixel_radius, blur);
  if (plan.rings) return draw_shadow_rings(backend, rect, shadow, pixel_radius, blur, colour, dx, dy);
  TextureRef mask = backend.get_mask(plan.mask_w, plan.mask_h, static_cast<double>(pixel_radius), 0, static_cast<int>(blur));
  if (mask == nullptr) return false;
  if (!plan.sliced) return backend.draw_texture(mask, area, nullptr, colour);
  const double insets[4] = {static_cast<double>(plan.corner_x), static_cast<double>(plan.corner_y),
                            static_cast<double>(plan.corner_x), static_cast<double>(plan.corner_y)};
  return backend.draw_nine_slice(mask, area, insets, colour);
}

}  // namespace

EffectClip effect_clip_of(const cJSON* item) {
  EffectClip clip;
  if (item == nullptr) return clip;
  if (cJSON_IsNull(item)) {
    clip.kind = EffectClip::Kind::unclipped;
    return clip;
  }
  // Validation accepts only a rect here; anything else keeps the list's clip.
  if (!cJSON_IsArray(item) || cJSON_GetArraySize(item) != 4) return clip;
  double values[4];
  int index = 0;
  for (const cJSON* value = item->child; value != nullptr; value = value->next) {
    if (!cJSON_IsNumber(value)) return clip;
    values[index++] = value->valuedouble;
  }
  clip.kind = EffectClip::Kind::rect;
  clip.rect = Rect{values[0], values[1], values[2], values[3]};
  return clip;
}

bool draw_soft_shadow(WindowBackend& backend, const Rect& rect, double radius, ColorValue colour, double blur,
                      double dx, double dy, const EffectClip& clip) {
  if (!drawable(colour)) return true;
  const auto blur_pixels = saturate_to_pixels(std::ceil(backend.scale() * blur));
  const PixelRect* applied = backend.applied_clip();
  const bool had_clip = applied != nullptr;
  const PixelRect remembered = had_clip ? *applied : PixelRect{};
  bool ok = true;
  if (clip.kind == EffectClip::Kind::unclipped) {
    ok = backend.apply_clip(nullptr);
  } else if (clip.kind == EffectClip::Kind::rect) {
    const PixelRect effect = clip_rect_of(clip.rect, backend.scale());
    ok = backend.apply_clip(&effect);
  }
  if (ok) ok = draw_shadow_in_clip(backend, rect, radius, colour, dx, dy, std::max<std::int64_t>(0, blur_pixels));
  const bool restored = backend.apply_clip(had_clip ? &remembered : nullptr);
  return ok && restored;
}

bool draw_styled_rect(WindowBackend& backend, const Rect& rect, const RectStyle& style, const EffectClip& clip) {
  const double x = rect.x, y = rect.y, w = rect.w, h = rect.h;
  if (!(w > 0) || !(h > 0)) return true;
  const double half = std::min(w, h) * 0.5;
  const double r = std::min(style.radius, half);
  const double bw = style.border_width;
  const double g = std::min(style.glow_width, half);
  const double a = std::max({bw, r, 2.0});
  const double cw = std::max(0.0, w - 2 * a);
  const double ch = std::max(0.0, h - 2 * a);
  const bool horizontal = style.gradient_axis == scene::GradientAxis::horizontal;

  if (!draw_soft_shadow(backend, rect, r, style.shadow, style.shadow_blur, style.shadow_x, style.shadow_y, clip)) {
    return false;
  }
  if (g > 0 && !draw_soft_shadow(backend, rect, r, with_alpha_scaled(style.glow, kOuterGlowAlpha), 1.5 * g, 0, 0, clip)) {
    return false;
  }
  if (style.fill.present) {
    const bool plain = !style.fill_end.present || same_channels(style.fill, style.fill_end);
    const bool ok = plain ? backend.draw_box(rect, style.fill, r, ColorValue{}, 0)
                          : backend.draw_gradient(rect, style.fill, style.fill_end, horizontal, r, 0);
    if (!ok) return false;
  }
  if (style.pattern != scene::Pattern::none && style.pattern_color.present) {
    const double p = std::max(2.0, style.pattern_spacing);
    const auto line_count = [p](double extent) {
      return static_cast<int>(std::min(static_cast<double>(kMaxPatternLines), std::max(0.0, std::ceil(extent / p))));
    };
    for (int j = 0, n = line_count(ch); j < n; ++j) {
      if (!fill_plain(backend, Rect{x + a, y + a + j * p, cw, 1}, style.pattern_color)) return false;
    }
    if (style.pattern == scene::Pattern::grid) {
      for (int j = 0, n = line_count(cw); j < n; ++j) {
        if (!fill_plain(backend, Rect{x + a + j * p, y + a, 1, ch}, style.pattern_color)) return false;
      }
    }
  }
  if (g > 0) {
    const ColorValue inner_glow = with_alpha_scaled(style.glow, kInnerGlowAlpha);
    const Rect inside{x + bw, y + bw, std::max(0.0, w - 2 * bw), std::max(0.0, h - 2 * bw)};
    const double inside_radius = std::max(0.0, r - bw);
    // Overlapping strokes from the widest inwards: densest at the edge.
    for (int n = 4; n >= 1; --n) {
      if (!backend.draw_box(inside, ColorValue{}, inside_radius, inner_glow, n * g * 0.25)) return false;
    }
  }
  if (style.border.present && bw > 0) {
    const bool plain = !style.border_end.present || same_channels(style.border, style.border_end);
    const bool ok = plain ? backend.draw_box(rect, ColorValue{}, r, style.border, bw)
                          : backend.draw_gradient(rect, style.border, style.border_end, horizontal, r, bw);
    if (!ok) return false;
  }
  if (style.inner_border.present) {
    const double k = bw + 3;
    const Rect inner{x + k, y + k, std::max(0.0, w - 2 * k), std::max(0.0, h - 2 * k)};
    if (!backend.draw_box(inner, ColorValue{}, std::max(0.0, r - k), style.inner_border, 1)) return false;
  }
  if (style.bevel != scene::Bevel::none) {
    const double t = std::min(style.bevel_width, half);
    const double iw = std::max(0.0, w - 2 * r);
    const double ih = std::max(0.0, h - 2 * r);
    const ColorValue light = style.bevel_light.present ? style.bevel_light : kDefaultBevelLight;
    const ColorValue dark = style.bevel_dark.present ? style.bevel_dark : kDefaultBevelDark;
    const bool raised = style.bevel == scene::Bevel::raised;
    const ColorValue lit = raised ? light : dark;
    const ColorValue shaded = raised ? dark : light;
    if (!fill_plain(backend, Rect{x + r, y + r, iw, t}, lit) || !fill_plain(backend, Rect{x + r, y + r, t, ih}, lit) ||
        !fill_plain(backend, Rect{x + r, y + r + ih - t, iw, t}, shaded) ||
        !fill_plain(backend, Rect{x + r + iw - t, y + r, t, ih}, shaded)) {
      return false;
    }
  }
  if (style.highlight.present && cw > 0) {
    if (!fill_plain(backend, Rect{x + a, y + std::max(2.0, bw), cw, 1}, style.highlight)) return false;
  }
  return true;
}

bool draw_marker(WindowBackend& backend, const Rect& rect, const RectStyle& style, const char* shape, bool checked,
                 const EffectClip& clip) {
  const double d = std::min(rect.w, rect.h);
  const bool circle = shape != nullptr && std::strcmp(shape, "circle") == 0;
  RectStyle drawn = style;
  if (circle) drawn.radius = d * 0.5;
  if (!draw_styled_rect(backend, rect, drawn, clip)) return false;
  // A mark shrinks with its box; without one it would still leave the
  // one-pixel dot of a zero-length line.
  if (!checked || !(d > 0)) return true;
  const double x = rect.x, y = rect.y;
  if (circle) {
    const Rect dot{x + 0.3 * d, y + 0.3 * d, std::max(0.0, rect.w - 0.6 * d), std::max(0.0, rect.h - 0.6 * d)};
    return backend.draw_box(dot, style.foreground, 0.2 * d, ColorValue{}, 0);
  }
  // A check mark on a grid of 24 units across the smaller side.
  const double u = d / 24;
  const double width = std::max(1.0, 1.7 * u);
  return backend.draw_line(x + 4 * u, y + 12 * u, x + 9 * u, y + 17 * u, style.foreground, width) &&
         backend.draw_line(x + 9 * u, y + 17 * u, x + 20 * u, y + 6 * u, style.foreground, width);
}

}  // namespace lumora::window
