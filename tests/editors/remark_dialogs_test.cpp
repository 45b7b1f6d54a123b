// The remark and reference-figure dialogs: what they show and what OK hands back.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include "editors/ColorButton.h"
#include "editors/ContrastDlg.h"
#include "editors/EditorCommands.h"
#include "editors/RemarkDlg.h"
#include "res/StringIds.h"
#include "tests/editors/editors_support.h"

namespace {

using RemarkTest = EditorTest;

void ClickOk(QDialog& dlg) { QTest::mouseClick(ui::FindCtrl<QPushButton>(&dlg, editors::kIdOk), Qt::LeftButton); }

TEST_F(RemarkTest, NewTextRemarkOpensEmptyAndOkHandsBackTextColourAndSize) {
  CRemarkDlg dlg;
  dlg.m_nRemarkKind = MK_NONE;
  dlg.OnInitDialog();
  EXPECT_TRUE(dlg.TextEdit()->isEnabled());
  EXPECT_TRUE(dlg.TextEdit()->text().isEmpty());
  EXPECT_EQ(dlg.SizeSlider()->value(), 1);
  EXPECT_EQ(dlg.ColorBtn()->Color(), 0u);
  QTest::keyClicks(dlg.TextEdit(), "Crack 1");
  dlg.SizeSlider()->setValue(11);
  dlg.ColorBtn()->Choose(RGB(255, 0, 0));
  ClickOk(dlg);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.m_strRemark, u"Crack 1");
  EXPECT_EQ(dlg.m_nRemarkSize, 30);
  EXPECT_EQ(dlg.m_clrRemark, RGB(255, 0, 0));

  // What the view does with it.
  host->mm.AddRemark(40, 50, dlg.m_strRemark, dlg.m_nRemarkSize, dlg.m_clrRemark);
  ASSERT_EQ(host->mm.GetRemarkCount(), 1);
  EXPECT_EQ(WString(host->mm.GetRemark(0)->m_szText), u"Crack 1");
  EXPECT_EQ(host->mm.GetRemark(0)->m_nSize, 30);
}

TEST_F(RemarkTest, ArrowShowsColourAndSizeWithTheTextDisabled) {
  CRemarkDlg dlg;
  dlg.m_nRemarkKind = MK_ARROW;
  dlg.m_nRemarkSize = 25;
  dlg.m_clrRemark = RGB(0, 0, 255);
  dlg.OnInitDialog();
  EXPECT_FALSE(dlg.TextEdit()->isEnabled());
  EXPECT_EQ(dlg.SizeSlider()->value(), 6);
  EXPECT_EQ(dlg.ColorBtn()->Color(), RGB(0, 0, 255));
}

TEST_F(RemarkTest, ContrastFiguresTakeCameraDefaultsAndReadTheirEdits) {
  // No camera: the zeros stay.
  {
    CRemarkAngleDlg dlg;
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.Edit(CRemarkAngleDlg::kAngle)->text(), "0.000");
    EXPECT_EQ(dlg.Edit(CRemarkAngleDlg::kOriginX)->text(), "0");
    dlg.reject();
    EXPECT_EQ(dlg.m_dAngle, 0.0);
  }
  CCameraProcess& cam = MakeCamera();
  std::int32_t params[kOpenParamCount] = {};
  ASSERT_EQ(cam.OpenCamera(0, params, nullptr), 1);
  int w = 0, h = 0;
  ASSERT_EQ(cam.GetImageSize(0, &w, &h), CAMSDK_STATUS_OK);
  {
    CRemarkAngleDlg dlg;
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.windowTitle(), editors::Str(sid::kAngle));
    ClickOk(dlg);
    EXPECT_EQ(dlg.m_dAngle, 30.0);
    EXPECT_EQ(dlg.m_dLength, std::min(w, h) * 0.5);
    EXPECT_EQ(dlg.m_nOriginX, w / 2);
    EXPECT_EQ(dlg.m_nOriginY, h / 2);
    EXPECT_EQ(dlg.m_bShow, 0);
  }
  {
    CRemarkRoundDlg dlg;
    dlg.m_nOriginX = 5;  // values set: no defaults
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.Edit(CRemarkRoundDlg::kRadius)->text(), "0.000");
    dlg.Edit(CRemarkRoundDlg::kRadius)->setText("12.9");
    dlg.Edit(CRemarkRoundDlg::kOriginY)->setText("7px");
    QTest::mouseClick(dlg.ShowCheck(), Qt::LeftButton);
    ClickOk(dlg);
    EXPECT_EQ(dlg.m_dRadius, 12.0);  // read as an integer
    EXPECT_EQ(dlg.m_nOriginX, 5);
    EXPECT_EQ(dlg.m_nOriginY, 7);
    EXPECT_EQ(dlg.m_bShow, 1);
  }
  {
    CRemarkAngleDlg dlg;
    dlg.m_dAngle = 1.0;
    dlg.OnInitDialog();
    dlg.Edit(CRemarkAngleDlg::kAngle)->setText("12.9");
    dlg.Edit(CRemarkAngleDlg::kLength)->setText("abc");
    ClickOk(dlg);
    EXPECT_EQ(dlg.m_dAngle, 12.9);
    EXPECT_EQ(dlg.m_dLength, 0.0);
  }
  cam.CloseCamera(0);
}

TEST_F(RemarkTest, CommandsCarryTheEnginesFigureThroughTheDialogAndBack) {
  host->mm.SetContrastRound(1, 10, 20, 40.0);
  QTimer::singleShot(0, [] {
    auto* dlg = qobject_cast<CRemarkRoundDlg*>(QApplication::activeModalWidget());
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->Edit(CRemarkRoundDlg::kRadius)->text(), "40.000");
    EXPECT_TRUE(dlg->ShowCheck()->isChecked());
    dlg->Edit(CRemarkRoundDlg::kRadius)->setText("55");
    ClickOk(*dlg);
  });
  ASSERT_TRUE(editors::RunContrastDialog(nullptr, host->mm, false));
  ContrastRoundBlock b;
  host->mm.GetContrastRound(&b);
  EXPECT_EQ(b.radius, 55.0);
  EXPECT_EQ(b.x, 10);
  EXPECT_EQ(b.on, 1);

  // Cancel leaves the values as they were.
  WString text = u"keep";
  int size = 33;
  COLORREF color = 7;
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_FALSE(editors::RunRemarkDialog(nullptr, MK_TEXT, &text, &size, &color));
  EXPECT_EQ(text, u"keep");
  EXPECT_EQ(size, 33);
}

}  // namespace
