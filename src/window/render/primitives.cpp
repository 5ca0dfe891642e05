// Primitive drawing with the SDL 2D renderer: clips, rectangles with rounded
// corners and borders, thin and thick lines, textures and nine-slices,
// gradients, images and multi-line text. Every shape passes the visibility
// test before any SDL call, so that nothing outside the clip costs work.
#include <algorithm>
#include <cmath>

#include "scene/blend.h"
#include "window/render/coverage_mask.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

using scene::ColorValue;

constexpr int kMaxGradientBands = 96;

bool drawable(ColorValue colour) { return colour.present && colour.a != 0; }

}  // namespace

bool WindowBackend::apply_clip(const PixelRect* clip) {
  // While damage is redrawn nothing may paint outside the damaged pixels.
  PixelRect damaged;
  if (damage_clip_active_) {
    damaged = clip == nullptr ? damage_clip_ : intersect(*clip, damage_clip_);
    clip = &damaged;
  }
  return canvas_.set_clip(clip);
}

bool WindowBackend::visible(const PixelRect& rect) const { return canvas_.visible(rect); }

bool WindowBackend::fill_rect(double x, double y, double w, double h, ColorValue colour) {
  return canvas_.fill(x, y, w, h, colour);
}

bool WindowBackend::draw_box(const Rect& rect, ColorValue fill, double radius, ColorValue border, double border_width) {
  const PixelRect p = pixel_rect_of(rect, scale_);
  if (!visible(p)) return true;
  // Shapes far outside the drawable are cut to it (plus a margin for the
  // rounded edge) so that pixel sizes stay within what SDL takes.
  const bool has_border = border.present && border_width > 0;
  if (radius > 0) {
    if (!draw_rounded(p, scale_ * radius, 0, fill)) return false;
    return !has_border || draw_rounded(p, scale_ * radius, scale_ * border_width, border);
  }
  const auto px = static_cast<double>(p.x), py = static_cast<double>(p.y);
  const auto pw = static_cast<double>(p.w), ph = static_cast<double>(p.h);
  if (!fill_rect(px, py, pw, ph, fill)) return false;
  if (!has_border) return true;
  const double b = round_half_even(border_width * scale_);
  const double m = std::min(pw, ph);
  const double t = std::min(std::max(1.0, b), std::ceil(m * 0.5));
  if (m <= 2 * t) return fill_rect(px, py, pw, ph, border);
  return fill_rect(px, py, pw, t, border) && fill_rect(px, py + ph - t, pw, t, border) &&
         fill_rect(px, py + t, t, ph - 2 * t, border) && fill_rect(px + pw - t, py + t, t, ph - 2 * t, border);
}

bool WindowBackend::draw_rounded(const PixelRect& p, double radius, double ring, ColorValue colour) {
  if (!drawable(colour) || !visible(p)) return true;
  const RoundedPlan plan = plan_rounded(p.w, p.h, radius, ring);
  if (plan.scanlines) {
    std::int64_t first = std::max<std::int64_t>(0, p.y);
    std::int64_t last = std::min<std::int64_t>(pixel_h_, p.y + p.h);
    if (const PixelRect* clip = canvas_.clip()) {
      first = std::max(first, clip->y);
      last = std::min(last, clip->y + clip->h);
    }
    for (std::int64_t row = first; row < last; ++row) {
      const ScanlinePieces pieces = scanline_pieces(p.w, p.h, plan.radius, plan.ring, row - p.y);
      for (int i = 0; i < pieces.count; ++i) {
        if (!fill_rect(static_cast<double>(p.x + pieces.x[i]), static_cast<double>(row),
                       static_cast<double>(pieces.w[i]), 1, colour)) {
          return false;
        }
      }
    }
    return true;
  }
  const CornerPlan corners = plan_corners(p.w, p.h, plan);
  if (corners.usable && fast_shapes_) return draw_rounded_by_corners(p, plan, corners, colour);
  TextureRef mask = get_mask(plan.mask_w, plan.mask_h, plan.radius, plan.ring, -1);
  if (mask == nullptr) return false;
  if (plan.sliced) {
    const double insets[4] = {static_cast<double>(plan.corner_x), static_cast<double>(plan.corner_y),
                              static_cast<double>(plan.corner_x), static_cast<double>(plan.corner_y)};
    return draw_nine_slice(mask, p, insets, colour);
  }
  return draw_texture(mask, p, nullptr, colour);
}

// Four corner pieces from a small cached mask, and plain fills for the
// rest: the straight edges of a ring are a few one-pixel fills, a filled
// interior one opaque fill, instead of blending a mask over every pixel.
bool WindowBackend::draw_rounded_by_corners(const PixelRect& p, const RoundedPlan& plan, const CornerPlan& corners,
                                            ColorValue colour) {
  const std::int64_t c = corners.corner, side = corners.mask_side;
  TextureRef mask = get_mask(side, side, plan.radius, plan.ring, -1);
  if (mask == nullptr) return false;
  const int ci = static_cast<int>(c);
  const SDL_Rect pieces[4] = {{0, 0, ci, ci}, {ci + 1, 0, ci, ci}, {0, ci + 1, ci, ci}, {ci + 1, ci + 1, ci, ci}};
  const PixelRect places[4] = {{p.x, p.y, c, c}, {p.x + p.w - c, p.y, c, c}, {p.x, p.y + p.h - c, c, c},
                               {p.x + p.w - c, p.y + p.h - c, c, c}};
  for (int i = 0; i < 4; ++i) {
    if (visible(places[i]) && !draw_texture(mask, places[i], &pieces[i], colour)) return false;
  }
  band_alphas_.resize(static_cast<std::size_t>(c) + 1);
  band_alphas(corners, plan, band_alphas_.data());
  return for_each_straight_fill(p.w, p.h, c, band_alphas_.data(),
                                [&](std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, std::uint8_t alpha) {
                                  // The alpha a tinted mask texel would have.
                                  ColorValue shade = colour;
                                  shade.a = static_cast<std::uint8_t>(unsigned{alpha} * colour.a / 255);
                                  return canvas_.fill(PixelRect{p.x + x, p.y + y, w, h}, shade);
                                });
}

bool WindowBackend::draw_line(double x1, double y1, double x2, double y2, ColorValue colour, double width) {
  if (!(width > 0) || !drawable(colour)) return true;
  x1 *= scale_;
  y1 *= scale_;
  x2 *= scale_;
  y2 *= scale_;
  const double t = std::max(1.0, scale_ * width);
  if (t <= 1) {
    const PixelPoint ends[2] = {{x1, y1}, {x2, y2}};
    return canvas_.thin_lines(ends, colour);
  }
  const double length = std::hypot(x2 - x1, y2 - y1);
  if (length == 0) {
    const double side = std::ceil(t);
    return fill_rect(round_half_even(x1 - t / 2), round_half_even(y1 - t / 2), side, side, colour);
  }
  const double nx = (y2 - y1) * t / (2 * length);
  const double ny = (x1 - x2) * t / (2 * length);
  const PixelPoint corners[4] = {{x1 + nx, y1 + ny}, {x2 + nx, y2 + ny}, {x2 - nx, y2 - ny}, {x1 - nx, y1 - ny}};
  return canvas_.quads(corners, colour);
}

bool WindowBackend::draw_texture(TextureRef texture, const PixelRect& destination, const SDL_Rect* source,
                                 ColorValue colour) {
  return canvas_.copy(TextureView{texture->texture.get(), texture->width, texture->height}, source, destination,
                      colour);
}

bool WindowBackend::draw_nine_slice(TextureRef texture, const PixelRect& d, const double insets[4], ColorValue colour) {
  // Source rectangles are whole texels in SDL2; insets are rounded to them.
  const auto l = static_cast<std::int64_t>(round_half_even(insets[0]));
  const auto t = static_cast<std::int64_t>(round_half_even(insets[1]));
  const auto r = static_cast<std::int64_t>(round_half_even(insets[2]));
  const auto b = static_cast<std::int64_t>(round_half_even(insets[3]));
  const std::int64_t tw = texture->width, th = texture->height;
  const std::int64_t sx[4] = {0, l, tw - r, tw};
  const std::int64_t sy[4] = {0, t, th - b, th};
  const std::int64_t dx[4] = {d.x, d.x + l, d.x + d.w - r, d.x + d.w};
  const std::int64_t dy[4] = {d.y, d.y + t, d.y + d.h - b, d.y + d.h};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const std::int64_t sw = sx[column + 1] - sx[column], sh = sy[row + 1] - sy[row];
      const std::int64_t dw = dx[column + 1] - dx[column], dh = dy[row + 1] - dy[row];
      if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
      const SDL_Rect source{static_cast<int>(sx[column]), static_cast<int>(sy[row]), static_cast<int>(sw),
                            static_cast<int>(sh)};
      if (!draw_texture(texture, PixelRect{dx[column], dy[row], dw, dh}, &source, colour)) return false;
    }
  }
  return true;
}

bool WindowBackend::draw_gradient(const Rect& rect, ColorValue c0, ColorValue c1, bool horizontal, double radius,
                                  double border_width) {
  const bool had_clip = canvas_.clip() != nullptr;
  const PixelRect remembered = had_clip ? *canvas_.clip() : PixelRect{};
  const PixelRect area = had_clip ? remembered : PixelRect{0, 0, pixel_w_, pixel_h_};
  const double start = horizontal ? rect.x : rect.y;
  const double extent = horizontal ? rect.w : rect.h;
  const auto a = saturate_to_pixels(std::floor(scale_ * start));
  const auto n = saturate_to_pixels(std::ceil(scale_ * (start + extent))) - a;
  if (!visible(pixel_rect_of(rect, scale_))) return true;
  const std::int64_t bands = std::min<std::int64_t>(kMaxGradientBands, n);
  if (bands <= 0) return true;
  bool ok = true;
  for (std::int64_t i = 0; i < bands && ok; ++i) {
    const ColorValue colour = scene::mix_color(c0, c1, static_cast<double>(i) / static_cast<double>(std::max<std::int64_t>(1, bands - 1)));
    PixelRect band = area;
    const std::int64_t from = a + i * n / bands;
    const std::int64_t to = a + (i + 1) * n / bands;
    if (horizontal) {
      band.x = from;
      band.w = to - from;
    } else {
      band.y = from;
      band.h = to - from;
    }
    band = intersect(band, area);
    if (band.empty()) continue;
    ok = apply_clip(&band);
    if (ok) {
      ok = border_width <= 0 ? draw_box(rect, colour, radius, ColorValue{}, 0)
                             : draw_box(rect, ColorValue{}, radius, colour, border_width);
    }
  }
  const bool restored = apply_clip(had_clip ? &remembered : nullptr);
  return ok && restored;
}

bool WindowBackend::draw_image(const char* source, std::size_t length, const Rect& rect, ColorValue tint,
                               std::string_view fit, const double* insets) {
  const PixelRect p = pixel_rect_of(rect, scale_);
  if (!visible(p)) return true;
  TextureRef texture = get_image_texture(source, length);
  if (texture == nullptr) return true;  // reported once as a resource event
  if (insets != nullptr) return draw_nine_slice(texture, p, insets, tint);
  const double tw = texture->width, th = texture->height;
  if (fit == "contain") {
    const double k = std::min(rect.w / tw, rect.h / th);
    const Rect drawn{rect.x + (rect.w - tw * k) / 2, rect.y + (rect.h - th * k) / 2, tw * k, th * k};
    return draw_texture(texture, pixel_rect_of(drawn, scale_), nullptr, tint);
  }
  if (fit == "cover") {
    const double k = std::max(rect.w / tw, rect.h / th);
    // Source rectangles are whole texels in SDL2: the crop is rounded to
    // them, at most half a texel off.
    const SDL_Rect crop{static_cast<int>(round_half_even((tw - rect.w / k) / 2)),
                        static_cast<int>(round_half_even((th - rect.h / k) / 2)),
                        std::max(1, static_cast<int>(round_half_even(rect.w / k))),
                        std::max(1, static_cast<int>(round_half_even(rect.h / k)))};
    return draw_texture(texture, p, &crop, tint);
  }
  return draw_texture(texture, p, nullptr, tint);
}

bool WindowBackend::draw_text(std::string_view text, double x, double y, ColorValue colour, double points, bool mono) {
  double unused_width = 0, line_height = 0;
  if (!measure_text("", points, mono, unused_width, line_height)) return false;
  // Lines that cannot reach what may be painted are skipped before any
  // lookup, measuring or rasterising: a long text scrolled mostly out of
  // view costs only its visible lines.
  const PixelRect bounds = canvas_.bounds();
  const double line_pixels = std::ceil(line_height * scale_) + 1;
  if (!drawable(colour) || round_half_even(x * scale_) >= static_cast<double>(bounds.x + bounds.w)) return true;
  for (std::int64_t k = 0;; ++k) {
    const std::size_t end = text.find('\n');
    const double line_y = y + static_cast<double>(k) * line_height;
    const double top = round_half_even(line_y * scale_);
    if (top >= static_cast<double>(bounds.y + bounds.h)) return true;
    if (top + line_pixels > static_cast<double>(bounds.y) &&
        !draw_text_line(text.substr(0, end), x, line_y, colour, points, mono)) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    text.remove_prefix(end + 1);
  }
}

}  // namespace lumora::window
