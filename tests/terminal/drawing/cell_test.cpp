#include "terminal/drawing/cell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace lumora::terminal {
namespace {

TEST(GlyphPool, ChargesEachGlyphOnceUpToSixteenMebibytes) {
  GlyphPool pool;
  const char* line = pool.intern("─");
  EXPECT_EQ(pool.intern(std::string("─")), line);
  EXPECT_STREQ(line, "─");
  EXPECT_EQ(pool.total_bytes(), 3u + 16u);

  const std::string big(GlyphPool::kMaxBytes - 2 * 16 - 3 - 100, 'x');
  ASSERT_NE(pool.intern(big), nullptr);
  EXPECT_NE(pool.intern(std::string(84, 'y')), nullptr);  // exactly at the limit
  EXPECT_EQ(pool.total_bytes(), GlyphPool::kMaxBytes);
  EXPECT_EQ(pool.intern("z"), nullptr);
  EXPECT_NE(pool.intern(big), nullptr);  // already stored: no new charge
  // Many distinct small glyphs stay distinct (the pool's index grows) until it is full.
  GlyphPool many;
  std::vector<const char*> stored;
  for (int i = 0; i < 20000; ++i) stored.push_back(many.intern(std::to_string(i)));
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(many.intern(std::to_string(i)), stored[i]) << i;
  EXPECT_STREQ(stored[12345], "12345");
}

// A cleared pool is a new one: every glyph, one-byte glyphs found by their
// byte included, is stored and charged again.
TEST(GlyphPool, ClearedPoolStoresAndChargesEveryGlyphAgain) {
  GlyphPool pool;
  const std::vector<std::string> glyphs = {"a", "~", " ", "\x7f", "\xC3\xA9", "─", "ab", "a\xCC\x81"};
  std::uint64_t expected_bytes = 0;
  for (const std::string& glyph : glyphs) expected_bytes += glyph.size() + GlyphPool::kEntryOverhead;
  for (int round = 0; round < 3; ++round) {
    std::vector<const char*> stored;
    for (const std::string& glyph : glyphs) stored.push_back(pool.intern(glyph));
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      ASSERT_NE(stored[i], nullptr);
      EXPECT_EQ(std::string(stored[i]), glyphs[i]);
      EXPECT_EQ(pool.intern(glyphs[i]), stored[i]) << round << " " << glyphs[i];
    }
    EXPECT_EQ(pool.total_bytes(), expected_bytes) << round;
    // Thousands of distinct glyphs fill many buckets, which the clear forgets.
    for (int i = 0; i < 5000; ++i) ASSERT_NE(pool.intern("g" + std::to_string(i)), nullptr);
    pool.clear();
    EXPECT_EQ(pool.total_bytes(), 0u);
  }
}

// One-byte glyphs are the same address in every pool, so that equal text in
// two frames is equal bytes; each pool still charges them.
TEST(GlyphPool, OneByteGlyphsAreSharedConstantsYetCharged) {
  GlyphPool first, second;
  for (int byte = 1; byte < 128; ++byte) {
    const std::string glyph(1, static_cast<char>(byte));
    const char* a = first.intern(glyph);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(second.intern(glyph), a) << byte;
    EXPECT_EQ(std::string(a), glyph);
  }
  EXPECT_EQ(first.total_bytes(), 127u * (1u + GlyphPool::kEntryOverhead));
  EXPECT_NE(first.intern("\xC3\xA9"), second.intern("\xC3\xA9"));  // longer glyphs are the pool's own
  // A full pool refuses a new one-byte glyph like any other.
  GlyphPool full;
  ASSERT_NE(full.intern(std::string(GlyphPool::kMaxBytes - 16, 'x')), nullptr);
  EXPECT_EQ(full.intern("q"), nullptr);
}

TEST(InternGlyph, FullPoolGivesQuestionMarkAndFlagsTheFrame) {
  CellFrameRef frame = make_cell_frame(2, 1);
  ASSERT_TRUE(frame);
  ASSERT_NE(frame->pool.intern(std::string(GlyphPool::kMaxBytes - 16, 'x')), nullptr);
  EXPECT_FALSE(frame->pool_exhausted);
  EXPECT_STREQ(intern_glyph(*frame, "a"), "?");
  EXPECT_TRUE(frame->pool_exhausted);
  // Refused, not remembered: after a clear the byte is stored again.
  EXPECT_STREQ(intern_glyph(*frame, "a"), "?");
  frame->pool.clear();
  EXPECT_STREQ(intern_glyph(*frame, "a"), "a");
  EXPECT_EQ(frame->pool.total_bytes(), 1u + GlyphPool::kEntryOverhead);
}

// Runs of every length, at every offset, hold exactly the value given and
// leave the cells around them as they were.
TEST(FillCellRun, WritesExactlyTheRunWithTheValuesBytes) {
  Cell value;
  std::memset(static_cast<void*>(&value), 0, sizeof value);
  blank_cell(value);
  value.set_background(scene::rgba(1, 2, 3, 255));
  value.glyph = "#";
  Cell border;
  std::memset(static_cast<void*>(&border), 0xAB, sizeof border);
  for (std::size_t offset = 0; offset < 3; ++offset) {
    for (std::size_t count = 0; count <= 11; ++count) {
      std::vector<Cell> cells(16);
      std::memset(static_cast<void*>(cells.data()), 0xAB, cells.size() * sizeof(Cell));
      fill_cell_run(cells.data() + offset, count, value);
      for (std::size_t i = 0; i < cells.size(); ++i) {
        const Cell& expected = i >= offset && i < offset + count ? value : border;
        ASSERT_EQ(std::memcmp(&cells[i], &expected, sizeof(Cell)), 0) << offset << " " << count << " " << i;
      }
    }
  }
}

TEST(CellFrame, NewFrameIsBlankWhiteOnBlackWithinTheGridLimits) {
  CellFrameRef frame = make_cell_frame(3, 2);
  ASSERT_TRUE(frame);
  EXPECT_EQ(std::make_pair(frame->clip.x1, frame->clip.y1), std::make_pair(std::int64_t{3}, std::int64_t{2}));
  const Cell& cell = frame->at(2, 1);
  EXPECT_STREQ(cell.glyph, " ");
  EXPECT_EQ(cell.foreground(), (scene::rgba(255, 255, 255, 255)));
  EXPECT_EQ(cell.background(), (scene::rgba(0, 0, 0, 255)));
  EXPECT_EQ(cell.width, 1);
  EXPECT_EQ(cell.kind, CellKind::plain);
  EXPECT_FALSE(make_cell_frame(0, 1));
  EXPECT_FALSE(make_cell_frame(16385, 1));
  EXPECT_FALSE(make_cell_frame(2000, 1000));
  EXPECT_TRUE(make_cell_frame(16384, 64));
}

TEST(CellFrameRef, CountsReferences) {
  CellFrameRef first = make_cell_frame(1, 1);
  CellFrame* raw = first.get();
  CellFrameRef second = first;
  CellFrameRef third = std::move(second);
  EXPECT_FALSE(second);
  EXPECT_EQ(raw->refcount, 2);
  third.reset();
  retain_frame(raw);
  CellFrameRef adopted = CellFrameRef::adopt(raw);
  first.reset();
  EXPECT_EQ(raw->refcount, 1);
  adopted = adopted;  // self-assignment keeps the frame alive
  EXPECT_EQ(raw->refcount, 1);
}

}  // namespace
}  // namespace lumora::terminal
