// An owned C runtime file, for the Windows file modules (which open by
// wide-character path with _wfopen).
#pragma once

#include <cstdio>
#include <memory>

namespace lumora::platform {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace lumora::platform
