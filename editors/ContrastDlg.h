#pragma once
// CRemarkAngleDlg and CRemarkRoundDlg: the "Contrast - Angle" and "Contrast - Round" reference
// figures. The view copies the engine's figure into the members, runs the dialog, and on OK
// passes the members back. All-zero values open with defaults from the current camera's image.
#include <QDialog>

class QCheckBox;
class QLineEdit;

// What the two dialogs share: the check box, the origin edits and the size edit.
class CContrastDlgBase : public QDialog {
  Q_OBJECT
 public:
  enum : int { kOriginX = 1182, kOriginY = 1183, kAngle = 1192 };
  // The frame round the edits, and the edits' labels (the templates' own texts).
  enum : int {
    kFieldsGroup = 9000,
    kLabelOriginX = 62001,
    kLabelOriginY = 62002,
    kLabelLength = 62003,
    kLabelRadius = 62004,
    kLabelAngle = 62005,
  };

  void OnInitDialog();
  int exec() override;
  void accept() override { OnOK(); }
  virtual void OnOK() = 0;

  int m_bShow = 0;
  int m_nOriginX = 0;
  int m_nOriginY = 0;
  int m_nShowCheck = 0;

  QCheckBox* ShowCheck() const { return check_; }
  QLineEdit* Edit(int id) const;

 protected:
  // checkId: the check box; sizeId: the length or radius edit; angle: with the angle edit.
  CContrastDlgBase(QWidget* parent, int checkId, int sizeId, int sizeLabelId, int captionId, bool angle);
  // The figure's size (length or radius) and angle as the members hold them.
  virtual double SizeMember() const = 0;
  virtual double AngleMember() const { return 0.0; }
  // The default size from the smaller image side.
  virtual double DefaultSize(int minSide) const = 0;
  // Reads the check box and the origin; ends with OK after the subclass read its values.
  void ReadCommon();

  QCheckBox* check_ = nullptr;
  int sizeId_;
  int captionId_;
  bool angle_;
};

class CRemarkAngleDlg : public CContrastDlgBase {
  Q_OBJECT
 public:
  enum : int { kCheck = 1193, kLength = 1197 };
  explicit CRemarkAngleDlg(QWidget* parent = nullptr);
  void OnOK() override;

  double m_dLength = 0.0;
  double m_dAngle = 0.0;

 protected:
  double SizeMember() const override { return m_dLength; }
  double AngleMember() const override { return m_dAngle; }
  double DefaultSize(int minSide) const override { return minSide * 0.5; }
};

class CRemarkRoundDlg : public CContrastDlgBase {
  Q_OBJECT
 public:
  enum : int { kCheck = 1198, kRadius = 1194 };
  explicit CRemarkRoundDlg(QWidget* parent = nullptr);
  // The radius is read as an integer: a typed fraction is dropped.
  void OnOK() override;

  double m_dRadius = 0.0;

 protected:
  double SizeMember() const override { return m_dRadius; }
  double DefaultSize(int minSide) const override { return minSide * 0.25; }
};
