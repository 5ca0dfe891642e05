#include "terminal/drawing/cell.h"

#include <gtest/gtest.h>

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

TEST(InternGlyph, FullPoolGivesQuestionMarkAndFlagsTheFrame) {
  CellFrameRef frame = make_cell_frame(2, 1);
  ASSERT_TRUE(frame);
  ASSERT_NE(frame->pool.intern(std::string(GlyphPool::kMaxBytes - 16, 'x')), nullptr);
  EXPECT_FALSE(frame->pool_exhausted);
  EXPECT_STREQ(intern_glyph(*frame, "a"), "?");
  EXPECT_TRUE(frame->pool_exhausted);
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
