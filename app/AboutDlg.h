#pragma once
// The About box, the document of the single-document frame, and the file dialog that places
// itself near the centre of the work area.
#include <QDialog>
#include <QStringList>

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  enum : int { kVersion = 1182 };

  explicit CAboutDlg(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* e) override;
};

// The empty document: it holds and serialises nothing.
class CApplicationDoc {
 public:
  bool OnNewDocument() { return true; }
};

// Open (optionally many files) or save with a filter such as "Support File(*.bmp)|*.bmp||" and
// a default extension, starting in `folder` (the working folder when empty); returns the chosen
// paths, empty when cancelled.
QStringList RunFileDialogEx(QWidget* parent, bool open, bool multi, const QString& filter, const QString& defExt,
                            const QString& folder = QString());
