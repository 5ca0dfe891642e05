// The terminal's cache of decoded PNG image sources: data URIs and file
// paths, loaded on first use through image/png_source.h, kept as packed
// RGBA, and bounded by both count and memory. A source that fails to load is
// cached too, so that its "resource_error" event comes once per load rather
// than once per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::terminal {

class RasterEventSink;

inline constexpr std::size_t kMaxImageEntries = 64;
inline constexpr std::uint64_t kMaxImageCacheBytes = 33554432;  // also the largest charge one entry may have
inline constexpr std::uint64_t kImageEntryOverhead = 41;
inline constexpr const char* kImageLoadFailedText =
    "Terminal images require bounded PNG data; 16-bit sources must use RGBA channels";

// One cached source. `pixels` is null when loading failed.
struct ImageSource {
  std::string source;
  std::unique_ptr<std::uint8_t[]> pixels;  // width × height × 4, R, G, B, A, rows packed top to bottom
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint64_t charge = 0;

  bool loaded() const { return pixels != nullptr; }
};

// What a lookup hands to drawing: a cached entry, or an entry too large to be
// cached, which the handle owns and frees once the drawing is done.
class ImageHandle {
 public:
  ImageHandle() = default;
  static ImageHandle cached(const ImageSource* entry) { return ImageHandle(entry, nullptr); }
  static ImageHandle uncached(std::unique_ptr<ImageSource> entry) {
    const ImageSource* raw = entry.get();
    return ImageHandle(raw, std::move(entry));
  }
  const ImageSource* get() const { return entry_; }
  const ImageSource* operator->() const { return entry_; }
  explicit operator bool() const { return entry_ != nullptr; }
  bool is_cached() const { return entry_ != nullptr && !owned_; }

 private:
  ImageHandle(const ImageSource* entry, std::unique_ptr<ImageSource> owned)
      : entry_(entry), owned_(std::move(owned)) {}
  const ImageSource* entry_ = nullptr;
  std::unique_ptr<ImageSource> owned_;
};

class ImageSourceCache {
 public:
  ImageSourceCache() = default;
  ImageSourceCache(const ImageSourceCache&) = delete;
  ImageSourceCache& operator=(const ImageSourceCache&) = delete;

  // The entry for `source`, loading it on a miss. A failed load queues one
  // "resource_error" through `events` (when given) and is cached without
  // pixels. An empty handle only when memory ran out for the entry itself.
  ImageHandle get_source(std::string_view source, RasterEventSink* events);

  // "reload_image": drops the entry whose source equals `source` byte for
  // byte; true when there was one.
  bool remove(std::string_view source);
  void clear();

  std::uint64_t image_bytes() const { return total_charge_; }  // info "image_bytes"
  std::int32_t image_count() const { return static_cast<std::int32_t>(entries_.size()); }  // info "image_count"

 private:
  std::list<ImageSource> entries_;  // most recently used first
  std::uint64_t total_charge_ = 0;
};

}  // namespace lumora::terminal
