#pragma once
// The "Advanced Settings" page of the options dialog: the current camera's 3 x 3 colour matrix.
// The operator picks one of the camera's preset matrices (the library applies it by number) or
// one of three user matrices, which are edited here, applied, rolled back, and saved to or
// loaded from a colour-matrix file. Every change reaches the camera at once; the dialog's OK
// and Cancel do not touch this page. The user matrices live as long as the page.
#include <QWidget>

#include <array>
#include <filesystem>

#include "ui/DialogBuilder.h"

// Nine coefficients in row order: R' = m0 R + m1 G + m2 B, G' = m3 R + ..., B' = m6 R + ...
using ColorMatrix = std::array<float, 9>;
using UserMatrices = std::array<ColorMatrix, 3>;

// The colour-matrix file: section "Color Matrix", keys "User1" to "User3", each the 36 bytes of
// its matrix in the profile struct encoding. Save returns false when the file was not written;
// Load reads each key straight into its matrix (a failed read leaves that matrix as it was) and
// returns how many of the three it read.
bool SaveColorMatrixFile(const std::filesystem::path& file, const UserMatrices& users);
int LoadColorMatrixFile(const std::filesystem::path& file, UserMatrices& users);

class CAdOptDlg : public QWidget {
 public:
  // Control ids of the page.
  enum : int {
    IDC_MATRIX_GROUP = 1319,
    IDC_MATRIX_LIST = 1339,
    IDC_MATRIX_APPLY = 1340,
    IDC_MATRIX_SAVE = 1341,
    IDC_MATRIX_ROLLBACK = 1342,
    IDC_MATRIX_LOAD = 1343,
    IDC_MATRIX_LABEL = 1344,
    // The coefficients, row by row (R', G', B'); code walks them as IDC_MATRIX_EDIT0 + i.
    IDC_MATRIX_EDIT0 = 1326,
    IDC_MATRIX_EDIT1 = 1327,
    IDC_MATRIX_EDIT2 = 1328,
    IDC_MATRIX_EDIT3 = 1329,
    IDC_MATRIX_EDIT4 = 1330,
    IDC_MATRIX_EDIT5 = 1331,
    IDC_MATRIX_EDIT6 = 1332,
    IDC_MATRIX_EDIT7 = 1333,
    IDC_MATRIX_EDIT8 = 1334,
    // The statics of the equation R' G' B' = [ ... ] x R G B (they keep the texts set here).
    IDC_OUT_R = 1320,
    IDC_OUT_G = 1321,
    IDC_OUT_B = 1322,
    IDC_EQUALS = 1323,
    IDC_BRACKET_OPEN = 1324,
    IDC_BRACKET_CLOSE = 1325,
    IDC_TIMES = 1335,
    IDC_IN_R = 1336,
    IDC_IN_G = 1337,
    IDC_IN_B = 1338,
  };

  // Builds the page, fills the matrix list from the current camera and sets the captions.
  explicit CAdOptDlg(QWidget* parent = nullptr);

  void FillMatrixList();
  void OnMatrixSelChange();
  void OnMatrixApply();
  void OnMatrixRollback();
  void OnMatrixSave();
  void OnMatrixLoad();

  const ui::CtrlMap& Controls() const { return ctrls_; }
  const ColorMatrix& RollbackMatrix() const { return rollback_; }
  const UserMatrices& Users() const { return users_; }

 private:
  ColorMatrix ReadEdits() const;
  void ShowMatrix(const ColorMatrix& m);
  void EnableEditing(bool on);
  int UserIndexOf(const QString& name) const;  // 0..2, or -1 for a preset

  ColorMatrix rollback_{};  // before the last Apply; also the exchange store of Roll back
  UserMatrices users_;
  ui::CtrlMap ctrls_;
};
