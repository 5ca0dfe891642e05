// Primitive drawing with the SDL 2D renderer: clips, rectangles with rounded
// corners and borders, thin and thick lines, textures and nine-slices,
// gradients, images and multi-line text. Every shape passes the visibility
// test before any SDL call, so that nothing outside the clip costs work.
#include <algorithm>
#include <cmath>

#include "scene/blend.h"
#include "window/coverage_mask.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

using scene::ColorValue;

constexpr int kMaxGradientBands = 96;

bool drawable(ColorValue colour) { return colour.present && colour.a != 0; }

SDL_FRect to_frect(const PixelRect& rect) {
  return SDL_FRect{static_cast<float>(rect.x), static_cast<float>(rect.y), static_cast<float>(rect.w),
                   static_cast<float>(rect.h)};
}

// The software renderer clips a stretched copy by mapping the clip back to
// the source and rounding it to whole texels, so a one-texel source cut to
// less than half its stretch rounds to nothing and the piece is dropped (the
// middle of every sliced mask). Along an axis whose source is a single texel,
// or is copied 1:1, the cut is exact here instead: the destination is brought
// inside the clip [lo, hi) before SDL sees it. False when nothing is left.
bool cut_axis_to_clip(std::int64_t lo, std::int64_t hi, std::int64_t& at, std::int64_t& extent, int& source_at,
                      int& source_extent) {
  const bool one_to_one = extent == source_extent;
  if (!one_to_one && source_extent != 1) return true;
  const std::int64_t from = std::max(at, lo), to = std::min(at + extent, hi);
  if (to <= from) return false;
  if (one_to_one) {
    source_at += static_cast<int>(from - at);
    source_extent = static_cast<int>(to - from);
  }
  at = from;
  extent = to - from;
  return true;
}

bool software_renderer(SDL_Renderer* renderer) {
  SDL_RendererInfo info;
  return SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE) != 0;
}

}  // namespace

bool WindowBackend::apply_clip(const PixelRect* clip) {
  // While damage is redrawn nothing may paint outside the damaged pixels.
  PixelRect damaged;
  if (damage_clip_active_) {
    damaged = clip == nullptr ? damage_clip_ : intersect(*clip, damage_clip_);
    clip = &damaged;
  }
  if (clip == nullptr) {
    clip_applied_ = false;
    if (SDL_RenderSetClipRect(renderer_.get(), nullptr) != 0) {
      set_sdl_error("Set clip");
      return false;
    }
    return true;
  }
  // SDL clips take ints; anything beyond the drawable is the same as its edge.
  const PixelRect bounded = clip->empty() ? PixelRect{0, 0, 0, 0}
                                          : intersect(*clip, PixelRect{-1, -1, std::int64_t{pixel_w_} + 2,
                                                                       std::int64_t{pixel_h_} + 2});
  const SDL_Rect rect{static_cast<int>(bounded.x), static_cast<int>(bounded.y), static_cast<int>(bounded.w),
                      static_cast<int>(bounded.h)};
  clip_applied_ = true;
  applied_clip_ = bounded;
  if (SDL_RenderSetClipRect(renderer_.get(), &rect) != 0) {
    set_sdl_error("Set clip");
    return false;
  }
  return true;
}

bool WindowBackend::visible(const PixelRect& rect) const {
  if (rect.empty()) return false;
  return overlaps(rect, clip_applied_ ? applied_clip_ : PixelRect{0, 0, pixel_w_, pixel_h_});
}

bool WindowBackend::fill_rect(double x, double y, double w, double h, ColorValue colour) {
  if (w <= 0 || h <= 0 || !drawable(colour)) return true;
  if (SDL_SetRenderDrawColor(renderer_.get(), colour.r, colour.g, colour.b, colour.a) != 0) {
    set_sdl_error("Set draw color");
    return false;
  }
  const SDL_FRect rect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), static_cast<float>(h)};
  if (SDL_RenderFillRectF(renderer_.get(), &rect) != 0) {
    set_sdl_error("Fill rectangle");
    return false;
  }
  return true;
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
    if (clip_applied_) {
      first = std::max(first, applied_clip_.y);
      last = std::min(last, applied_clip_.y + applied_clip_.h);
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
  TextureRef mask = get_mask(plan.mask_w, plan.mask_h, plan.radius, plan.ring, -1);
  if (mask == nullptr) return false;
  if (plan.sliced) {
    const double insets[4] = {static_cast<double>(plan.corner_x), static_cast<double>(plan.corner_y),
                              static_cast<double>(plan.corner_x), static_cast<double>(plan.corner_y)};
    return draw_nine_slice(mask, p, insets, colour);
  }
  return draw_texture(mask, p, nullptr, colour);
}

bool WindowBackend::draw_line(double x1, double y1, double x2, double y2, ColorValue colour, double width) {
  if (!(width > 0) || !drawable(colour)) return true;
  if (SDL_SetRenderDrawColor(renderer_.get(), colour.r, colour.g, colour.b, colour.a) != 0) {
    set_sdl_error("Set draw color");
    return false;
  }
  x1 *= scale_;
  y1 *= scale_;
  x2 *= scale_;
  y2 *= scale_;
  const double t = std::max(1.0, scale_ * width);
  if (t <= 1) {
    if (SDL_RenderDrawLineF(renderer_.get(), static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2),
                            static_cast<float>(y2)) != 0) {
      set_sdl_error("Draw line");
      return false;
    }
    return true;
  }
  const double length = std::hypot(x2 - x1, y2 - y1);
  if (length == 0) {
    const double side = std::ceil(t);
    return fill_rect(round_half_even(x1 - t / 2), round_half_even(y1 - t / 2), side, side, colour);
  }
  const double nx = (y2 - y1) * t / (2 * length);
  const double ny = (x1 - x2) * t / (2 * length);
  const SDL_Color c{colour.r, colour.g, colour.b, colour.a};
  const SDL_Vertex corners[4] = {
      {SDL_FPoint{static_cast<float>(x1 + nx), static_cast<float>(y1 + ny)}, c, SDL_FPoint{0, 0}},
      {SDL_FPoint{static_cast<float>(x2 + nx), static_cast<float>(y2 + ny)}, c, SDL_FPoint{0, 0}},
      {SDL_FPoint{static_cast<float>(x2 - nx), static_cast<float>(y2 - ny)}, c, SDL_FPoint{0, 0}},
      {SDL_FPoint{static_cast<float>(x1 - nx), static_cast<float>(y1 - ny)}, c, SDL_FPoint{0, 0}},
  };
  static constexpr int kQuadIndices[6] = {0, 1, 2, 0, 2, 3};
  if (SDL_RenderGeometry(renderer_.get(), nullptr, corners, 4, kQuadIndices, 6) != 0) {
    set_sdl_error("Draw thick line");
    return false;
  }
  return true;
}

bool WindowBackend::draw_texture(TextureRef texture, const PixelRect& destination, const SDL_Rect* source,
                                 ColorValue colour) {
  if (destination.w <= 0 || destination.h <= 0) return true;
  SDL_Texture* t = texture->texture.get();
  if (SDL_SetTextureColorMod(t, colour.r, colour.g, colour.b) != 0 || SDL_SetTextureAlphaMod(t, colour.a) != 0) {
    set_sdl_error("Tint texture");
    return false;
  }
  PixelRect cut = destination;
  SDL_Rect cut_source = source != nullptr ? *source : SDL_Rect{0, 0, texture->width, texture->height};
  const bool stretched = cut_source.w != destination.w || cut_source.h != destination.h;
  if (stretched && clip_applied_ && software_renderer(renderer_.get())) {
    const PixelRect& c = applied_clip_;
    if (!cut_axis_to_clip(c.x, c.x + c.w, cut.x, cut.w, cut_source.x, cut_source.w) ||
        !cut_axis_to_clip(c.y, c.y + c.h, cut.y, cut.h, cut_source.y, cut_source.h)) {
      return true;
    }
    source = &cut_source;
  }
  const SDL_FRect dst = to_frect(cut);
  if (SDL_RenderCopyF(renderer_.get(), t, source, &dst) != 0) {
    set_sdl_error("Copy texture");
    return false;
  }
  return true;
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
  const bool had_clip = clip_applied_;
  const PixelRect remembered = applied_clip_;
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
  for (std::int64_t k = 0;; ++k) {
    const std::size_t end = text.find('\n');
    if (!draw_text_line(text.substr(0, end), x, y + static_cast<double>(k) * line_height, colour, points, mono)) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    text.remove_prefix(end + 1);
  }
}

}  // namespace lumora::window
