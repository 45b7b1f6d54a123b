#pragma once
// What the option pages share: the prompts they show (folder, file and colour pickers and the
// message box), which tests replace, and the reading of numbers from edits as the pages have
// always read them.
#include <QString>

#include <optional>

#include "platform/text.h"
#include "platform/types.h"

class QWidget;
class QLineEdit;
class QPushButton;

namespace options {

// The prompts of the option pages. The defaults use Qt's dialogs; tests install their own with
// SetPrompts so that nothing modal opens.
class IPrompts {
 public:
  virtual ~IPrompts() = default;
  // A folder of the file system; nothing when cancelled.
  virtual std::optional<QString> PickFolder(QWidget* owner, const QString& title, const QString& start);
  // An existing file to open; `filter` in Qt's form ("Name (*.a *.b);;...").
  virtual std::optional<QString> PickOpenFile(QWidget* owner, const QString& filter);
  // A file to save; an existing one is confirmed first, a name without suffix gets `suffix`.
  virtual std::optional<QString> PickSaveFile(QWidget* owner, const QString& filter, const QString& suffix);
  virtual std::optional<COLORREF> PickColor(QWidget* owner, COLORREF initial);
  // A message with an OK button.
  virtual void Message(QWidget* owner, const QString& text);
};

IPrompts& Prompts();
void SetPrompts(IPrompts* prompts);  // null restores the default

// An edit's text read as an int: blanks, an optional sign, then decimal digits; anything else
// ends the number, no digits give 0, overflow saturates.
std::int32_t ParseInt(WStringView text);
// An edit's text read as a number: blanks, then the longest leading decimal number (sign,
// digits, point, exponent); a text that is not a number gives 0.0.
double ParseDouble(WStringView text);

// A filter in the platform's form ("Name(*.a;*.b)|*.a;*.b|...||") as a Qt filter list.
QString QtFilter(WStringView platformFilter);

inline QString QStr(WStringView s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); }
inline WString WStr(const QString& s) { return s.toStdU16String(); }
// The string-table text of `id` as a QString.
QString Str(std::uint32_t id);

// Buttons of a page never become the dialog's default: Enter in a page must not press them.
void NoAutoDefault(QWidget* root);

}  // namespace options

// Captions and texts of the option pages that have no control id of their own.
namespace options {
enum : std::uint32_t {
  kStrImageFormat = 62100,
  kStrJpegQuality = 62101,
  kStrImagePath = 62102,
  kStrImageName = 62103,
  kStrMilliseconds = 62104,
  kStrCodec = 62105,
  kStrVideoQuality = 62106,
  kStrVideoPath = 62107,
  kStrVideoPrefix = 62108,
  kStrSelectionLine = 62109,
  kStrLineType = 62110,
  kStrLineColor = 62111,
  kStrGrid = 62112,
  kStrGridInterval = 62113,
  kStrGridWidth = 62114,
  kStrGridColor = 62115,
  kStrWordTemplate = 62116,
  kStrExcelTemplate = 62117,
  kStrReportTitle = 62118,
  kStrReportHeader = 62119,
  kStrMatrixNotSaved = 62120,
  kStrContinuousCapture = 62121,
  kStrImageFile = 62122,
};
}  // namespace options
