// The one surface the window draws on: every call of SDL's 2D renderer
// lives behind this small interface in device pixels, so that the rest of
// the window knows nothing of how rectangles, lines and texture copies
// reach the screen, and so that the cheap way of each (blending off for
// opaque fills, no colour modulation for white, copies and lines cut to the
// clip in our code) is decided in one place.
//
// A failing step writes "%s: %s" (the step's fixed name and SDL_GetError)
// into the error text the canvas was made with.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "scene/colour.h"
#include "window/render/geometry.h"
#include "window/resources/sdl_handles.h"

namespace lumora::window {

// The window's error text, copied into the caller's buffer; a failed step
// that left none reaches the caller as kNativeRendererFailed.
inline constexpr std::size_t kWindowErrorTextSize = 512;
inline constexpr const char* kNativeRendererFailed = "Native renderer failed";

struct RendererDeleter {
  void operator()(SDL_Renderer* renderer) const noexcept { SDL_DestroyRenderer(renderer); }
};
using RendererPtr = std::unique_ptr<SDL_Renderer, RendererDeleter>;

// A texture with its size in texels, borrowed for one copy.
struct TextureView {
  SDL_Texture* texture = nullptr;
  int width = 0, height = 0;
};

// One end point of a line, in device pixels.
struct PixelPoint {
  double x = 0, y = 0;
};

class Canvas {
 public:
  explicit Canvas(std::string& error) : error_(error) {}
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // Creates the renderer of `window` with render targets and blending on.
  bool open(SDL_Window* window);
  void close();
  SDL_Renderer* renderer() const { return renderer_.get(); }
  // Whether the renderer is SDL's software renderer.
  bool software() const { return software_; }
  // The renderer's name, or null when unknown; its vsync flag.
  const char* name() const;
  bool vsync_applied(bool& applied) const;
  bool set_vsync(int mode);
  // The size of the window's drawable as the renderer sees it.
  bool output_size(int& width, int& height) const;
  bool drawing_to_window() const;
  // The size of what is drawn on (window and scene cache have the same).
  void set_output_size(int width, int height);

  // ---- Clip ----
  // A pixel clip, or none; remembered for the visibility test.
  bool set_clip(const PixelRect* clip);
  // The clip in force, or null; borrowed until the next set_clip.
  const PixelRect* clip() const { return clipped_ ? &clip_ : nullptr; }
  // What may be painted: the clip within the output, or the output.
  PixelRect bounds() const { return bounds_; }
  // True when `rect` has a positive size and overlaps the clip (or the
  // output when no clip is applied).
  bool visible(const PixelRect& rect) const;

  // ---- Drawing ----
  // The whole target in one colour, ignoring the clip.
  bool clear(scene::ColorValue colour, const char* step = "Clear renderer");
  // A rectangle; nothing for an absent or transparent colour or an empty
  // size. Opaque colours replace the pixels, others blend.
  bool fill(double x, double y, double w, double h, scene::ColorValue colour);
  bool fill(const PixelRect& rect, scene::ColorValue colour) {
    return fill(static_cast<double>(rect.x), static_cast<double>(rect.y), static_cast<double>(rect.w),
                static_cast<double>(rect.h), colour);
  }
  // The clip's area replaced by `colour`, alpha included (no blending).
  bool replace_clip_area(scene::ColorValue colour, const char* step);
  // One-pixel lines between pairs of points (a, b), (c, d), …: each
  // drawn as its own line, cut to the clip first.
  bool thin_lines(std::span<const PixelPoint> pairs, scene::ColorValue colour);
  // Quads of 4 corners each (0-1-2, 0-2-3), batched into one call.
  bool quads(std::span<const PixelPoint> corners, scene::ColorValue colour);
  // A tinted copy of `source` (null: the whole texture) onto `destination`;
  // cut to the clip in our code, with the source cut in proportion, so the
  // renderer never works beyond what can be seen.
  bool copy(const TextureView& texture, const SDL_Rect* source, const PixelRect& destination, scene::ColorValue tint);

  // ---- Targets and output ----
  // A render target of the output's size in the window's own pixel format
  // (blending into it is as cheap as into the window), copied without
  // blending. Null when it cannot be made.
  TexturePtr create_target(int width, int height) const;
  // Draws into `target` from now on (null: the window); the clip is none after.
  bool set_target(SDL_Texture* target, const char* step);
  // `texture` over the whole target, pixels replaced.
  bool copy_whole(SDL_Texture* texture, const char* step);
  void present();
  // The current target's pixels as ABGR8888 into `surface` of its size.
  bool read_pixels(SDL_Surface* surface);

 private:
  bool set_sdl_error(const char* step);
  bool use_blend(SDL_BlendMode mode);

  std::string& error_;
  RendererPtr renderer_;
  bool software_ = false;
  int output_w_ = 0, output_h_ = 0;
  bool clipped_ = false;
  PixelRect clip_;
  PixelRect bounds_;
  // What the renderer was last told, so that a run of fills of one colour
  // costs one state change.
  SDL_BlendMode blend_ = SDL_BLENDMODE_BLEND;
  std::vector<SDL_Vertex> vertices_;  // reused by quads
  std::vector<int> indices_;
};

}  // namespace lumora::window
