#include "support/vterm_screen.h"

#include <vterm.h>

#include "text/utf8.h"

namespace lumora::test {

VtermScreen::VtermScreen(int columns, int rows) : terminal_(vterm_new(rows, columns)), columns_(columns) {
  vterm_set_utf8(terminal_, 1);
  screen_ = vterm_obtain_screen(terminal_);
  vterm_screen_enable_altscreen(screen_, 1);
  vterm_screen_reset(screen_, 1);
}

VtermScreen::~VtermScreen() { vterm_free(terminal_); }

void VtermScreen::feed(std::string_view bytes) { vterm_input_write(terminal_, bytes.data(), bytes.size()); }

namespace {

std::uint32_t rgb(const VTermScreen* screen, VTermColor colour) {
  vterm_screen_convert_color_to_rgb(screen, &colour);
  return static_cast<std::uint32_t>(colour.rgb.red) << 16 | static_cast<std::uint32_t>(colour.rgb.green) << 8 |
         colour.rgb.blue;
}

}  // namespace

VtermCell VtermScreen::cell(int column, int row) const {
  VtermCell result;
  VTermScreenCell cell{};
  if (!vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell)) return result;
  // libvterm marks the right half of a wide character with the code point -1.
  if (cell.chars[0] == static_cast<std::uint32_t>(-1)) {
    result.right_half = true;
    result.width = 0;
  } else {
    for (int k = 0; k < VTERM_MAX_CHARS_PER_CELL && cell.chars[k] != 0; ++k) result.chars.push_back(cell.chars[k]);
    result.width = cell.width;
  }
  result.foreground = rgb(screen_, cell.fg);
  result.background = rgb(screen_, cell.bg);
  return result;
}

std::string VtermScreen::row_text(int row) const {
  std::string text;
  for (int column = 0; column < columns_; ++column) {
    VtermCell shown = cell(column, row);
    if (shown.right_half) continue;
    if (shown.chars.empty()) text += ' ';
    for (char32_t code_point : shown.chars) text::append_utf8(text, code_point);
  }
  return text;
}

}  // namespace lumora::test
