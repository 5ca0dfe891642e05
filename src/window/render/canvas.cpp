#include "window/render/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumora::window {

namespace {

using scene::ColorValue;

bool drawable(ColorValue colour) { return colour.present && colour.a != 0; }

// One axis of a copy brought inside [lo, hi). A copy at 1:1, or from a
// single texel, is cut exactly; a stretched one keeps the whole texels that
// reach the visible range and the destination they map to, so that the
// scale stays what it was. False when nothing is left.
bool cut_axis(double lo, double hi, double& at, double& extent, int& source_at, int& source_extent) {
  if (at >= lo && at + extent <= hi) return true;
  const double from = std::max(at, lo), to = std::min(at + extent, hi);
  if (!(to > from)) return false;
  if (extent == source_extent) {
    source_at += static_cast<int>(from - at);
    source_extent = static_cast<int>(to - from);
  } else if (source_extent != 1) {
    const double per_texel = extent / source_extent;
    const auto first = static_cast<int>(std::clamp(std::floor((from - at) / per_texel), 0.0, double(source_extent)));
    const auto last = static_cast<int>(std::clamp(std::ceil((to - at) / per_texel), 0.0, double(source_extent)));
    if (last <= first) return false;
    source_at += first;
    source_extent = last - first;
    const double start = at + first * per_texel;
    extent = (last - first) * per_texel;
    at = start;
    return true;
  }
  at = from;
  extent = to - from;
  return true;
}

// The part of the segment (x1, y1)–(x2, y2) inside the box (Liang–Barsky);
// false when none is.
bool cut_segment(double lo_x, double lo_y, double hi_x, double hi_y, PixelPoint& a, PixelPoint& b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - lo_x, hi_x - a.x, a.y - lo_y, hi_y - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const PixelPoint start = a;
  if (t1 < 1) b = PixelPoint{start.x + t1 * dx, start.y + t1 * dy};
  if (t0 > 0) a = PixelPoint{start.x + t0 * dx, start.y + t0 * dy};
  return true;
}

}  // namespace

bool Canvas::set_sdl_error(const char* step) {
  char text[kWindowErrorTextSize];
  std::snprintf(text, sizeof text, "%s: %s", step, SDL_GetError());
  error_.assign(text);
  return false;
}

bool Canvas::open(SDL_Window* window) {
  // Render targets are required: the scene cache and capture draw into textures.
  renderer_.reset(SDL_CreateRenderer(window, -1, SDL_RENDERER_TARGETTEXTURE));
  if (renderer_ == nullptr) return set_sdl_error("Create renderer");
  if (SDL_SetRenderDrawBlendMode(renderer_.get(), SDL_BLENDMODE_BLEND) != 0) return set_sdl_error("Enable alpha blending");
  blend_ = SDL_BLENDMODE_BLEND;
  SDL_RendererInfo info;
  software_ = SDL_GetRendererInfo(renderer_.get(), &info) == 0 && (info.flags & SDL_RENDERER_SOFTWARE) != 0;
  return true;
}

void Canvas::close() { renderer_.reset(); }

const char* Canvas::name() const {
  SDL_RendererInfo info;
  return renderer_ != nullptr && SDL_GetRendererInfo(renderer_.get(), &info) == 0 ? info.name : nullptr;
}

bool Canvas::vsync_applied(bool& applied) const {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(renderer_.get(), &info) != 0) return false;
  applied = (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
  return true;
}

bool Canvas::set_vsync(int mode) {
  bool applied = false;
  if (SDL_RenderSetVSync(renderer_.get(), mode) != 0 || !vsync_applied(applied)) return set_sdl_error("Configure VSync");
  return true;
}

bool Canvas::output_size(int& width, int& height) const {
  return SDL_GetRendererOutputSize(renderer_.get(), &width, &height) == 0;
}

bool Canvas::drawing_to_window() const { return SDL_GetRenderTarget(renderer_.get()) == nullptr; }

void Canvas::set_output_size(int width, int height) {
  output_w_ = width;
  output_h_ = height;
  const PixelRect output{0, 0, width, height};
  bounds_ = clipped_ ? intersect(clip_, output) : output;
}

bool Canvas::set_clip(const PixelRect* clip) {
  const PixelRect output{0, 0, output_w_, output_h_};
  if (clip == nullptr) {
    clipped_ = false;
    bounds_ = output;
    if (SDL_RenderSetClipRect(renderer_.get(), nullptr) != 0) return set_sdl_error("Set clip");
    return true;
  }
  // SDL clips take ints; anything beyond the output is the same as its edge.
  const PixelRect bounded =
      clip->empty() ? PixelRect{0, 0, 0, 0}
                    : intersect(*clip, PixelRect{-1, -1, std::int64_t{output_w_} + 2, std::int64_t{output_h_} + 2});
  clipped_ = true;
  clip_ = bounded;
  bounds_ = intersect(bounded, output);
  const SDL_Rect rect{static_cast<int>(bounded.x), static_cast<int>(bounded.y), static_cast<int>(bounded.w),
                      static_cast<int>(bounded.h)};
  if (SDL_RenderSetClipRect(renderer_.get(), &rect) != 0) return set_sdl_error("Set clip");
  return true;
}

bool Canvas::visible(const PixelRect& rect) const {
  if (rect.empty()) return false;
  return overlaps(rect, clipped_ ? clip_ : PixelRect{0, 0, output_w_, output_h_});
}

bool Canvas::use_blend(SDL_BlendMode mode) {
  if (mode == blend_) return true;
  if (SDL_SetRenderDrawBlendMode(renderer_.get(), mode) != 0) return false;
  blend_ = mode;
  return true;
}

bool Canvas::clear(ColorValue colour, const char* step) {
  if (SDL_SetRenderDrawColor(renderer_.get(), colour.r, colour.g, colour.b, colour.a) != 0 ||
      SDL_RenderClear(renderer_.get()) != 0) {
    return set_sdl_error(step);
  }
  return true;
}

bool Canvas::fill(double x, double y, double w, double h, ColorValue colour) {
  if (!(w > 0) || !(h > 0) || !drawable(colour)) return true;
  // Cut to what can be painted: nothing outside costs a call, and a huge
  // rectangle reaches SDL as the visible part only.
  const auto lo_x = static_cast<double>(bounds_.x), lo_y = static_cast<double>(bounds_.y);
  const double hi_x = lo_x + static_cast<double>(bounds_.w), hi_y = lo_y + static_cast<double>(bounds_.h);
  if (x >= hi_x || y >= hi_y || x + w <= lo_x || y + h <= lo_y) return true;
  if (x < lo_x) {
    w -= lo_x - x;
    x = lo_x;
  }
  if (y < lo_y) {
    h -= lo_y - y;
    y = lo_y;
  }
  w = std::min(w, hi_x - x);
  h = std::min(h, hi_y - y);
  // An opaque colour replaces the pixels: the same result as blending it,
  // at a fraction of the cost.
  if (!use_blend(colour.a == 255 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND) ||
      SDL_SetRenderDrawColor(renderer_.get(), colour.r, colour.g, colour.b, colour.a) != 0) {
    return set_sdl_error("Set draw color");
  }
  const SDL_FRect rect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), static_cast<float>(h)};
  if (SDL_RenderFillRectF(renderer_.get(), &rect) != 0) return set_sdl_error("Fill rectangle");
  return true;
}

bool Canvas::replace_clip_area(ColorValue colour, const char* step) {
  if (!use_blend(SDL_BLENDMODE_NONE) ||
      SDL_SetRenderDrawColor(renderer_.get(), colour.r, colour.g, colour.b, colour.a) != 0 ||
      SDL_RenderFillRect(renderer_.get(), nullptr) != 0) {
    return set_sdl_error(step);
  }
  return true;
}

bool Canvas::thin_lines(std::span<const PixelPoint> pairs, ColorValue colour) {
  if (!drawable(colour) || pairs.size() < 2) return true;
  if (!use_blend(colour.a == 255 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND) ||
      SDL_SetRenderDrawColor(renderer_.get(), colour.r, colour.g, colour.b, colour.a) != 0) {
    return set_sdl_error("Set draw color");
  }
  // A pixel of margin: a line that only grazes the edge still draws its
  // end pixels as SDL would.
  const double lo_x = static_cast<double>(bounds_.x) - 1, lo_y = static_cast<double>(bounds_.y) - 1;
  const double hi_x = lo_x + static_cast<double>(bounds_.w) + 2, hi_y = lo_y + static_cast<double>(bounds_.h) + 2;
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
    PixelPoint a = pairs[i], b = pairs[i + 1];
    if (std::max(a.x, b.x) < lo_x || std::min(a.x, b.x) > hi_x || std::max(a.y, b.y) < lo_y ||
        std::min(a.y, b.y) > hi_y) {
      continue;
    }
    if (!(a.x >= lo_x && a.x <= hi_x && a.y >= lo_y && a.y <= hi_y && b.x >= lo_x && b.x <= hi_x && b.y >= lo_y &&
          b.y <= hi_y) &&
        !cut_segment(lo_x, lo_y, hi_x, hi_y, a, b)) {
      continue;
    }
    if (SDL_RenderDrawLineF(renderer_.get(), static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(b.x),
                            static_cast<float>(b.y)) != 0) {
      return set_sdl_error("Draw line");
    }
  }
  return true;
}

bool Canvas::quads(std::span<const PixelPoint> corners, ColorValue colour) {
  if (!drawable(colour) || corners.size() < 4) return true;
  const SDL_Color c{colour.r, colour.g, colour.b, colour.a};
  vertices_.clear();
  indices_.clear();
  const auto lo_x = static_cast<double>(bounds_.x), lo_y = static_cast<double>(bounds_.y);
  const double hi_x = lo_x + static_cast<double>(bounds_.w), hi_y = lo_y + static_cast<double>(bounds_.h);
  for (std::size_t i = 0; i + 3 < corners.size(); i += 4) {
    double min_x = corners[i].x, max_x = min_x, min_y = corners[i].y, max_y = min_y;
    for (std::size_t k = 1; k < 4; ++k) {
      min_x = std::min(min_x, corners[i + k].x);
      max_x = std::max(max_x, corners[i + k].x);
      min_y = std::min(min_y, corners[i + k].y);
      max_y = std::max(max_y, corners[i + k].y);
    }
    if (max_x < lo_x || min_x > hi_x || max_y < lo_y || min_y > hi_y) continue;
    const int base = static_cast<int>(vertices_.size());
    for (std::size_t k = 0; k < 4; ++k) {
      vertices_.push_back(SDL_Vertex{
          SDL_FPoint{static_cast<float>(corners[i + k].x), static_cast<float>(corners[i + k].y)}, c, SDL_FPoint{0, 0}});
    }
    for (int index : {0, 1, 2, 0, 2, 3}) indices_.push_back(base + index);
  }
  if (vertices_.empty()) return true;
  if (!use_blend(SDL_BLENDMODE_BLEND) || SDL_RenderGeometry(renderer_.get(), nullptr, vertices_.data(),
                                                            static_cast<int>(vertices_.size()), indices_.data(),
                                                            static_cast<int>(indices_.size())) != 0) {
    return set_sdl_error("Draw thick line");
  }
  return true;
}

bool Canvas::copy(const TextureView& texture, const SDL_Rect* source, const PixelRect& destination, ColorValue tint) {
  if (destination.w <= 0 || destination.h <= 0) return true;
  SDL_Rect cut_source = source != nullptr ? *source : SDL_Rect{0, 0, texture.width, texture.height};
  if (cut_source.w <= 0 || cut_source.h <= 0) return true;
  auto x = static_cast<double>(destination.x), y = static_cast<double>(destination.y);
  auto w = static_cast<double>(destination.w), h = static_cast<double>(destination.h);
  const auto lo_x = static_cast<double>(bounds_.x), lo_y = static_cast<double>(bounds_.y);
  if (!cut_axis(lo_x, lo_x + static_cast<double>(bounds_.w), x, w, cut_source.x, cut_source.w) ||
      !cut_axis(lo_y, lo_y + static_cast<double>(bounds_.h), y, h, cut_source.y, cut_source.h)) {
    return true;
  }
  // White is no tint: SDL then copies without modulating each texel.
  if (SDL_SetTextureColorMod(texture.texture, tint.r, tint.g, tint.b) != 0 ||
      SDL_SetTextureAlphaMod(texture.texture, tint.a) != 0) {
    return set_sdl_error("Tint texture");
  }
  const SDL_FRect target{static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), static_cast<float>(h)};
  if (SDL_RenderCopyF(renderer_.get(), texture.texture, &cut_source, &target) != 0) return set_sdl_error("Copy texture");
  return true;
}

TexturePtr Canvas::create_target(int width, int height) const {
  SDL_Window* window = SDL_RenderGetWindow(renderer_.get());
  Uint32 format = window != nullptr ? SDL_GetWindowPixelFormat(window) : Uint32{SDL_PIXELFORMAT_UNKNOWN};
  if (format == SDL_PIXELFORMAT_UNKNOWN) format = SDL_PIXELFORMAT_RGBA8888;
  TexturePtr target(SDL_CreateTexture(renderer_.get(), format, SDL_TEXTUREACCESS_TARGET, width, height));
  if (target == nullptr || SDL_SetTextureBlendMode(target.get(), SDL_BLENDMODE_NONE) != 0 ||
      SDL_SetTextureScaleMode(target.get(), SDL_ScaleModeNearest) != 0) {
    return nullptr;
  }
  return target;
}

bool Canvas::set_target(SDL_Texture* target, const char* step) {
  if (SDL_SetRenderTarget(renderer_.get(), target) != 0) return set_sdl_error(step);
  // SDL keeps a clip per target; ours starts with none on either.
  clipped_ = false;
  bounds_ = PixelRect{0, 0, output_w_, output_h_};
  return SDL_RenderSetClipRect(renderer_.get(), nullptr) == 0 || set_sdl_error("Set clip");
}

bool Canvas::copy_whole(SDL_Texture* texture, const char* step) {
  if (SDL_RenderCopy(renderer_.get(), texture, nullptr, nullptr) != 0) return set_sdl_error(step);
  return true;
}

void Canvas::present() {
  // SDL_RenderPresent cannot fail in SDL2, so "Present frame" is never reported.
  SDL_RenderPresent(renderer_.get());
}

bool Canvas::read_pixels(SDL_Surface* surface) {
  return SDL_RenderReadPixels(renderer_.get(), nullptr, SDL_PIXELFORMAT_ABGR8888, surface->pixels, surface->pitch) == 0;
}

}  // namespace lumora::window
