// How the engine announces its changes: a random run of every operation, checked against what
// the engine draws, and the listeners' bookkeeping.
#include <gtest/gtest.h>

#include <random>

#include "platform/gdi/recording_dc.h"
#include "tests/measure/engine_support.h"

namespace {

struct Pictures {
  Lines measurements, interaction;
};

Pictures Draw(CMeasureManager& mm) {
  CRecordingDC a(RECT{0, 0, 800, 600}), b(RECT{0, 0, 800, 600});
  mm.DrawMeasurements(a);
  mm.DrawInteraction(b, 1);
  return {a.Lines(), b.Lines()};
}

// The measurements a caller keeping the others draws while `moving` changes: those before it and
// those after it.
std::pair<Lines, Lines> Around(CMeasureManager& mm, int moving) {
  CRecordingDC below(RECT{0, 0, 800, 600}), above(RECT{0, 0, 800, 600});
  mm.DrawMeasurements(below, 0, moving);
  mm.DrawMeasurements(above, moving + 1, INT32_MAX);
  return {below.Lines(), above.Lines()};
}

// One random operation of the mouse, the layer editor, the dialogs or a load; true for a
// pointer move.
bool RandomOperation(CMeasureManager& mm, std::mt19937& rng) {
  static const int kinds[] = {MK_LINE, MK_RECT, MK_ANGLE, MK_CIRCLE3, MK_POLYGON, MK_POINT2LINE, MK_ARROW, MK_CROSS};
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  auto x = [&] { return pick(400); };
  const int count = mm.GetMeasureCount();
  const int any = count > 0 ? pick(count + 1) - 1 : -1;  // -1 or a measurement
  const int op = pick(24);
  switch (op) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4: mm.OnMeasureMouseMove(x(), x()); break;
    case 5:
    case 6: {
      const bool arm = pick(2) == 0;  // a tool armed: a new shape
      mm.OnMeasureLButtonDown(x(), x(), arm ? kinds[pick(8)] : MK_NONE, arm ? 1 : 0);
      break;
    }
    case 7: mm.OnMeasureLButtonUp(x(), x()); break;
    case 8: mm.OnMeasureRButtonDown(x(), x()); break;
    case 9: mm.SelectMeasure(any, nullptr); break;
    case 10: pick(2) ? mm.SetMeasureVisible(any, pick(2)) : mm.SetMeasureLocked(any, pick(2)); break;
    case 11:
      mm.SetSelectedMeasureStyle(COLORREF(pick(3) * 0x7F), 1 + pick(4), 0xFF00, pick(10), pick(2), 0x123456,
                                 pick(9) - 4, 3);
      break;
    case 12: pick(2) ? mm.MoveMeasure(any, pick(count + 1)) : mm.CopyMeasure(any, nullptr); break;
    case 13: pick(2) ? void(mm.DeleteMeasure(any)) : mm.NudgeSelection(any, pick(4)); break;
    case 14: mm.AddRemark(x(), x(), u"note", 20 + pick(10), 0xFF); break;
    case 15: pick(3) ? mm.DeleteSelectedRemark() : mm.RemoveAllRemarks(); break;
    case 16: pick(2) ? mm.ShowGrid(pick(2)) : mm.SetGridStyle(1 + pick(2), 50 + 50 * pick(2), 0xFF); break;
    case 17: mm.SetSelectionStyle(pick(3), 1 + pick(2), 0x00FF00); break;
    case 18: mm.SetDividingRule(pick(2), pick(2), 50 + 50 * pick(2), RECT{0, 0, 2 * x(), 2 * x()}, 0xFF, 0xFF00); break;
    case 19:
      if (pick(2))
        mm.SetContrastRound(pick(2), x(), x(), pick(50));
      else
        mm.SetContrastAngle(pick(2), x(), x(), 60, pick(180));
      break;
    case 20: mm.SetCalibrationLine(pick(2), x(), x(), x(), x()); break;
    case 21: {
      ScaleDisplayBlock bar;
      bar.enable = pick(2);
      bar.length = 1000 * (1 + pick(3));
      mm.SetScale(pick(2) ? 1.0f : 0.5f, pick(2) ? u"mm" : u"um", bar);
      break;
    }
    case 22: mm.GetSelectedRemark(nullptr); break;
    default:
      if (pick(8) == 0) mm.ResetMeasurements();
      break;
  }
  return op <= 4;
}

}  // namespace

// Whatever an operation changes in a drawing is announced, once, with the concern it belongs
// to; and while one measurement is moved, the others' pictures change only with `resting`.
TEST(EngineAnnounce, EveryChangeOfTheDrawingIsAnnouncedOnceByItsConcern) {
  FakeCapture cap;
  CMeasureManager mm;
  mm.SetNotifyTarget(&cap, nullptr);
  std::vector<std::uint32_t> calls;
  mm.AddChangeListener([&](std::uint32_t changes) { calls.push_back(changes); });
  std::mt19937 rng(20240611);
  Pictures before = Draw(mm);
  MeasureRevisions revBefore = mm.Revisions();
  int movingBefore = -1;
  std::pair<Lines, Lines> aroundBefore;
  int built = 0, dragged = 0;
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    calls.clear();
    const bool pointerMove = RandomOperation(mm, rng);
    const MeasureRevisions rev = mm.Revisions();
    const Pictures now = Draw(mm);
    std::uint32_t moved = 0;
    if (rev.measurements != revBefore.measurements) moved |= kChangedMeasurements;
    if (rev.interaction != revBefore.interaction) moved |= kChangedInteraction;
    if (rev.overlays != revBefore.overlays) moved |= kChangedOverlays;
    if (rev.scale != revBefore.scale) moved |= kChangedScale;
    // One announcement per operation, carrying exactly the concerns whose revisions moved.
    ASSERT_LE(calls.size(), 1u);
    ASSERT_EQ(calls.empty() ? 0u : calls[0], moved);
    ASSERT_TRUE(rev.resting == revBefore.resting || (moved & kChangedMeasurements));
    if (now.measurements != before.measurements) {
      ASSERT_TRUE(moved & kChangedMeasurements);
    }
    if (now.interaction != before.interaction) {
      ASSERT_TRUE(moved & (kChangedMeasurements | kChangedInteraction | kChangedOverlays));
    }

    const int moving = mm.MovingMeasure();
    if (moving >= 0) {
      const auto around = Around(mm, moving);
      if (moving == movingBefore && rev.resting == revBefore.resting) {
        ASSERT_EQ(around, aroundBefore);
      }
      // A drag or a build moves only the one measurement: the others' pictures are kept.
      if (moving == movingBefore && pointerMove) {
        ASSERT_EQ(rev.resting, revBefore.resting);
        dragged += rev.measurements != revBefore.measurements;
      }
      aroundBefore = around;
    }
    built += mm.GetMeasureCount() > 0;
    movingBefore = moving;
    before = now;
    revBefore = rev;
  }
  // The run reached what it checks: measurements, and moves of one while the others stayed.
  EXPECT_GT(built, 2000) << dragged;
  EXPECT_GT(dragged, 50);
}

TEST(EngineAnnounce, PointerMovesThatChangeNothingAreNotAnnounced) {
  FakeCapture cap;
  CMeasureManager mm;
  mm.SetNotifyTarget(&cap, nullptr);
  mm.OnMeasureLButtonDown(100, 100, MK_RECT, 1);
  mm.OnMeasureMouseMove(200, 200);
  mm.OnMeasureLButtonDown(200, 200, MK_NONE, 0);
  mm.SelectMeasure(-1, nullptr);
  int calls = 0;
  mm.AddChangeListener([&](std::uint32_t) { ++calls; });
  for (int k = 0; k < 5; ++k) mm.OnMeasureMouseMove(300 + k, 300);  // nothing under the pointer
  EXPECT_EQ(calls, 0);
  mm.OnMeasureMouseMove(150, 150);  // onto the rectangle: hovered
  EXPECT_EQ(calls, 1);
  mm.OnMeasureMouseMove(151, 150);
  EXPECT_EQ(calls, 1);
  mm.OnMeasureMouseMove(350, 350);  // off again
  EXPECT_EQ(calls, 2);
  mm.ShowGrid(0);  // as it was: no change
  mm.SetCalibrationLine(0, 0, 0, 0, 0);
  mm.SetDividingRule(0, 0, 100, RECT{}, 255, 255);
  EXPECT_EQ(calls, 2);
}

TEST(EngineAnnounce, ListenersComeAndGoAndTheDestructorCallsNone) {
  using Log = std::vector<std::pair<char, std::uint32_t>>;  // who was called, with what
  Log log;
  int selfRemoving = 0;
  {
    CMeasureManager mm;
    EXPECT_EQ(mm.AddChangeListener(nullptr), 0);
    const int a = mm.AddChangeListener([&](std::uint32_t c) { log.emplace_back('a', c); });
    selfRemoving = mm.AddChangeListener([&](std::uint32_t) {
      log.emplace_back('s', 0);
      mm.RemoveChangeListener(selfRemoving);
    });
    EXPECT_NE(a, selfRemoving);
    mm.ShowGrid(1);
    mm.SetScale(0.5f, u"mm", ScaleDisplayBlock{});
    mm.RemoveChangeListener(a);
    mm.ShowGrid(0);
    EXPECT_EQ(log, (Log{{'a', kChangedMeasurements},
                        {'s', 0},
                        {'a', kChangedMeasurements | kChangedOverlays | kChangedScale}}));
    const int b = mm.AddChangeListener([&](std::uint32_t c) { log.emplace_back('b', c); });
    EXPECT_GT(b, selfRemoving);
    mm.AddRemark(1, 1, u"x", 20, 0);
    EXPECT_EQ(log.back(), (std::pair<char, std::uint32_t>{'b', kChangedInteraction}));
    log.clear();
  }
  EXPECT_TRUE(log.empty());  // the reset in the destructor is not announced
}
