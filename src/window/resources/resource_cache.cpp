// Fonts, text textures, PNG images, coverage masks and the texture cache
// that bounds them all.
//
// Long lines: SDL2_ttf shapes a whole line at once, with HarfBuzz buffers of
// about 50 bytes per glyph, and keeps a per-font position buffer as large as
// the longest line it ever shaped. So no call here hands it more than
// kShapePieceBytes at a time, except to rasterise a line whose whole surface
// fits the scratch cap (and so has a bounded glyph count). Lines longer than
// a piece are measured piece by piece and their widths added: exact for
// lines up to a piece, and off by the kerning across piece boundaries (a
// pixel or so per piece) beyond.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/png_decode.h"
#include "text/hash.h"
#include "image/png_source.h"
#include "platform/file_read.h"
#include "window/render/coverage_mask.h"
#include "window/render/soft_shadow.h"
#include "window/window_backend.h"

namespace lumora::window {

namespace {

using scene::ColorValue;

constexpr std::size_t kShapePieceBytes = 4096;
// Whole-line rasterisation for a cropped line is exact; it is allowed while
// the line's full surface stays within this many bytes.
constexpr std::uint64_t kTextScratchBytes = 33554432;

constexpr std::string_view kPngDataUriPrefix = "data:image/png;base64,";
constexpr std::size_t kMaxPngDataUriPayload = 11184812;
constexpr std::uint64_t kMaxPngStreamBytes = 8388608;
constexpr std::size_t kMinPngStreamBytes = 33;
constexpr std::uint64_t kImageBudget = 33554432;

using text::fnv1a32;

// Lines longer than this are keyed by a digest of their bytes instead of
// the bytes themselves, so that a line of any length costs its texture,
// not its length, in the text budget.
constexpr std::size_t kLongLineKeyBytes = 256;

std::uint64_t budget_of(TextureClass texture_class) {
  return texture_class == TextureClass::text ? kTextTextureBudget : kTextureBudget;
}

// Where a piece of at most `limit` bytes starting at `text` ends without
// cutting a UTF-8 sequence.
std::size_t piece_length(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end == 0 ? limit : end;
}

// Two independent 64-bit digests of a string: FNV-1a and a multiply-xorshift.
struct Digest {
  std::uint64_t first = 0xcbf29ce484222325ull;
  std::uint64_t second = 0x6c62272e07bb0142ull;
};

Digest digest_of(std::string_view bytes) {
  Digest d;
  for (unsigned char c : bytes) {
    d.first ^= c;
    d.first *= 0x100000001b3ull;
    d.second += c;
    d.second *= 0xc2b2ae3d27d4eb4full;
    d.second ^= d.second >> 29;
  }
  return d;
}

std::string image_key(std::string_view source) {
  const Digest d = digest_of(source);
  char key[kMaxImageKeyChars + 1];
  std::snprintf(key, sizeof key, "image:%016llx:%016llx:%llu", static_cast<unsigned long long>(d.first),
                static_cast<unsigned long long>(d.second), static_cast<unsigned long long>(source.size()));
  return key;
}

// The line's part of a text key: its bytes, or for a long line a digest.
void append_line_key(std::string& key, std::string_view line) {
  if (line.size() <= kLongLineKeyBytes) {
    key.append(line);
    return;
  }
  const Digest d = digest_of(line);
  char digest[64];
  std::snprintf(digest, sizeof digest, "#%016llx:%016llx:%llu", static_cast<unsigned long long>(d.first),
                static_cast<unsigned long long>(d.second), static_cast<unsigned long long>(line.size()));
  key.append(digest);
}

std::uint32_t read_u32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool base64_digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard Base64 of a length that is a multiple of 4, whose "=" padding
// (at most two) runs to the end.
bool payload_well_formed(std::string_view payload) {
  if (payload.size() > kMaxPngDataUriPayload || payload.size() % 4 != 0) return false;
  std::size_t digits = payload.find('=');
  if (digits == std::string_view::npos) digits = payload.size();
  if (payload.size() - digits > 2) return false;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    if (i < digits ? !base64_digit(payload[i]) : payload[i] != '=') return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- fonts

TTF_Font* WindowBackend::get_font(double points, bool mono) {
  const double rounded = std::max(1.0, round_half_even(points * scale_));
  if (!(rounded <= kMaxFontPixelSize)) {
    set_error("Font pixel size exceeds 2048");
    return nullptr;
  }
  const int pixel_size = static_cast<int>(rounded);
  for (FontSlot& slot : fonts_) {
    if (slot.font != nullptr && slot.pixel_size == pixel_size && slot.mono == mono) {
      slot.stamp = next_stamp();
      return slot.font.get();
    }
  }
  FontSlot* target = nullptr;
  for (std::size_t i = kFontSlots; i-- > 0;) {
    if (fonts_[i].font == nullptr) {
      target = &fonts_[i];
      break;
    }
  }
  if (target == nullptr) {
    target = &fonts_[0];
    for (FontSlot& slot : fonts_) {
      if (slot.stamp < target->stamp) target = &slot;
    }
  }
  target->font.reset();
  const std::string path = font_dir_ + "/" + (mono ? kMonospaceFontFile : kProportionalFontFile);
  target->pixel_size = pixel_size;
  target->mono = mono;
  target->stamp = next_stamp();
  // The font directory comes from the controller: a font file that is a
  // FIFO would block the host.
  SDL_RWops* file = open_regular_file_stream(path.c_str(), false);
  target->font.reset(file != nullptr ? TTF_OpenFontRW(file, 1, pixel_size) : nullptr);
  if (target->font == nullptr) {
    set_sdl_error("Open bundled font");
    return nullptr;
  }
  return target->font.get();
}

bool WindowBackend::measure_line(TTF_Font* font, int, bool, std::string_view line, int& width, int& height,
                                 std::int64_t stop_after) {
  width = 0;
  height = 0;
  std::string piece;
  while (!line.empty() && width <= stop_after) {
    const std::size_t length = piece_length(line, kShapePieceBytes);
    piece.assign(line.substr(0, length));
    line.remove_prefix(length);
    int w = 0, h = 0;
    SDL_ClearError();
    ++ttf_calls_;
    if (TTF_SizeUTF8(font, piece.c_str(), &w, &h) != 0) return false;
    width += w;
    height = std::max(height, h);
  }
  return true;
}

// Segment bounds measure every text of a patch; a dashboard patched every
// second measures the same labels again and again. Short lines remember
// their width (bounded: the table starts afresh when full).
bool WindowBackend::measured_width(TTF_Font* font, int pixel_size, bool mono, std::string_view line, int& width) {
  if (line.size() > kLongLineKeyBytes) {
    int height = 0;
    return measure_line(font, pixel_size, mono, line, width, height);
  }
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%d:%c:", pixel_size, mono ? '1' : '0');
  measure_key_.assign(prefix);
  measure_key_.append(line);
  if (const auto found = measured_widths_.find(measure_key_); found != measured_widths_.end()) {
    width = found->second;
    return true;
  }
  int height = 0;
  if (!measure_line(font, pixel_size, mono, line, width, height)) return false;
  if (measured_widths_.size() >= kMeasuredLines) measured_widths_.clear();
  measured_widths_.emplace(measure_key_, width);
  return true;
}

bool WindowBackend::measure_text(std::string_view text, double points, bool mono, double& width, double& height) {
  TTF_Font* font = get_font(points, mono);
  if (font == nullptr) return false;
  const int pixel_size = static_cast<int>(std::max(1.0, round_half_even(points * scale_)));
  std::int64_t widest = 0;
  std::int64_t lines = 1;
  for (;;) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (!line.empty()) {
      int w = 0;
      if (!measured_width(font, pixel_size, mono, line, w)) {
        set_sdl_error("Measure text");
        return false;
      }
      widest = std::max<std::int64_t>(widest, w);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
    ++lines;
  }
  width = static_cast<double>(widest) / scale_;
  height = static_cast<double>(TTF_FontHeight(font)) * static_cast<double>(lines) / scale_;
  return true;
}

SurfacePtr WindowBackend::render_line_surface(TTF_Font* font, std::string_view line, ColorValue colour) {
  const std::string copy(line);
  SDL_ClearError();
  ++ttf_calls_;
  return SurfacePtr(TTF_RenderUTF8_Blended(font, copy.c_str(), SDL_Color{colour.r, colour.g, colour.b, 255}));
}

bool WindowBackend::draw_text_line(std::string_view line, double x, double y, ColorValue colour, double points,
                                   bool mono) {
  if (line.empty() || !colour.present || colour.a == 0) return true;
  const double rounded = round_half_even(points * scale_);
  const int pixel_size = rounded > kMaxFontPixelSize ? kMaxFontPixelSize + 1 : static_cast<int>(std::max(0.0, rounded));
  // An opaque colour is rasterised into the texture itself: copying it then
  // needs no colour modulation, which costs the software renderer more than
  // the blending. Translucent colours tint a white texture.
  const bool white = colour.r == 255 && colour.g == 255 && colour.b == 255;
  const bool coloured = !white && colour.a == 255 && fast_text_;
  char prefix[48];
  if (coloured) {
    std::snprintf(prefix, sizeof prefix, "text-rgb:%d:%c:%02x%02x%02x:", pixel_size, mono ? '1' : '0', colour.r,
                  colour.g, colour.b);
  } else {
    std::snprintf(prefix, sizeof prefix, "text:%d:%c:", pixel_size, mono ? '1' : '0');
  }
  // A very long line leaves no large buffer behind for the rest of the session.
  constexpr std::size_t kKeptKeyBytes = 4096;
  if (text_key_.capacity() > kKeptKeyBytes) std::string().swap(text_key_);
  std::string& key = text_key_;
  key.assign(prefix);
  append_line_key(key, line);
  PixelRect target{saturate_to_pixels(round_half_even(x * scale_)), saturate_to_pixels(round_half_even(y * scale_)), 0,
                   0};
  TextureRef texture = find_cached_texture(key);
  if (texture == nullptr) {
    TTF_Font* font = get_font(points, mono);
    if (font == nullptr) return false;
    int w = 0, h = 0;
    // Measuring stops once the line has passed the right edge of what may
    // be painted: the rest of a long line cannot be seen.
    const PixelRect painted = canvas_.bounds();
    const std::int64_t stop_after = std::max<std::int64_t>(0, painted.x + painted.w - target.x);
    if (!measure_line(font, pixel_size, mono, line, w, h, stop_after)) {
      set_sdl_error("Measure text texture");
      return false;
    }
    if (w <= 0 || h <= 0) return true;
    target.w = w;
    target.h = h;
    const PixelRect bounds = canvas_.clip() != nullptr ? *canvas_.clip() : PixelRect{0, 0, pixel_w_, pixel_h_};
    // A line of one piece is always measured whole.
    const bool partial = w > stop_after && line.size() > kShapePieceBytes;
    if (w > bounds.w || h > bounds.h || partial) {
      return draw_visible_text(font, line, pixel_size, mono, target, colour, !partial);
    }
    if (key.size() + static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * 4 > kTextTextureBudget) {
      set_error("Text texture exceeds native resource budget");
      return false;
    }
    SurfacePtr surface = render_line_surface(font, line, coloured ? colour : scene::rgba(255, 255, 255, 255));
    texture = create_cached_texture(key, TextureClass::text, std::move(surface));
    if (texture == nullptr) return false;
  }
  target.w = texture->width;
  target.h = texture->height;
  return draw_texture(texture, target, nullptr, coloured ? scene::rgba(255, 255, 255, 255) : colour);
}

bool WindowBackend::draw_visible_text(TTF_Font* font, std::string_view line, int pixel_size, bool mono,
                                      const PixelRect& text_rect, ColorValue colour, bool measured_whole) {
  PixelRect visible_rect = intersect(text_rect, PixelRect{0, 0, pixel_w_, pixel_h_});
  if (const PixelRect* clip = canvas_.clip()) visible_rect = intersect(visible_rect, *clip);
  if (visible_rect.empty()) return true;
  char prefix[160];
  std::snprintf(prefix, sizeof prefix, "text-crop:%d:%d:%lld:%lld:%lld:%lld:", pixel_size, mono ? 1 : 0,
                static_cast<long long>(visible_rect.x - text_rect.x), static_cast<long long>(visible_rect.y - text_rect.y),
                static_cast<long long>(visible_rect.w), static_cast<long long>(visible_rect.h));
  std::string key = prefix;
  append_line_key(key, line);
  TextureRef texture = find_cached_texture(key);
  if (texture == nullptr) {
    const auto vw = static_cast<std::uint64_t>(visible_rect.w);
    const auto vh = static_cast<std::uint64_t>(visible_rect.h);
    if (key.size() + vw * vh * 4 > kTextTextureBudget) {
      set_error("Text texture exceeds native resource budget");
      return false;
    }
    SurfacePtr visible(SDL_CreateRGBSurfaceWithFormat(0, static_cast<int>(vw), static_cast<int>(vh), 32,
                                                      SDL_PIXELFORMAT_ARGB8888));
    if (visible == nullptr || SDL_FillRect(visible.get(), nullptr, SDL_MapRGBA(visible->format, 255, 255, 255, 0)) != 0) {
      set_sdl_error("Render clipped text");
      return false;
    }
    const std::int64_t offset_x = visible_rect.x - text_rect.x;
    const std::int64_t offset_y = visible_rect.y - text_rect.y;
    const std::uint64_t whole_bytes =
        static_cast<std::uint64_t>(text_rect.w) * static_cast<std::uint64_t>(text_rect.h) * 4;
    if (measured_whole && whole_bytes <= kTextScratchBytes) {
      // Exact: the whole line as one surface, cropped.
      SurfacePtr whole = render_line_surface(font, line, scene::rgba(255, 255, 255, 255));
      if (whole == nullptr || SDL_SetSurfaceBlendMode(whole.get(), SDL_BLENDMODE_NONE) != 0) {
        set_sdl_error("Render clipped text");
        return false;
      }
      SDL_Rect source{static_cast<int>(offset_x), static_cast<int>(offset_y), static_cast<int>(vw), static_cast<int>(vh)};
      if (SDL_BlitSurface(whole.get(), &source, visible.get(), nullptr) != 0) {
        set_sdl_error("Render clipped text");
        return false;
      }
    } else {
      // Bounded: the line in pieces small enough that one piece's surface
      // stays well within the scratch cap, each measured to find its place
      // and rasterised only when it meets the visible columns. Shaping
      // across piece boundaries is lost, as for measuring.
      const std::uint64_t per_byte = static_cast<std::uint64_t>(pixel_size) * 2 * static_cast<std::uint64_t>(text_rect.h) * 4;
      const std::size_t piece_bytes =
          std::clamp<std::size_t>(static_cast<std::size_t>(kTextScratchBytes / 2 / std::max<std::uint64_t>(1, per_byte)), 4,
                                  kShapePieceBytes);
      std::int64_t pen = 0;
      std::string_view rest = line;
      while (!rest.empty() && pen < offset_x + visible_rect.w) {
        const std::size_t length = piece_length(rest, piece_bytes);
        const std::string_view piece = rest.substr(0, length);
        rest.remove_prefix(length);
        int w = 0, h = 0;
        if (!measure_line(font, pixel_size, mono, piece, w, h)) {
          set_sdl_error("Render clipped text");
          return false;
        }
        if (pen + w > offset_x && w > 0) {
          SurfacePtr part = render_line_surface(font, piece, scene::rgba(255, 255, 255, 255));
          if (part == nullptr || SDL_SetSurfaceBlendMode(part.get(), SDL_BLENDMODE_NONE) != 0) {
            set_sdl_error("Render clipped text");
            return false;
          }
          SDL_Rect place{static_cast<int>(pen - offset_x), static_cast<int>(-offset_y), part->w, part->h};
          if (SDL_BlitSurface(part.get(), nullptr, visible.get(), &place) != 0) {
            set_sdl_error("Render clipped text");
            return false;
          }
        }
        pen += w;
      }
    }
    texture = create_cached_texture(std::move(key), TextureClass::text, std::move(visible));
    if (texture == nullptr) return false;
  }
  return draw_texture(texture, visible_rect, nullptr, colour);
}

// ---------------------------------------------------------------- texture cache

std::uint64_t WindowBackend::texture_bytes() const {
  std::uint64_t total = 0;
  for (std::uint64_t bytes : class_bytes_) total += bytes;
  return total;
}

TextureRef WindowBackend::stamp(CachedTexture& entry) {
  entry.stamp = next_stamp();
  return &entry;
}

TextureRef WindowBackend::find_cached_texture(std::string_view key) {
  const std::uint32_t hash = fnv1a32(key);
  for (CachedTexture* entry : buckets_[hash & (kTextureBuckets - 1)]) {
    if (entry->hash == hash && entry->key == key) return stamp(*entry);
  }
  return nullptr;
}

void WindowBackend::evict(std::list<CachedTexture>::iterator entry) {
  auto& bucket = buckets_[entry->hash & (kTextureBuckets - 1)];
  bucket.erase(std::find(bucket.begin(), bucket.end(), &*entry));
  class_bytes_[static_cast<int>(entry->texture_class)] -= entry->cost;
  textures_.erase(entry);  // destroys the texture and frees the key
}

void WindowBackend::destroy_all_textures() {
  textures_.clear();
  for (auto& bucket : buckets_) bucket.clear();
  class_bytes_.fill(0);
}

void WindowBackend::forget_source_identities() {
  for (CachedTexture& entry : textures_) entry.source_identity = nullptr;
}

TextureRef WindowBackend::create_cached_texture(std::string key, TextureClass texture_class, SurfacePtr surface) {
  if (surface == nullptr) {
    set_sdl_error("Create image/text surface");
    return nullptr;
  }
  const std::uint64_t budget = budget_of(texture_class);
  const std::uint64_t room = budget >= key.size() + 1 ? budget - 1 - key.size() : 0;
  const std::int64_t w = surface->w, h = surface->h, pitch = surface->pitch;
  if (w <= 0 || h <= 0 || pitch <= 0 || w * h > kMaxTexturePixels || static_cast<std::uint64_t>(pitch * h) > room ||
      static_cast<std::uint64_t>(w * h) > room / 4 || budget < key.size() + 1) {
    set_error("Texture exceeds native resource budget");
    return nullptr;
  }
  TexturePtr texture(SDL_CreateTextureFromSurface(canvas_.renderer(), surface.get()));
  surface.reset();
  if (texture == nullptr) {
    set_sdl_error("Upload texture");
    return nullptr;
  }
  Uint32 format = 0;
  if (SDL_QueryTexture(texture.get(), &format, nullptr, nullptr, nullptr) != 0 || format == SDL_PIXELFORMAT_UNKNOWN ||
      SDL_ISPIXELFORMAT_FOURCC(format)) {
    set_error("Texture exceeds native resource budget or has an unsupported format");
    return nullptr;
  }
  const std::uint64_t bytes_per_pixel = SDL_ISPIXELFORMAT_INDEXED(format) ? 1 : SDL_BYTESPERPIXEL(format);
  const std::uint64_t pixels = static_cast<std::uint64_t>(w * h);
  const std::uint64_t cost = key.size() + 1 +
                             std::max({pixels * bytes_per_pixel, 4 * pixels, static_cast<std::uint64_t>(pitch * h)});
  if (cost - key.size() - 1 > room) {
    set_error("Texture exceeds native resource budget or has an unsupported format");
    return nullptr;
  }
  if (SDL_SetTextureBlendMode(texture.get(), SDL_BLENDMODE_BLEND) != 0 ||
      SDL_SetTextureScaleMode(texture.get(), SDL_ScaleModeLinear) != 0) {
    set_sdl_error("Configure texture");
    return nullptr;
  }
  const int class_index = static_cast<int>(texture_class);
  while (textures_.size() >= kMaxTextureEntries || class_bytes_[class_index] + cost > budget) {
    const bool any_class = textures_.size() >= kMaxTextureEntries;
    auto victim = textures_.end();
    for (auto it = textures_.begin(); it != textures_.end(); ++it) {
      if (!any_class && it->texture_class != texture_class) continue;
      if (victim == textures_.end() || it->stamp < victim->stamp) victim = it;
    }
    if (victim == textures_.end()) break;
    evict(victim);
  }
  CachedTexture entry;
  entry.hash = fnv1a32(key);
  entry.key = std::move(key);
  entry.texture = std::move(texture);
  entry.width = static_cast<int>(w);
  entry.height = static_cast<int>(h);
  entry.texture_class = texture_class;
  entry.cost = cost;
  entry.stamp = next_stamp();
  textures_.push_front(std::move(entry));
  CachedTexture& inserted = textures_.front();
  buckets_[inserted.hash & (kTextureBuckets - 1)].push_back(&inserted);
  class_bytes_[class_index] += cost;
  return &inserted;
}

// ---------------------------------------------------------------- images

bool WindowBackend::load_png(std::string_view source, std::uint64_t budget, SurfacePtr& surface) {
  std::vector<std::uint8_t> data;
  if (source.starts_with(kPngDataUriPrefix)) {
    const std::string_view payload = source.substr(kPngDataUriPrefix.size());
    if (!payload_well_formed(payload)) {
      set_error("Invalid PNG data URI or encoded input exceeds 8 MiB");
      return false;
    }
    const std::size_t padding = payload.size() - std::min(payload.size(), payload.find('='));
    if (payload.size() / 4 * 3 - padding > kMaxPngStreamBytes) {
      set_error("PNG encoded input exceeds 8 MiB");
      return false;
    }
    if (!image::decode_base64_payload(payload, data)) {
      set_error("Invalid PNG data URI or encoded input exceeds 8 MiB");
      return false;
    }
  } else {
    // Opened by the files rule: a FIFO or device is refused, never waited on.
    const std::string path(source);
    switch (platform::read_file_bounded(path.c_str(), kMaxPngStreamBytes, data)) {
      case platform::FileReadStatus::ok:
        break;
      case platform::FileReadStatus::cannot_open:
        SDL_SetError("Couldn't open %s", path.c_str());
        set_sdl_error("Open PNG image");
        return false;
      case platform::FileReadStatus::not_regular:
      case platform::FileReadStatus::too_large:
        set_error("PNG encoded input exceeds 8 MiB or has unknown size");
        return false;
      case platform::FileReadStatus::read_failed:
      case platform::FileReadStatus::out_of_memory:
        set_error("Cannot read a stable bounded PNG image");
        return false;
    }
  }
  if (data.size() > kMaxPngStreamBytes) {
    set_error("PNG encoded input exceeds 8 MiB");
    return false;
  }
  static constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (data.size() < kMinPngStreamBytes || std::memcmp(data.data(), kSignature, 8) != 0 || read_u32(&data[8]) != 13 ||
      std::memcmp(&data[12], "IHDR", 4) != 0) {
    set_error("Native window images require PNG data");
    return false;
  }
  const std::uint32_t width = read_u32(&data[16]);
  const std::uint32_t height = read_u32(&data[20]);
  const std::uint8_t bit_depth = data[24];
  const std::uint8_t colour_type = data[25];
  if (bit_depth == 16 && colour_type != 6) {
    set_error("Native 16-bit PNG images require RGBA channels");
    return false;
  }
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  if (width == 0 || height == 0 || pixels > budget / (bit_depth == 16 ? 8 : 4)) {
    set_error("PNG dimensions exceed the 32 MiB native image budget");
    return false;
  }
  ++counters_.image_decode_attempts;
  // Corrupt or truncated data is refused here: the decoder would report it
  // on standard error, which the host keeps for its own protocol notice.
  if (!image::png_chunks_intact(data.data(), data.size())) {
    SDL_SetError("corrupt or truncated PNG data");
    set_sdl_error("Decode PNG image");
    return false;
  }
  image::DecodedImage decoded;
  SDL_ClearError();
  if (!image::decode_png_rgba(data.data(), data.size(), pixels, decoded)) {
    set_sdl_error("Decode PNG image");
    return false;
  }
  data = {};
  surface.reset(SDL_CreateRGBSurfaceWithFormat(0, decoded.width, decoded.height, 32, SDL_PIXELFORMAT_ABGR8888));
  if (surface == nullptr) {
    set_sdl_error("Decode PNG image");
    return false;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(decoded.width) * 4;
  for (int row = 0; row < decoded.height; ++row) {
    std::memcpy(static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::size_t>(row) * surface->pitch,
                decoded.pixels.get() + row * row_bytes, row_bytes);
  }
  return true;
}

TextureRef WindowBackend::get_image_texture(const char* source, std::size_t length) {
  for (CachedTexture& entry : textures_) {
    if (entry.source_identity == source) return stamp(entry);
  }
  const std::string_view text(source, length);
  const std::string key = image_key(text);
  if (CachedTexture* entry = const_cast<CachedTexture*>(find_cached_texture(key))) {
    entry->source_identity = source;
    return entry;
  }
  for (FailedImage& record : failed_images_) {
    if (record.stamp != 0 && record.key == key) {
      record.stamp = next_stamp();
      return nullptr;
    }
  }
  SurfacePtr surface;
  if (load_png(text, kImageBudget - (key.size() + 1), surface)) {
    if (TextureRef created = create_cached_texture(key, TextureClass::image, std::move(surface))) {
      const_cast<CachedTexture*>(created)->source_identity = source;
      return created;
    }
  }
  FailedImage* record = &failed_images_[0];
  for (FailedImage& candidate : failed_images_) {
    if (candidate.stamp < record->stamp) record = &candidate;
  }
  record->key = key;
  record->stamp = next_stamp();
  char text_buffer[600];
  std::snprintf(text_buffer, sizeof text_buffer, "sdl3 image unavailable: %.512s",
                error_.empty() ? SDL_GetError() : error_.c_str());
  json::JsonPtr event(cJSON_CreateObject());
  if (event != nullptr) {
    cJSON_AddItemToObject(event.get(), "kind", cJSON_CreateString("resource_error"));
    cJSON_AddItemToObject(event.get(), "text", cJSON_CreateString(text_buffer));
    queue_event(std::move(event));
  }
  error_.clear();
  return nullptr;
}

void WindowBackend::reload_image(std::string_view source) {
  const std::string key = image_key(source);
  const std::uint32_t hash = fnv1a32(key);
  for (auto it = textures_.begin(); it != textures_.end(); ++it) {
    if (it->hash == hash && it->key == key) {
      evict(it);
      break;
    }
  }
  for (FailedImage& record : failed_images_) {
    if (record.stamp != 0 && record.key == key) record = FailedImage{};
  }
  ++resource_revision_;
  invalidate_scene_cache();
}

// ---------------------------------------------------------------- masks

TextureRef WindowBackend::get_mask(std::int64_t w, std::int64_t h, double radius, double ring, int mode) {
  if (w < 1 || h < 1 || w > kMaxMaskSide || h > kMaxMaskSide || w * h > kMaxMaskPixels) {
    set_error("Mask exceeds native resource budget");
    return nullptr;
  }
  char key[128];
  std::snprintf(key, sizeof key, "mask:%d:%d:%.12g:%.12g:%d", static_cast<int>(w), static_cast<int>(h), radius, ring, mode);
  if (TextureRef hit = find_cached_texture(key)) return hit;
  SurfacePtr surface(SDL_CreateRGBSurfaceWithFormat(0, static_cast<int>(w), static_cast<int>(h), 32,
                                                    SDL_PIXELFORMAT_ABGR8888));
  if (surface == nullptr) {
    set_sdl_error("Allocate mask");
    return nullptr;
  }
  ++masks_built_;
  for (std::int64_t row = 0; row < h; ++row) {
    auto* pixel = static_cast<std::uint8_t*>(surface->pixels) + row * surface->pitch;
    for (std::int64_t column = 0; column < w; ++column, pixel += 4) {
      pixel[0] = pixel[1] = pixel[2] = 255;
      pixel[3] = mode < 0 ? mask_coverage(w, h, radius, ring, column, row)
                          : blurred_mask_coverage(w, h, radius, mode, column, row);
    }
  }
  return create_cached_texture(key, mode < 0 ? TextureClass::shape_mask : TextureClass::blurred_mask, std::move(surface));
}

}  // namespace lumora::window
