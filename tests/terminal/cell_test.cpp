#include "terminal/cell.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace lumora::terminal {
namespace {

TEST(Fnv1a, StandardVectors) {
  EXPECT_EQ(fnv1a32(""), 2166136261u);
  EXPECT_EQ(fnv1a32("a"), 0xe40c292cu);
  EXPECT_EQ(fnv1a32("foobar"), 0xbf9cf968u);
}

TEST(GlyphPool, StoresEachGlyphOnce) {
  GlyphPool pool;
  const char* a = pool.intern("─");
  const char* b = pool.intern(std::string("─"));
  EXPECT_EQ(a, b);
  EXPECT_STREQ(a, "─");
  EXPECT_EQ(pool.total_bytes(), 3u + 16u);
  const char* empty = pool.intern("");
  EXPECT_STREQ(empty, "");
  EXPECT_EQ(pool.total_bytes(), 3u + 16u + 16u);
}

TEST(GlyphPool, RefusesEntriesBeyondSixteenMebibytes) {
  GlyphPool pool;
  std::string big(GlyphPool::kMaxBytes - 16 - 100, 'x');
  ASSERT_NE(pool.intern(big), nullptr);
  EXPECT_EQ(pool.total_bytes(), GlyphPool::kMaxBytes - 100);
  EXPECT_NE(pool.intern(std::string(84, 'y')), nullptr);  // exactly at the limit
  EXPECT_EQ(pool.total_bytes(), GlyphPool::kMaxBytes);
  EXPECT_EQ(pool.intern("z"), nullptr);
  EXPECT_NE(pool.intern(big), nullptr);  // already stored: no new charge
}

TEST(GlyphPool, ManyDistinctGlyphsStayDistinct) {
  GlyphPool pool;
  std::vector<const char*> stored;
  for (int i = 0; i < 20000; ++i) stored.push_back(pool.intern(std::to_string(i)));
  for (int i = 0; i < 20000; ++i) {
    ASSERT_STREQ(stored[i], std::to_string(i).c_str());
    ASSERT_EQ(pool.intern(std::to_string(i)), stored[i]);
  }
}

TEST(InternGlyph, FullPoolGivesQuestionMarkAndFlagsTheFrame) {
  CellFrameRef frame = make_cell_frame(2, 1);
  ASSERT_TRUE(frame);
  ASSERT_NE(frame->pool.intern(std::string(GlyphPool::kMaxBytes - 16, 'x')), nullptr);
  EXPECT_FALSE(frame->pool_exhausted);
  EXPECT_STREQ(intern_glyph(*frame, "a"), "?");
  EXPECT_TRUE(frame->pool_exhausted);
}

TEST(CellFrame, NewFrameIsBlankOverBlack) {
  CellFrameRef frame = make_cell_frame(3, 2);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->refcount, 1);
  EXPECT_EQ(frame->clip.x1, 3);
  EXPECT_EQ(frame->clip.y1, 2);
  const Cell& cell = frame->at(2, 1);
  EXPECT_STREQ(cell.glyph, " ");
  EXPECT_EQ(cell.foreground(), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(cell.background(), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(cell.width, 1);
  EXPECT_EQ(cell.kind, CellKind::plain);
}

TEST(CellFrame, RefusesSizesOutsideTheGridLimits) {
  EXPECT_FALSE(make_cell_frame(0, 1));
  EXPECT_FALSE(make_cell_frame(16385, 1));
  EXPECT_FALSE(make_cell_frame(2000, 1000));
  EXPECT_TRUE(make_cell_frame(16384, 64));
}

TEST(CellFrameRef, CountsReferences) {
  CellFrameRef first = make_cell_frame(1, 1);
  CellFrame* raw = first.get();
  {
    CellFrameRef second = first;
    EXPECT_EQ(raw->refcount, 2);
    CellFrameRef third = std::move(second);
    EXPECT_EQ(raw->refcount, 2);
    EXPECT_FALSE(second);
  }
  EXPECT_EQ(raw->refcount, 1);
  retain_frame(raw);
  CellFrameRef adopted = CellFrameRef::adopt(raw);
  EXPECT_EQ(raw->refcount, 2);
  first.reset();
  EXPECT_EQ(raw->refcount, 1);
  adopted = adopted;  // self-assignment keeps the frame alive
  EXPECT_EQ(raw->refcount, 1);
}

}  // namespace
}  // namespace lumora::terminal
