#include "peers/handwritten_sdl.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>

#include "peers/software_window.h"

namespace lumora::bench::peers {

namespace {

struct TextureDeleter {
  void operator()(SDL_Texture* texture) const noexcept { SDL_DestroyTexture(texture); }
};
using TexturePtr = std::unique_ptr<SDL_Texture, TextureDeleter>;

struct FontDeleter {
  void operator()(TTF_Font* font) const noexcept { TTF_CloseFont(font); }
};

// The four anti-aliased corners of one radius, ring width (0: filled) and
// colour: a 2r × 2r picture of the whole round shape, copied a quadrant at
// a time.
struct Corners {
  int radius = 0;
  int ring = 0;
  Colour colour;
  TexturePtr texture;
};

// One text line's texture, kept while the line's text, size and colour stay.
struct Line {
  std::string text;
  int size = 0;
  Colour colour;
  TexturePtr texture;
  int w = 0, h = 0;
};

bool same_colour(const Colour& a, const Colour& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

// Coverage of a pixel by a disc of `radius` around the picture's centre,
// from the distance of the pixel's centre to the circle: half a pixel
// either side of the edge is the anti-aliased band.
double disc_coverage(double dx, double dy, double radius) {
  if (radius <= 0) return 0;
  return std::clamp(radius + 0.5 - std::hypot(dx, dy), 0.0, 1.0);
}

}  // namespace

struct HandwrittenSdl::State {
  SoftwareWindow window;  // first, so that it closes after every texture
  SDL_Renderer* renderer = nullptr;
  bool ttf_started = false;
  std::string font_path;
  std::vector<std::pair<int, std::unique_ptr<TTF_Font, FontDeleter>>> fonts;
  std::vector<Corners> corners;
  std::vector<Line> lines;  // by item index
  std::uint64_t lines_rendered = 0;
  std::string error;

  ~State() {
    lines.clear();
    corners.clear();
    fonts.clear();
    if (ttf_started) TTF_Quit();
  }

  bool fail(const char* step) {
    error = std::string(step) + ": " + SDL_GetError();
    return false;
  }

  TTF_Font* font(int size) {
    for (auto& [font_size, font] : fonts) {
      if (font_size == size) return font.get();
    }
    TTF_Font* opened = TTF_OpenFont(font_path.c_str(), size);
    if (opened == nullptr) return nullptr;
    fonts.emplace_back(size, std::unique_ptr<TTF_Font, FontDeleter>(opened));
    return opened;
  }

  SDL_Texture* corners_of(int radius, int ring, const Colour& colour) {
    for (const Corners& entry : corners) {
      if (entry.radius == radius && entry.ring == ring && same_colour(entry.colour, colour)) {
        return entry.texture.get();
      }
    }
    const int side = 2 * radius;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
    SDL_PixelFormat* format = SDL_AllocFormat(SDL_PIXELFORMAT_ARGB8888);
    if (format == nullptr) return nullptr;
    for (int row = 0; row < side; ++row) {
      for (int column = 0; column < side; ++column) {
        const double dx = column + 0.5 - radius, dy = row + 0.5 - radius;
        double coverage = disc_coverage(dx, dy, radius);
        if (ring > 0) coverage = std::max(0.0, coverage - disc_coverage(dx, dy, radius - ring));
        const auto alpha = static_cast<std::uint8_t>(std::lround(coverage * colour.a));
        pixels[static_cast<std::size_t>(row) * side + column] =
            SDL_MapRGBA(format, colour.r, colour.g, colour.b, alpha);
      }
    }
    SDL_FreeFormat(format);
    TexturePtr texture(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, side, side));
    if (texture == nullptr || SDL_UpdateTexture(texture.get(), nullptr, pixels.data(), side * 4) != 0 ||
        SDL_SetTextureBlendMode(texture.get(), SDL_BLENDMODE_BLEND) != 0) {
      return nullptr;
    }
    corners.push_back(Corners{radius, ring, colour, std::move(texture)});
    return corners.back().texture.get();
  }

  bool fill(int x, int y, int w, int h, const Colour& colour) {
    if (w <= 0 || h <= 0 || colour.a == 0) return true;
    const SDL_Rect rect{x, y, w, h};
    return SDL_SetRenderDrawBlendMode(renderer, colour.a == 255 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND) == 0 &&
           SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, colour.a) == 0 &&
           SDL_RenderFillRect(renderer, &rect) == 0;
  }

  bool copy_corners(SDL_Texture* texture, const Box& box, int r) {
    const SDL_Rect sources[4] = {{0, 0, r, r}, {r, 0, r, r}, {0, r, r, r}, {r, r, r, r}};
    const SDL_Rect targets[4] = {{box.x, box.y, r, r},
                                 {box.x + box.w - r, box.y, r, r},
                                 {box.x, box.y + box.h - r, r, r},
                                 {box.x + box.w - r, box.y + box.h - r, r, r}};
    for (int k = 0; k < 4; ++k) {
      if (SDL_RenderCopy(renderer, texture, &sources[k], &targets[k]) != 0) return false;
    }
    return true;
  }

  // The fill with round corners, then the ring over its edge: four corner
  // quadrants each, the rest as plain bands.
  bool draw_panel(const Item& item) {
    const Box& b = item.box;
    const int r = std::min({item.radius, b.w / 2, b.h / 2});
    const int ring = std::min(item.border_width, r);
    if (r <= 0) return fill(b.x, b.y, b.w, b.h, item.fill);  // the dashboard's panels are all rounded
    SDL_Texture* inside = corners_of(r, 0, item.fill);
    if (inside == nullptr || !copy_corners(inside, b, r)) return fail("Draw panel corners");
    if (!fill(b.x + r, b.y, b.w - 2 * r, b.h, item.fill) || !fill(b.x, b.y + r, r, b.h - 2 * r, item.fill) ||
        !fill(b.x + b.w - r, b.y + r, r, b.h - 2 * r, item.fill)) {
      return fail("Fill panel");
    }
    if (ring <= 0 || item.border.a == 0) return true;
    SDL_Texture* edge = corners_of(r, ring, item.border);
    if (edge == nullptr || !copy_corners(edge, b, r)) return fail("Draw border corners");
    if (!fill(b.x + r, b.y, b.w - 2 * r, ring, item.border) ||
        !fill(b.x + r, b.y + b.h - ring, b.w - 2 * r, ring, item.border) ||
        !fill(b.x, b.y + r, ring, b.h - 2 * r, item.border) ||
        !fill(b.x + b.w - ring, b.y + r, ring, b.h - 2 * r, item.border)) {
      return fail("Fill border");
    }
    return true;
  }

  bool draw_text(std::size_t index, const Item& item) {
    Line& line = lines[index];
    if (line.texture == nullptr || line.text != item.text || line.size != item.size ||
        !same_colour(line.colour, item.fill)) {
      line.texture.reset();
      TTF_Font* typeface = font(item.size);
      if (typeface == nullptr) return fail("Open font");
      SDL_Surface* surface = TTF_RenderUTF8_Blended(typeface, item.text.c_str(),
                                                    SDL_Color{item.fill.r, item.fill.g, item.fill.b, item.fill.a});
      if (surface == nullptr) return fail("Render text");
      line.texture.reset(SDL_CreateTextureFromSurface(renderer, surface));
      line.w = surface->w;
      line.h = surface->h;
      SDL_FreeSurface(surface);
      if (line.texture == nullptr || SDL_SetTextureBlendMode(line.texture.get(), SDL_BLENDMODE_BLEND) != 0) {
        line.texture.reset();
        return fail("Upload text");
      }
      line.text = item.text;
      line.size = item.size;
      line.colour = item.fill;
      ++lines_rendered;
    }
    const SDL_Rect target{item.box.x, item.box.y, line.w, line.h};
    return SDL_RenderCopy(renderer, line.texture.get(), nullptr, &target) == 0 || fail("Copy text");
  }
};

HandwrittenSdl::HandwrittenSdl(std::unique_ptr<State> state) : state_(std::move(state)) {}
HandwrittenSdl::~HandwrittenSdl() = default;

std::unique_ptr<HandwrittenSdl> HandwrittenSdl::open(const std::string& font_dir, std::string* error) {
  auto state = std::make_unique<State>();
  state->font_path = font_dir + "/DejaVuSans.ttf";
  auto failed = [&](const char* step) {
    *error = std::string(step) + ": " + SDL_GetError();
    return nullptr;
  };
  if (!state->window.open(error)) return nullptr;
  state->renderer = state->window.renderer();
  if (TTF_Init() != 0) return failed("Start fonts");
  state->ttf_started = true;
  if (state->font(9) == nullptr) return failed("Open font");
  return std::unique_ptr<HandwrittenSdl>(new HandwrittenSdl(std::move(state)));
}

bool HandwrittenSdl::draw(const Dashboard& dashboard, std::string* error) {
  State& s = *state_;
  s.lines.resize(dashboard.items.size());
  const Colour& bg = dashboard.background;
  bool ok = SDL_SetRenderDrawColor(s.renderer, bg.r, bg.g, bg.b, bg.a) == 0 && SDL_RenderClear(s.renderer) == 0;
  if (!ok) s.fail("Clear");
  for (std::size_t i = 0; ok && i < dashboard.items.size(); ++i) {
    const Item& item = dashboard.items[i];
    if (!box_visible(item.box)) continue;
    switch (item.kind) {
      case ItemKind::panel:
        ok = s.draw_panel(item);
        break;
      case ItemKind::fill:
        ok = s.fill(item.box.x, item.box.y, item.box.w, item.box.h, item.fill) || s.fail("Fill");
        break;
      case ItemKind::text:
        ok = s.draw_text(i, item);
        break;
    }
  }
  if (!ok) *error = s.error;
  return ok;
}

bool HandwrittenSdl::present() {
  SDL_RenderPresent(state_->renderer);
  return true;
}

bool HandwrittenSdl::read_pixels(std::vector<std::uint8_t>& rgba, std::string* error) {
  rgba.assign(static_cast<std::size_t>(kDashboardWidth) * kDashboardHeight * 4, 0);
  if (SDL_RenderReadPixels(state_->renderer, nullptr, SDL_PIXELFORMAT_RGBA32, rgba.data(), kDashboardWidth * 4) != 0) {
    *error = std::string("Read pixels: ") + SDL_GetError();
    return false;
  }
  return true;
}

std::uint64_t HandwrittenSdl::lines_rendered() const { return state_->lines_rendered; }

}  // namespace lumora::bench::peers
