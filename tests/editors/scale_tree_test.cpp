// The layer tree follows every scale change at once: through the scale dialog's OK and through
// the view's loading of the camera's chosen scale, without touching the selected row.
#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "editors/EditorCommands.h"
#include "editors/LayerDlg.h"
#include "editors/LayerTree.h"
#include "editors/ScaleDlg.h"
#include "editors/ScaleStore.h"
#include "tests/editors/editors_support.h"

namespace {

class ScaleTreeTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    MakeCamera();
    PutFrame(320, 240, std::vector<std::uint8_t>(320 * 240 * 3, 128));
    camera = editors::W(QString::fromLatin1(CameraName().c_str()));
    dlg = std::make_unique<CLayerDlg>();
    host->mm.SetNotifyTarget(nullptr, &CLayerDlg::OnMeasureNotify);
    tree = dlg->LayerTree();
  }
  void TearDown() override {
    dlg.reset();
    EditorTest::TearDown();
  }
  QString Row(int i) const {
    QTreeWidgetItem* item = tree->Root()->child(i);
    return item && item->childCount() == 1 ? item->child(0)->text(0) : QString();
  }
  QString Engine(int i) const { return editors::Q(WString(host->mm.GetMeasure(i)->m_szResult)); }
  // The scale dialog as the frame runs it, its list row `name` chosen and OK clicked.
  void ChooseInTheDialog(const QString& name) {
    QTimer::singleShot(0, [name] {
      auto* scale = qobject_cast<CScale2Dlg*>(QApplication::activeModalWidget());
      ASSERT_TRUE(scale);
      for (int i = 0; i < scale->List()->topLevelItemCount(); ++i)
        scale->List()->topLevelItem(i)->setSelected(scale->List()->topLevelItem(i)->text(0) == name);
      QTest::mouseClick(ui::FindCtrl<QAbstractButton>(scale, editors::kIdOk), Qt::LeftButton);
    });
    ASSERT_TRUE(editors::RunScaleDialog(nullptr, host->mm));
  }

  WString camera;
  std::unique_ptr<CLayerDlg> dlg;
  CLayerCtrlDlg* tree = nullptr;
};

TEST_F(ScaleTreeTest, TheRowsReadTheNewTextsAfterTheDialogsOkAndACameraScale) {
  ASSERT_EQ(scalestore::WriteScale(camera, u"Ten", u"100.000", u"0.1000", u"um", ScaleDisplayBlock{}), ERROR_SUCCESS);
  ASSERT_EQ(scalestore::WriteScale(camera, u"Half", u"2.000", u"0.5", u"mm", ScaleDisplayBlock{}), ERROR_SUCCESS);
  Draw(MK_LINE, {{10, 10}, {310, 410}});
  Draw(MK_ELLIPSE, {{10, 10}, {110, 60}});
  ASSERT_EQ(tree->Root()->childCount(), 2);
  EXPECT_EQ(Row(0), "L: 500.000 px");
  tree->SelectIndex(0);
  tree->Root()->child(1)->setExpanded(false);

  ChooseInTheDialog("Ten");
  EXPECT_EQ(host->mm.Unit(), u"um");
  EXPECT_EQ(Row(0), editors::Q(FormatW(u"L: %.3f um", 500.0 * double(0.1f))));
  EXPECT_EQ(Row(1), editors::Q(FormatW(u"(rx:%.3f, ry:%.3f) S: %.3f um\u00B2", 50 * double(0.1f), 25 * double(0.1f),
                                       3.141592653589793 * 1250 * double(0.1f) * double(0.1f))));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Row(i), Engine(i)) << i;
  // Only the texts changed: the selection and the folded row stay.
  EXPECT_EQ(tree->SelectedIndex(), 0);
  EXPECT_FALSE(tree->Root()->child(1)->isExpanded());

  // The result row itself selected: it stays the current item through the change.
  tree->Tree()->setCurrentItem(tree->Root()->child(0)->child(0));
  ASSERT_EQ(scalestore::WriteSelectedScale(u"Half"), ERROR_SUCCESS);
  ASSERT_EQ(scalestore::ApplySelectedScale(host->mm, camera), scalestore::ScaleFound::Found);
  EXPECT_EQ(Row(0), "L: 250.000 mm");
  EXPECT_EQ(Row(1), Engine(1));
  EXPECT_EQ(tree->Tree()->currentItem(), tree->Root()->child(0)->child(0));
}

}  // namespace
