// Frames are recycled, not leaked: the recycler hands a frame out again only
// once no one else holds it, and emptied as if new; a long run of commits,
// patches and presents on a backend settles on a fixed set of frames and
// pool blocks, each composition still identical to one in a fresh frame.
#include "terminal/drawing/cell.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "host/backend.h"
#include "terminal/drawing/primitives.h"
#include "terminal/drawing/rasterizer.h"
#include "terminal/terminal_backend.h"
#include "terminal/terminal_helpers.h"

namespace lumora::terminal {
namespace {

using test::parse;

constexpr scene::ColorValue kGrey = scene::rgba(40, 40, 40, 255);

TEST(FrameRecycler, HandsOutAKeptFrameOnlyWhenNoOneElseHoldsIt) {
  FrameRecycler recycler;
  CellFrameRef shown = recycler.take(3, 2, kGrey);
  ASSERT_TRUE(shown);
  CellFrame* raw = shown.get();
  CellFrameRef written = shown;  // the encoder's reference
  recycler.keep(std::move(shown));
  EXPECT_EQ(recycler.kept(), 1u);

  CellFrameRef other = recycler.take(3, 2, kGrey);
  EXPECT_NE(other.get(), raw) << "a frame the encoder still holds was handed out";
  EXPECT_EQ(recycler.kept(), 1u);

  written.reset();
  CellFrameRef again = recycler.take(3, 2, kGrey);
  EXPECT_EQ(again.get(), raw);
  EXPECT_EQ(again->refcount, 1);
  EXPECT_EQ(recycler.kept(), 0u);
}

TEST(FrameRecycler, ARecycledFrameIsAsNew) {
  FrameRecycler recycler;
  CellFrameRef frame = recycler.take(4, 2, kGrey);
  ASSERT_TRUE(frame);
  CellFrame* raw = frame.get();
  put_glyph(*frame, 1, 0, "界", 2, scene::rgba(255, 255, 0, 255), CellKind::text);
  ASSERT_EQ(frame->at(2, 0).width, 0);
  frame->at(3, 1).underline = 1;
  frame->at(0, 1).set_foreground(scene::rgba(1, 2, 3, 4));
  frame->pool_exhausted = true;
  frame->monochrome = true;
  frame->clip = CellRect{1, 1, 2, 2};
  recycler.keep(std::move(frame));

  const scene::ColorValue background = scene::rgba(9, 8, 7, 255);
  CellFrameRef reused = recycler.take(4, 2, background);
  ASSERT_EQ(reused.get(), raw);
  CellFrameRef fresh = make_cell_frame(4, 2, background);
  EXPECT_EQ(reused->pool.total_bytes(), 0u);
  EXPECT_FALSE(reused->pool_exhausted);
  EXPECT_FALSE(reused->monochrome);
  EXPECT_EQ(reused->clip.x1, 4);
  EXPECT_EQ(reused->clip.y0, 0);
  EXPECT_EQ(reused->background, background);
  for (int i = 0; i < 8; ++i) {
    const Cell& a = reused->cells[i];
    const Cell& b = fresh->cells[i];
    EXPECT_STREQ(a.glyph, b.glyph) << i;
    EXPECT_EQ(std::make_tuple(a.foreground(), a.background(), a.width, a.underline, a.kind),
              std::make_tuple(b.foreground(), b.background(), b.width, b.underline, b.kind))
        << i;
  }
  // The emptied pool stores glyphs again.
  EXPECT_STREQ(intern_glyph(*reused, "界"), "界");
  EXPECT_EQ(reused->pool.total_bytes(), 3u + 16u);
}

TEST(FrameRecycler, LetsGoOfFramesOfAnotherSizeAndOfTheOldestWhenFull) {
  const CellFrameAllocations before = cell_frame_allocations();
  {
    FrameRecycler recycler;
    recycler.keep(make_cell_frame(2, 2));
    recycler.keep(make_cell_frame(5, 1));
    EXPECT_EQ(recycler.kept(), 2u);
    EXPECT_EQ(cell_frame_allocations().frames_live - before.frames_live, 2u);
    CellFrameRef other_size = recycler.take(3, 3, kGrey);  // neither fits: both go
    EXPECT_EQ(recycler.kept(), 0u);
    EXPECT_EQ(cell_frame_allocations().frames_live - before.frames_live, 1u);

    CellFrameRef a = recycler.take(3, 3, kGrey), b = recycler.take(3, 3, kGrey);
    CellFrame* newest = b.get();
    recycler.keep(std::move(other_size));
    recycler.keep(std::move(a));
    recycler.keep(std::move(b));  // the first kept one goes
    EXPECT_EQ(recycler.kept(), FrameRecycler::kMaxKept);
    EXPECT_EQ(cell_frame_allocations().frames_live - before.frames_live, 2u);
    CellFrameRef first = recycler.take(3, 3, kGrey);
    CellFrameRef second = recycler.take(3, 3, kGrey);
    EXPECT_EQ(second.get(), newest);
  }
  EXPECT_EQ(cell_frame_allocations().frames_live, before.frames_live);
}

// ---- A long run on a backend --------------------------------------------------

// Scene `k` of a stream whose every frame differs: a moving label with wide
// characters, a counter, panels and lines, and many distinct glyphs.
std::string scene_list(int k) {
  std::string glyphs;
  for (int i = 0; i < 12; ++i) glyphs += std::string("\xe4\xb8") + static_cast<char>(0x80 + (k + i) % 64);
  const std::string x = std::to_string(8 * (k % 20));
  return R"([["begin","#102030"],["rect",[8,16,160,48],"#203040",2,"#c0c0c0",1],)"
         R"(["text","tick )" + std::to_string(k) + R"( 界面",)" + x + R"(,16,"#ffffff",14,false],)"
         R"(["text",")" + glyphs + R"(",0,64,"#e0c080",14,false],)"
         R"(["rect",[)" + x + R"(,0,24,32],"#ff000080",0,"",0],)"
         R"(["line",0,80,240,80,"#80ff80",1],["icon","check",200,0,16,"#ffffff"]])";
}

std::string segment_patch(int k) {
  return R"({"background":"#000010","upsert":[{"id":"a","bounds":[0,0,1,1],"commands":)" +
         std::string(R"([["text","seg )") + std::to_string(k) + R"(",0,0,"#ffffff",14,false]]},)" +
         R"({"id":"b","bounds":[0,0,1,1],"commands":[["rect",[0,32,80,16],"#345678",0,"",0]]}]})";
}

// Every cell of two frames the same, as the snapshot and the encoder see them.
void expect_same_cells(const CellFrame& a, const CellFrame& b, int k) {
  ASSERT_EQ(a.columns * a.rows, b.columns * b.rows);
  for (int i = 0; i < a.columns * a.rows; ++i) {
    const Cell& x = a.cells[i];
    const Cell& y = b.cells[i];
    ASSERT_STREQ(x.glyph, y.glyph) << "frame " << k << " cell " << i;
    ASSERT_EQ(std::make_tuple(x.foreground(), x.background(), x.width, x.underline, x.kind),
              std::make_tuple(y.foreground(), y.background(), y.width, y.underline, y.kind))
        << "frame " << k << " cell " << i;
  }
}

TEST(FrameRecycling, ManyUpdatesSettleOnAFixedSetOfFramesAndPoolBlocks) {
  const CellFrameAllocations at_start = cell_frame_allocations();
  CellFrameAllocations settled;
  {
    host::HostErrorBuffer error;
    std::unique_ptr<TerminalBackend> backend = TerminalBackend::open(
        parse(R"({"backend":"terminal","headless":true,"columns":30,"rows":6,"color":"truecolor"})").get(),
        error.text());
    ASSERT_TRUE(backend) << error.c_str();
    const RasterContext fresh_context = test::grid(30, 6);

    constexpr int kWarmUp = 20;
    constexpr int kUpdates = 400;
    std::uint64_t fresh_frames = 0;  // compared frames made after warming up
    for (int k = 0; k < kUpdates; ++k) {
      if (k == kWarmUp) settled = cell_frame_allocations();
      host::HostErrorBuffer step_error;
      const std::string list = scene_list(k);
      switch (k % 8) {
        case 3:  // two commits before one present
          ASSERT_TRUE(backend->commit_scene(parse(scene_list(k + 1000)).get(), step_error.text()));
          break;
        case 5: {  // a failing commit leaves the frame shown and hands its frame back
          const CellFrame* shown = backend->current_frame();
          EXPECT_FALSE(backend->commit_scene(parse(R"([["icon","no-such-icon",0,0,16,"#fff"]])").get(),
                                             step_error.text()));
          EXPECT_EQ(backend->current_frame(), shown);
          step_error = host::HostErrorBuffer{};
          break;
        }
        case 6: {  // segments, then the next commit leaves them
          ASSERT_TRUE(backend->patch_scene(parse(segment_patch(k)).get(), step_error.text())) << step_error.c_str();
          ASSERT_TRUE(backend->draw_retained_scene(step_error.text()));
          ASSERT_TRUE(backend->present_frame(step_error.text()));
          continue;
        }
        case 7:  // the next present composes again
          backend->note_image_reloaded();
          break;
      }
      ASSERT_TRUE(backend->commit_scene(parse(list).get(), step_error.text())) << step_error.c_str();
      ASSERT_TRUE(backend->draw_retained_scene(step_error.text()));
      ASSERT_TRUE(backend->present_frame(step_error.text()));

      CellFrameRef fresh = compose_frame(fresh_context, parse(list).get(), kOpaqueBlack, step_error.text());
      ASSERT_TRUE(fresh) << step_error.c_str();
      if (k >= kWarmUp) ++fresh_frames;
      expect_same_cells(*backend->current_frame(), *fresh, k);
    }
    const CellFrameAllocations at_end = cell_frame_allocations();
    // The fresh comparison frames are made and freed one at a time; the
    // backend's frames come from its recycler.
    EXPECT_EQ(at_end.frames_created - settled.frames_created, fresh_frames)
        << "the backend allocated frames after warming up";
    EXPECT_LE(at_end.frames_live - at_start.frames_live, 1u + 1u + FrameRecycler::kMaxKept);
    EXPECT_EQ(at_end.pool_blocks_live, settled.pool_blocks_live);
  }
  const CellFrameAllocations closed = cell_frame_allocations();
  EXPECT_EQ(closed.frames_live, at_start.frames_live) << "frames outlived the backend";
  EXPECT_EQ(closed.pool_blocks_live, at_start.pool_blocks_live);
}

}  // namespace
}  // namespace lumora::terminal
