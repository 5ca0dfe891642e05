// A real terminal emulator for tests: libvterm's screen, fed the bytes the
// host writes, read back cell by cell. It judges our output by its own width
// tables and its own handling of wide characters, not by our model.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct VTerm;
struct VTermScreen;

namespace lumora::test {

struct VtermCell {
  std::u32string chars;  // the code points the cell shows; empty for a blank or a right half
  int width = 1;         // 2 for the left half of a wide character
  bool right_half = false;
  std::uint32_t foreground = 0;  // 0xRRGGBB
  std::uint32_t background = 0;
};

class VtermScreen {
 public:
  VtermScreen(int columns, int rows);
  ~VtermScreen();
  VtermScreen(const VtermScreen&) = delete;
  VtermScreen& operator=(const VtermScreen&) = delete;

  void feed(std::string_view bytes);
  VtermCell cell(int column, int row) const;
  // The row as UTF-8, a right half adding nothing and a blank one space.
  std::string row_text(int row) const;

 private:
  VTerm* terminal_;
  VTermScreen* screen_;
  int columns_;
};

}  // namespace lumora::test
