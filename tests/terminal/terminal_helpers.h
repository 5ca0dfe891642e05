// Helpers shared by the terminal unit tests: parsing command text, reading
// frames back as rows of glyphs, printing JSON and recording resource errors.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "json/json.h"
#include "terminal/drawing/cell.h"
#include "terminal/drawing/rasterizer.h"

namespace lumora::terminal::test {

inline json::JsonPtr parse(const std::string& text) {
  json::JsonPtr value(cJSON_Parse(text.c_str()));
  EXPECT_TRUE(value) << text.substr(0, 200);
  return value;
}

inline std::string print(const cJSON* value) {
  if (value == nullptr) return "<null>";
  json::JsonText text = json::print_json(value);
  return text ? std::string(text.get()) : "<unprintable>";
}

inline std::string row_text(const CellFrame& frame, int row) {
  std::string text;
  for (int column = 0; column < frame.columns; ++column) text += frame.at(column, row).glyph;
  return text;
}

inline std::vector<std::string> rows_text(const CellFrame& frame) {
  std::vector<std::string> rows;
  for (int row = 0; row < frame.rows; ++row) rows.push_back(row_text(frame, row));
  return rows;
}

// The rows joined by "/", without trailing blanks or blank rows at the end:
// what was drawn, in one short literal.
inline std::string drawn(const CellFrame& frame) {
  std::string text;
  for (int row = 0; row < frame.rows; ++row) {
    std::string line = row_text(frame, row);
    line.erase(line.find_last_not_of(' ') + 1);
    text += (row ? "/" : "") + line;
  }
  return text.erase(text.find_last_not_of('/') + 1);
}

inline RasterContext grid(int columns, int rows) {
  RasterContext context;
  context.columns = columns;
  context.rows = rows;
  return context;
}

class RecordingSink : public RasterEventSink {
 public:
  void resource_error(std::string_view text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;
};

}  // namespace lumora::terminal::test
