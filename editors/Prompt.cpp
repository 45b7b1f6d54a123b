#include "editors/Prompt.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/strings.h"
#include "res/StringIds.h"

namespace editors {

namespace {
PromptHook& Hook() {
  static PromptHook hook;
  return hook;
}
}  // namespace

void SetPromptHook(PromptHook hook) { Hook() = std::move(hook); }

bool EnglishBoxes() { return LoadStringW(sid::kLanguageName) == u"English"; }

int Prompt(QWidget* parent, const QString& text, const QString& englishCaption, const QString& otherCaption,
           bool yesNo) {
  PromptInfo info;
  info.text = text;
  info.yesNo = yesNo;
  info.english = EnglishBoxes();
  info.caption = info.english ? englishCaption : otherCaption;
  // A box without a caption of its own is titled with the application's title.
  if (info.caption.isEmpty()) info.caption = QString::fromStdU16String(LoadStringW(sid::kAppTitle));
  if (Hook()) return Hook()(info);
  QMessageBox box(yesNo ? QMessageBox::Question : QMessageBox::Warning, info.caption, text,
                  yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
  const int r = box.exec();
  if (!yesNo) return kAnswerOk;
  return r == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
}

}  // namespace editors
