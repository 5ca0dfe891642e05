// What drawing a command into cells needs from the backend besides the
// frame: the grid, the colour mode, the image cache and where to report
// problems. The rasterizer and every drawer it calls take it, so it sits in
// a header of its own that neither side's header has to pull the other in for.
#pragma once

#include <cstdint>
#include <string_view>

namespace lumora::terminal {

class FrameRecycler;
class ImageSourceCache;  // the backend's decoded-image cache (image drawing)

// Where drawing reports problems that do not fail the command (an image that
// cannot be loaded, for instance).
class RasterEventSink {
 public:
  virtual ~RasterEventSink() = default;
  virtual void resource_error(std::string_view text) = 0;
};

// Built by the backend for each composition; everything is borrowed.
struct RasterContext {
  std::int32_t columns = 1;
  std::int32_t rows = 1;
  bool monochrome = false;                  // the colour mode is "none"
  ImageSourceCache* image_cache = nullptr;  // may be null: images draw as placeholders
  RasterEventSink* events = nullptr;        // may be null: events are dropped
  FrameRecycler* frames = nullptr;          // may be null: every composition allocates its frame
};

}  // namespace lumora::terminal
