#pragma once
// CRemarkDlg: text, colour and size of a text remark (only colour and size of an arrow or a
// cross). The view fills the members, runs it, and on OK passes them to the engine.
#include <QDialog>

#include "platform/text.h"
#include "platform/types.h"

class QLineEdit;
class QSlider;
namespace editors {
class ColorButton;
}

class CRemarkDlg : public QDialog {
  Q_OBJECT
 public:
  enum : int { kText = 1167, kColor = 1168, kSize = 1169 };
  enum : int { kTextLabel = 1252, kColorLabel = 1253, kSizeLabel = 1254, kSizeMin = 1203, kSizeMax = 1204 };

  explicit CRemarkDlg(QWidget* parent = nullptr);

  // Shows the members; the text can be edited only for a text remark (kinds 256 and 274).
  void OnInitDialog();
  // Takes the text, the colour and the size (slider position + 19), then ends with OK.
  void OnOK();
  int exec() override;
  void accept() override { OnOK(); }

  COLORREF m_clrRemark = 0;
  WString m_strRemark;
  int m_nRemarkSize = 20;
  int m_nRemarkKind = 256;

  QLineEdit* TextEdit() const { return text_; }
  QSlider* SizeSlider() const { return size_; }
  editors::ColorButton* ColorBtn() const { return color_; }

 private:
  QLineEdit* text_ = nullptr;
  QSlider* size_ = nullptr;
  editors::ColorButton* color_ = nullptr;
};
