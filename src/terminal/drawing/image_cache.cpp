#include "terminal/drawing/image_cache.h"

#include <new>

#include "image/png_source.h"
#include "terminal/drawing/rasterizer.h"

namespace lumora::terminal {
namespace {

bool load_image(ImageSource& entry) {
  image::DecodedImage image;
  if (!image::load_png_source(entry.source, image)) return false;
  entry.pixels = std::move(image.pixels);
  entry.width = image.width;
  entry.height = image.height;
  return true;
}

}  // namespace

ImageHandle ImageSourceCache::get_source(std::string_view source, RasterEventSink* events) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->source.size() == source.size() && it->source == source) {
      if (it != entries_.begin()) entries_.splice(entries_.begin(), entries_, it);
      return ImageHandle::cached(&entries_.front());
    }
  }

  auto entry = std::unique_ptr<ImageSource>(new (std::nothrow) ImageSource());
  if (!entry) return {};
  bool loaded = false;
  try {
    entry->source.assign(source);
  } catch (const std::bad_alloc&) {
    return {};
  }
  try {
    loaded = load_image(*entry);
  } catch (const std::bad_alloc&) {
    loaded = false;
  }
  if (!loaded) {
    entry->pixels.reset();
    entry->width = 0;
    entry->height = 0;
    if (events != nullptr) events->resource_error(kImageLoadFailedText);
  }
  entry->charge = static_cast<std::uint64_t>(source.size()) + kImageEntryOverhead +
                  (loaded ? 4 * static_cast<std::uint64_t>(entry->width) * static_cast<std::uint64_t>(entry->height)
                          : 0);

  if (entry->charge > kMaxImageCacheBytes) return ImageHandle::uncached(std::move(entry));

  while (!entries_.empty() &&
         (entries_.size() >= kMaxImageEntries || total_charge_ + entry->charge > kMaxImageCacheBytes)) {
    total_charge_ -= entries_.back().charge;
    entries_.pop_back();
  }
  try {
    entries_.push_front(std::move(*entry));
  } catch (const std::bad_alloc&) {
    return ImageHandle::uncached(std::move(entry));
  }
  total_charge_ += entries_.front().charge;
  return ImageHandle::cached(&entries_.front());
}

bool ImageSourceCache::remove(std::string_view source) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->source.size() == source.size() && it->source == source) {
      total_charge_ -= it->charge;
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

void ImageSourceCache::clear() {
  entries_.clear();
  total_charge_ = 0;
}

}  // namespace lumora::terminal
