// The layer tree against the engine: kept in step through the engine's callback, and its
// buttons reaching the engine.
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <random>

#include "editors/ColorFontPage.h"
#include "editors/LayerDlg.h"
#include "editors/LayerTree.h"
#include "res/StringIds.h"
#include "tests/editors/editors_support.h"
#include "tests/measure/engine_access.h"

namespace {

class LayerTreeTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    dlg = std::make_unique<CLayerDlg>();
    host->mm.SetNotifyTarget(nullptr, &CLayerDlg::OnMeasureNotify);
    tree = dlg->LayerTree();
  }
  void TearDown() override {
    dlg.reset();
    EditorTest::TearDown();
  }
  CMeasureManager& mm() { return host->mm; }
  QTreeWidgetItem* Root() { return tree->Root(); }
  QString Label(int i) { return Root()->child(i)->text(0); }
  void Click(int id) { QTest::mouseClick(ui::FindCtrl<QAbstractButton>(tree, id), Qt::LeftButton); }

  // Every item against the engine's record in its slot.
  void ExpectInStep(bool texts = true) {
    ASSERT_EQ(Root()->childCount(), mm().GetMeasureCount());
    for (int i = 0; i < mm().GetMeasureCount(); ++i) {
      const MEASUREBASE* rec = mm().GetMeasure(i);
      QTreeWidgetItem* item = Root()->child(i);
      ASSERT_EQ(item->text(0), editors::Q(editors::KindLabel(rec->m_nKind))) << "slot " << i;
      ASSERT_LE(item->childCount(), 1);
      if (texts && item->childCount() == 1) {
        EXPECT_EQ(item->child(0)->text(0).toStdU16String(), WString(rec->m_szResult)) << "slot " << i;
      }
    }
  }
  void Line(int x, int y, int len = 60) { Draw(MK_LINE, {{x, y}, {x + len, y + 7}}); }
  void Angle(int x, int y) { Draw(MK_ANGLE, {{x, y}, {x + 40, y + 40}, {x + 80, y}}); }
  void Ellipse(int x, int y) { Draw(MK_ELLIPSE, {{x, y}, {x + 50, y + 30}}); }
  void Deselect() { mm().OnMeasureLButtonDown(-100000, -100000, MK_NONE, 0); }

  std::unique_ptr<CLayerDlg> dlg;
  CLayerCtrlDlg* tree = nullptr;
};

TEST_F(LayerTreeTest, CreateFinishAbandonLoadDeleteAndResetKeepTheTreeInStep) {
  // Creating adds the item at the first point; finishing adds its result text.
  mm().OnMeasureLButtonDown(100, 100, MK_RECT, 1);
  ASSERT_EQ(Root()->childCount(), 1);
  EXPECT_EQ(Label(0), editors::Str(sid::kRectangle));
  EXPECT_EQ(Root()->child(0)->childCount(), 0);
  mm().OnMeasureMouseMove(200, 150);
  mm().OnMeasureLButtonDown(200, 150, MK_NONE, 0);
  ASSERT_EQ(Root()->child(0)->childCount(), 1);
  EXPECT_EQ(tree->SelectedIndex(), 0);
  ExpectInStep();

  // Abandoning a shape in progress removes its item, even with the tree collapsed.
  Deselect();
  Root()->setExpanded(false);
  mm().OnMeasureLButtonDown(400, 400, MK_LINE, 1);
  ASSERT_EQ(Root()->childCount(), 2);
  mm().OnMeasureRButtonDown(400, 400);
  EXPECT_EQ(tree->Tree()->topLevelItemCount(), 1);
  ExpectInStep();

  Line(500, 100);
  Angle(600, 300);
  ExpectInStep();

  // Delete while a shape is being drawn is refused by the engine: the item stays.
  mm().OnMeasureLButtonDown(900, 900, MK_LINE, 1);
  tree->SelectIndex(1);
  tree->DeleteSelectedLayer();
  mm().OnMeasureRButtonDown(900, 900);
  ExpectInStep();
  tree->SelectIndex(1);
  Click(CLayerCtrlDlg::kDelete);
  ExpectInStep();
  EXPECT_EQ(Label(1), editors::Str(sid::kAngleKind));

  // Loading: one item per record, without result texts (action 1 only).
  ASSERT_TRUE(mm().SaveLayers(Path() / "layers.kvmi", u"cam", 0));
  mm().ResetMeasurements();
  tree->ClearLayers();
  EXPECT_EQ(Root()->childCount(), 0);
  EXPECT_EQ(host->toolResets, 1);
  EXPECT_EQ(mm().CrossRule().enable, 0);
  ASSERT_TRUE(mm().LoadLayers(Path() / "layers.kvmi", u"cam", 0));
  ExpectInStep();
  EXPECT_EQ(Root()->child(0)->childCount(), 0);

  // A rebuild shows the records with their texts.
  tree->RebuildLayers();
  ExpectInStep();
  EXPECT_EQ(Root()->child(1)->childCount(), 1);

  // Delete All empties both.
  tree->DeleteAllLayers();
  EXPECT_EQ(mm().GetMeasureCount(), 0);
  ExpectInStep();
}

TEST_F(LayerTreeTest, ButtonsWithoutASelectedMeasurementChangeNothing) {
  Line(100, 100);
  Line(100, 300);
  Deselect();
  tree->SelectIndex(-1);
  const auto before0 = mm().GetMeasure(0)->Serialize(), before1 = mm().GetMeasure(1)->Serialize();
  for (int id : {CLayerCtrlDlg::kVisible, CLayerCtrlDlg::kLock, CLayerCtrlDlg::kDown, CLayerCtrlDlg::kUp,
                 CLayerCtrlDlg::kCopy, CLayerCtrlDlg::kDelete})
    Click(id);
  EXPECT_EQ(mm().GetMeasureCount(), 2);
  EXPECT_EQ(mm().GetMeasure(0)->Serialize(), before0);
  EXPECT_EQ(mm().GetMeasure(1)->Serialize(), before1);
  ExpectInStep();
}

TEST_F(LayerTreeTest, DownAndUpMoveTheRecordAndTheSelectionShowsTheMovedOne) {
  Line(100, 100);
  Angle(100, 300);
  Ellipse(100, 500);
  EditMeasure(mm(), 2, [](MEASUREBASE& r) { r.m_nPenWidth = 9; });  // the ellipse's own style
  EditMeasure(mm(), 1, [](MEASUREBASE& r) { r.m_nPenWidth = 3; });
  Deselect();

  tree->SelectIndex(2);
  Click(CLayerCtrlDlg::kDown);
  EXPECT_EQ(Label(0), editors::Str(sid::kLine));
  EXPECT_EQ(Label(1), editors::Str(sid::kEllipse));
  EXPECT_EQ(Label(2), editors::Str(sid::kAngleKind));
  EXPECT_EQ(tree->SelectedIndex(), 1);
  EXPECT_EQ(mm().GetMeasureKind(1), MK_ELLIPSE);
  EXPECT_EQ(mm().SelectedMeasure(), 1);
  // The pages show the moved ellipse, and re-applying its style left both records as they were.
  EXPECT_EQ(dlg->ColorFontPage()->LineWidthSlider()->value(), 9);
  EXPECT_EQ(mm().GetMeasure(1)->m_nPenWidth, 9);
  EXPECT_EQ(mm().GetMeasure(2)->m_nPenWidth, 3);
  ExpectInStep();

  // Down on the first and Up on the last do nothing.
  tree->SelectIndex(0);
  Click(CLayerCtrlDlg::kDown);
  tree->SelectIndex(2);
  Click(CLayerCtrlDlg::kUp);
  EXPECT_EQ(mm().GetMeasureKind(0), MK_LINE);
  EXPECT_EQ(mm().GetMeasureKind(2), MK_ANGLE);

  // A loaded item has no result text: it swaps cleanly with one that has.
  ASSERT_TRUE(mm().SaveLayers(Path() / "l.kvmi", u"c", 0));
  mm().ResetMeasurements();
  tree->ClearLayers();
  ASSERT_TRUE(mm().LoadLayers(Path() / "l.kvmi", u"c", 0));
  Line(700, 700);
  Deselect();
  tree->SelectIndex(3);
  Click(CLayerCtrlDlg::kDown);
  EXPECT_EQ(Root()->child(2)->childCount(), 1);
  EXPECT_EQ(Root()->child(3)->childCount(), 0);
  ExpectInStep();
}

TEST_F(LayerTreeTest, VisibleLockCopyAndNudgeReachTheEngine) {
  Line(100, 100);
  Line(100, 300);
  Deselect();
  tree->SelectIndex(0);
  Click(CLayerCtrlDlg::kVisible);  // the box showed "visible": the click hides it
  EXPECT_FALSE(mm().GetMeasure(0)->m_bVisible);
  Click(CLayerCtrlDlg::kLock);
  EXPECT_TRUE(mm().GetMeasure(0)->m_bLocked);
  tree->SelectIndex(1);
  EXPECT_TRUE(ui::FindCtrl<QCheckBox>(tree, CLayerCtrlDlg::kVisible)->isChecked());
  EXPECT_FALSE(ui::FindCtrl<QCheckBox>(tree, CLayerCtrlDlg::kLock)->isChecked());

  tree->SelectIndex(0);
  Click(CLayerCtrlDlg::kCopy);
  ASSERT_EQ(mm().GetMeasureCount(), 3);
  EXPECT_EQ(mm().GetMeasure(1)->m_arrPoint[0].x, mm().GetMeasure(0)->m_arrPoint[0].x + 10);
  EXPECT_EQ(Label(1), editors::Str(sid::kLine));
  EXPECT_EQ(tree->SelectedIndex(), 0);
  ExpectInStep();

  // The arrow keys move the selected measurement and the current remark together.
  mm().AddRemark(50, 50, u"note", 20, 0);
  const POINT p = mm().GetMeasure(0)->m_arrPoint[0];
  tree->NudgeSelectedLayer(1);
  tree->NudgeSelectedLayer(3);
  EXPECT_EQ(mm().GetMeasure(0)->m_arrPoint[0], (POINT{p.x + 1, p.y + 1}));
  EXPECT_EQ(mm().GetRemark(0)->m_ptText, (POINT{51, 51}));
}

TEST_F(LayerTreeTest, ARandomThousandEditsKeepTreeAndEngineInStep) {
  std::mt19937 rng(12345);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  int cell = 0;
  auto place = [&] {  // each shape in a cell of its own, so presses never land on another shape
    const int c = cell++ % 400;
    return POINT{(c % 20) * 400 + 20, (c / 20) * 400 + 20};
  };
  int most = 0, loads = 0;
  for (int step = 0; step < 1000; ++step) {
    const int n = mm().GetMeasureCount();
    most = std::max(most, n);
    const int op = pick(12);
    if (n > 300 && op < 3) continue;
    const POINT o = place();
    switch (op) {
      case 0: Line(o.x, o.y); break;
      case 1: Draw(MK_RECT, {o, {o.x + 30, o.y + 20}}); break;
      case 2:
        mm().OnMeasureLButtonDown(o.x, o.y, MK_ANGLE, 1);
        mm().OnMeasureRButtonDown(o.x, o.y);
        break;
      case 3: case 4: case 5: case 6:
        if (n == 0) break;
        Deselect();
        tree->SelectIndex(pick(n));
        Click(op == 3 ? CLayerCtrlDlg::kDown : op == 4 ? CLayerCtrlDlg::kUp
                                             : op == 5 ? CLayerCtrlDlg::kCopy : CLayerCtrlDlg::kDelete);
        break;
      case 7: tree->NudgeSelectedLayer(pick(4)); break;
      case 8: Deselect(); break;
      case 9:
        if (n) tree->SelectIndex(pick(n));
        Click(pick(2) ? CLayerCtrlDlg::kVisible : CLayerCtrlDlg::kLock);
        break;
      case 10:
        if (pick(10) == 0) {
          mm().ResetMeasurements();
          tree->ClearLayers();
        }
        break;
      case 11:
        if (pick(10) == 0) {
          ASSERT_TRUE(mm().SaveLayers(Path() / "r.kvmi", u"r", 0));
          mm().ResetMeasurements();
          tree->ClearLayers();
          ASSERT_TRUE(mm().LoadLayers(Path() / "r.kvmi", u"r", 0));
          ++loads;
        }
        break;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectInStep(false)) << "step " << step << " op " << op;
  }
  EXPECT_GT(most, 20);
  EXPECT_GT(loads, 2);
}

TEST_F(LayerTreeTest, TheCallbackReachesOnlyTheLiveDialog) {
  EXPECT_EQ(CLayerDlg::Instance(), dlg.get());
  dlg.reset();
  EXPECT_EQ(CLayerDlg::Instance(), nullptr);
  Line(10, 10);  // no dialog: the notification goes nowhere
  EXPECT_EQ(CLayerDlg::OnMeasureNotify(0, MEASUREBASE{}, 1), 1);
}

}  // namespace
