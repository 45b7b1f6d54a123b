#pragma once
// Message boxes of the editors. The English user interface (string 25 reads "English") gets a
// box with the caption the caller gives for it (often none); the other languages get the
// application's box with its own caption. Tests answer the boxes through a hook.
#include <QString>

#include <functional>

#include "platform/text.h"

class QWidget;

namespace editors {

enum PromptAnswer { kAnswerOk = 1, kAnswerYes = 6, kAnswerNo = 7 };

struct PromptInfo {
  QString text;
  QString caption;
  bool yesNo = false;    // Yes and No buttons; else OK
  bool english = false;  // the English variant of the box
};

using PromptHook = std::function<int(const PromptInfo&)>;
// Replaces the boxes (tests); an empty hook restores them.
void SetPromptHook(PromptHook hook);

// True when the running language's string 25 reads "English".
bool EnglishBoxes();

// Shows `text`. englishCaption is the caption of the English box; otherCaption that of the
// other languages (empty: the application's name). Returns kAnswerOk, kAnswerYes or kAnswerNo.
int Prompt(QWidget* parent, const QString& text, const QString& englishCaption, const QString& otherCaption,
           bool yesNo);

}  // namespace editors
