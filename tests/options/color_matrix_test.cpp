// The colour-matrix page: the file's exact bytes, loading with missing and damaged keys, the
// edit, apply and roll-back cycle, presets and user matrices reaching the simulated camera.
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include <cstring>
#include <fstream>
#include <iterator>

#include "options/ColorMatrixPage.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/profile.h"
#include "tests/camsdk_ok.h"
#include "tests/options/options_support.h"

namespace {

constexpr ColorMatrix kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};

std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ColorMatrixTest : public OptionsTest {
 protected:
  QLineEdit* Edit(CAdOptDlg& page, int i) { return page.Controls().Find<QLineEdit>(CAdOptDlg::IDC_MATRIX_EDIT0 + i); }
  QStringList Edits(CAdOptDlg& page) {
    QStringList s;
    for (int i = 0; i < 9; ++i) s << Edit(page, i)->text();
    return s;
  }
  void TypeMatrix(CAdOptDlg& page, const QStringList& values) {
    for (int i = 0; i < 9; ++i) Type(Edit(page, i), values[i]);
  }
  QWidget* Ctrl(CAdOptDlg& page, int id) { return page.Controls().Get(id); }
  QComboBox* List(CAdOptDlg& page) { return page.Controls().Find<QComboBox>(CAdOptDlg::IDC_MATRIX_LIST); }
  static bool LogHas(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
  }
};

TEST_F(ColorMatrixTest, SavedFileHasTheExactBytesOfTheIdentityMatricesUnderAUtf8Name) {
  CAdOptDlg page;
  const QString file = QPath(u"颜色 µ矩阵");  // no suffix: the dialog adds ".ini"
  prompts.files.push_back(file + ".ini");
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_SAVE));
  ASSERT_EQ(prompts.suffixes, std::vector<QString>{"ini"});
  EXPECT_EQ(prompts.filters.back(), "Ini File (*.ini)");
  EXPECT_TRUE(prompts.messages.empty());

  const std::string identity = "0000803F000000000000000000000000" "0000803F000000000000000000000000" "0000803F" "3D";
  ASSERT_EQ(identity.size(), 74u);
  EXPECT_EQ(ReadBytes(Path() / u"颜色 µ矩阵.ini"),
            "[Color Matrix]\r\nUser1=" + identity + "\r\nUser2=" + identity + "\r\nUser3=" + identity + "\r\n");

  // Cancelled: nothing is written.
  std::filesystem::remove(Path() / u"颜色 µ矩阵.ini");
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_SAVE));
  EXPECT_FALSE(std::filesystem::exists(Path() / u"颜色 µ矩阵.ini"));
}

TEST_F(ColorMatrixTest, SaveThatCannotWriteSaysSo) {
  CAdOptDlg page;
  prompts.files.push_back(QPath(u"no such folder/m.ini"));
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_SAVE));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0], "The color matrix file could not be written.");
}

TEST_F(ColorMatrixTest, LoadCountsEachKeyAndLeavesAFailedMatrixAsItWas) {
  const ColorMatrix a{0.5f, 0.25f, 0, 0, 1.5f, 0, -0.125f, 0, 2};
  const ColorMatrix b{2, 0, 0, 0, 2, 0, 0, 0, 2};
  auto enc = [](const ColorMatrix& m) {
    std::uint8_t bytes[36];
    std::memcpy(bytes, m.data(), 36);
    return EncodeProfileStruct(bytes);
  };
  WString badChecksum = enc(b);
  badChecksum.back() = badChecksum.back() == u'0' ? u'1' : u'0';
  {
    CProfileFile f(Path() / "damaged.ini");
    f.WriteString(u"Color Matrix", u"User1", enc(a));
    f.WriteString(u"Color Matrix", u"User2", badChecksum);
    f.WriteString(u"color matrix", u"user3", enc(b));  // names compare without case
    ASSERT_TRUE(f.Save());
    CProfileFile g(Path() / "partial.ini");
    g.WriteString(u"Color Matrix", u"User1", enc(b));
    g.WriteString(u"Color Matrix", u"User3", enc(a));
    ASSERT_TRUE(g.Save());
  }
  UserMatrices users;
  users.fill(kIdentity);
  EXPECT_EQ(LoadColorMatrixFile(Path() / "damaged.ini", users), 2);
  EXPECT_EQ(users[0], a);
  EXPECT_EQ(users[1], kIdentity);
  EXPECT_EQ(users[2], b);
  EXPECT_EQ(LoadColorMatrixFile(Path() / "missing.ini", users), 0);
  EXPECT_EQ(users[0], a);

  // Through the page: one message with the counts; the selected user matrix is shown.
  const int handle = OpenCurrent("color");
  CAdOptDlg page;
  const int user1 = List(page)->count() - 3;
  Choose(List(page), user1);
  CamSdkTestSetCallLog(true);
  prompts.files.push_back(QPath(u"partial.ini"));
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_LOAD));
  EXPECT_EQ(prompts.messages, std::vector<QString>{"load color matrix, success 2, fail 1."});
  EXPECT_EQ(page.Users()[0], b);
  EXPECT_EQ(page.Users()[1], kIdentity);
  EXPECT_EQ(page.Users()[2], a);
  EXPECT_EQ(Edits(page).join(' '), "2.0000 0.0000 0.0000 0.0000 2.0000 0.0000 0.0000 0.0000 2.0000");
  const auto log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(LogHas(log, "CameraApplyColorMatrix(" + std::to_string(handle) + ", &) = 1"));

  // Cancelled: no message, but the selection is shown and applied again.
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_LOAD));
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(CamSdkTestTakeCallLog().size(), 1u);
}

TEST_F(ColorMatrixTest, WithoutCameraTheMatricesStillEditApplyAndRollBack) {
  CAdOptDlg page;
  EXPECT_EQ(List(page)->count(), 0);
  for (int id : {CAdOptDlg::IDC_MATRIX_LIST, CAdOptDlg::IDC_MATRIX_APPLY, CAdOptDlg::IDC_MATRIX_SAVE,
                 CAdOptDlg::IDC_MATRIX_ROLLBACK, CAdOptDlg::IDC_MATRIX_LOAD, CAdOptDlg::IDC_MATRIX_EDIT0,
                 CAdOptDlg::IDC_MATRIX_EDIT8})
    EXPECT_TRUE(Ctrl(page, id)->isEnabled()) << id;

  // Roll back before any Apply: zeros shown, the edits' contents kept for the next roll back.
  TypeMatrix(page, {"1.5", " -2", "abc", "0", "1e1", "3,5", "", "+.25", "7"});
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_ROLLBACK));
  EXPECT_EQ(Edits(page), QStringList(9, "0.0000"));
  EXPECT_EQ(page.RollbackMatrix(), (ColorMatrix{1.5f, -2, 0, 0, 10, 3, 0, 0.25f, 7}));
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_ROLLBACK));
  EXPECT_EQ(Edits(page).join(' '), "1.5000 -2.0000 0.0000 0.0000 10.0000 3.0000 0.0000 0.2500 7.0000");

  // Apply with nothing selected stores nothing and still calls the library, without a handle.
  CamSdkTestSetCallLog(true);
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_APPLY));
  const auto log = CamSdkTestTakeCallLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("CameraApplyColorMatrix(-1, &) = ", 0), 0u) << log[0];
  EXPECT_EQ(page.Users()[0], kIdentity);
}

TEST_F(ColorMatrixTest, PresetsAndUserMatricesReachTheCamera) {
  const int handle = OpenCurrent("color");
  const std::string h = std::to_string(handle);
  ASSERT_EQ(CameraSetRgbMatrixSel(handle, 1), 1);
  CamSdkTestSetCallLog(true);
  CAdOptDlg page;
  QComboBox* list = List(page);
  CamSdkCapability cap{};
  ASSERT_EQ(CameraGetCapability(handle, &cap), 1);
  ASSERT_GE(cap.colorPresetCount, 2);
  const int presets = cap.colorPresetCount;
  ASSERT_EQ(list->count(), presets + 3);
  EXPECT_EQ(list->itemText(0), QString::fromUtf8(cap.colorPresets[0].name));
  EXPECT_EQ(list->itemText(presets + 2), "User3");
  // The preset in force is selected and set again; its coefficients are not shown.
  EXPECT_EQ(list->currentIndex(), 1);
  auto log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(LogHas(log, "CameraSetRgbMatrixSel(" + h + ", 1) = 1"));
  EXPECT_EQ(Edits(page), QStringList(9, "*"));
  for (int id : {CAdOptDlg::IDC_MATRIX_APPLY, CAdOptDlg::IDC_MATRIX_SAVE, CAdOptDlg::IDC_MATRIX_ROLLBACK,
                 CAdOptDlg::IDC_MATRIX_EDIT4})
    EXPECT_FALSE(Ctrl(page, id)->isEnabled()) << id;
  EXPECT_TRUE(Ctrl(page, CAdOptDlg::IDC_MATRIX_LOAD)->isEnabled());
  EXPECT_TRUE(list->isEnabled());

  Choose(list, presets - 1);
  log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(LogHas(log, "CameraSetRgbMatrixSel(" + h + ", " + std::to_string(presets - 1) + ") = 1"));
  int sel = -2;
  CAMSDK_OK(CameraGetRgbMatrixSel(handle, &sel));
  EXPECT_EQ(sel, presets - 1);

  // A user matrix: shown with four decimals, editable, applied at once.
  Choose(list, presets + 1);
  EXPECT_EQ(Edits(page).join(' '), "1.0000 0.0000 0.0000 0.0000 1.0000 0.0000 0.0000 0.0000 1.0000");
  for (int id : {CAdOptDlg::IDC_MATRIX_APPLY, CAdOptDlg::IDC_MATRIX_SAVE, CAdOptDlg::IDC_MATRIX_ROLLBACK,
                 CAdOptDlg::IDC_MATRIX_EDIT0, CAdOptDlg::IDC_MATRIX_EDIT8})
    EXPECT_TRUE(Ctrl(page, id)->isEnabled()) << id;
  log = CamSdkTestTakeCallLog();
  EXPECT_TRUE(LogHas(log, "CameraApplyColorMatrix(" + h + ", &) = 1"));
  CAMSDK_OK(CameraGetRgbMatrixSel(handle, &sel));
  EXPECT_EQ(sel, -1);
  CamSdkTestTakeCallLog();

  // Two Applies: the roll-back matrix holds the values of the first.
  TypeMatrix(page, {"1.1", "0", "0", "0", "1", "0", "0", "0", "1"});
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_APPLY));
  TypeMatrix(page, {"1.2", "0", "0", "0", "1", "0", "0", "0", "1"});
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_APPLY));
  EXPECT_EQ(page.RollbackMatrix(), (ColorMatrix{1.1f, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(page.Users()[1], (ColorMatrix{1.2f, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(page.Users()[0], kIdentity);
  EXPECT_EQ(CamSdkTestTakeCallLog().size(), 2u);
}

TEST_F(ColorMatrixTest, AppliedMatrixChangesTheCamerasFrames) {
  const int handle = OpenCurrent("color");
  int w = 0, h = 0;
  ASSERT_EQ(camera->GetImageSize(0, &w, &h), 1);
  ASSERT_TRUE(camera->AllocFrameBuffer(w, h));
  CamSdkSceneGeometry scene{};
  ASSERT_EQ(CamSdkTestGetSceneGeometry(handle, &scene), 1);
  ASSERT_EQ(scene.width * 10000 + scene.height, w * 10000 + h);
  // Mean B, G, R over the middle of the red patch (the buffer is bottom-up).
  const CamSdkRect red = scene.colorPatches[0];
  auto patch = [&] {
    EXPECT_EQ(CamSdkTestDeliverFrames(handle, 1), 1);
    std::vector<std::uint8_t> px;
    EXPECT_TRUE(camera->CopyFrame(&px, nullptr));
    std::array<double, 3> sum{};
    int n = 0;
    for (int y = int(red.y + red.height / 4); y < int(red.y + red.height * 3 / 4); ++y)
      for (int x = int(red.x + red.width / 4); x < int(red.x + red.width * 3 / 4); ++x, ++n)
        for (int c = 0; c < 3; ++c) sum[std::size_t(c)] += px[(std::size_t(h - 1 - y) * std::size_t(w) + std::size_t(x)) * 3 + std::size_t(c)];
    for (double& v : sum) v /= std::max(n, 1);
    return sum;
  };
  CAdOptDlg page;
  Choose(List(page), List(page)->count() - 3);  // User1: identity
  const auto plain = patch();
  EXPECT_GT(plain[2], plain[0] + 60);  // red
  // R' = B, G' = G, B' = R: the red and blue channels trade places.
  TypeMatrix(page, {"0", "0", "1", "0", "1", "0", "1", "0", "0"});
  Click(Ctrl(page, CAdOptDlg::IDC_MATRIX_APPLY));
  const auto swapped = patch();
  EXPECT_NEAR(swapped[0], plain[2], 12.0);
  EXPECT_NEAR(swapped[2], plain[0], 12.0);
  EXPECT_NEAR(swapped[1], plain[1], 12.0);
}

TEST_F(ColorMatrixTest, MonochromeCameraLeavesOnlyLoadEnabled) {
  OpenCurrent("mono");
  CAdOptDlg page;
  for (int id : {CAdOptDlg::IDC_MATRIX_LIST, CAdOptDlg::IDC_MATRIX_APPLY, CAdOptDlg::IDC_MATRIX_SAVE,
                 CAdOptDlg::IDC_MATRIX_ROLLBACK, CAdOptDlg::IDC_MATRIX_EDIT0, CAdOptDlg::IDC_MATRIX_EDIT8})
    EXPECT_FALSE(Ctrl(page, id)->isEnabled()) << id;
  EXPECT_TRUE(Ctrl(page, CAdOptDlg::IDC_MATRIX_LOAD)->isEnabled());
  // Captions from the string table; the equation keeps its own texts.
  EXPECT_EQ(static_cast<QPushButton*>(Ctrl(page, CAdOptDlg::IDC_MATRIX_ROLLBACK))->text(), "Roll back");
  EXPECT_EQ(static_cast<QLabel*>(Ctrl(page, CAdOptDlg::IDC_TIMES))->text(), QString(u'\u00D7'));
}

}  // namespace
