// Dialog captions from the string tables, in the running language.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/strings.h"
#include "res/StringIds.h"
#include "ui/DlgTexts.h"

namespace {

TEST(DialogTexts, CaptionsFromTheStringTableExceptEditsAndTheReservedIds) {
  SetUiLanguage(UiLanguage::English);
  QDialog dialog;
  auto make = [&](auto* w, int id) {
    w->setProperty(kCtrlIdProperty, id);
    return w;
  };
  auto* button = make(new QPushButton(u"x"_qs, &dialog), 1059);
  auto* edit = make(new QLineEdit(u"typed"_qs, &dialog), 1001);
  auto* reserved = make(new QLabel(u"set by the dialog"_qs, &dialog), 1325);
  auto* noString = make(new QLabel(u"old"_qs, &dialog), 1002);
  auto* plain = new QLabel(u"no id"_qs, &dialog);
  auto* minusOne = make(new QLabel(u"static"_qs, &dialog), -1);
  auto* group = make(new QGroupBox(u"g"_qs, &dialog), 1031);
  auto* inner = make(new QCheckBox(u"c"_qs, group), 1001);
  LoadDlgItemTexts(&dialog);
  EXPECT_EQ(button->text(), u"Once WB."_qs);
  EXPECT_EQ(edit->text(), u"typed"_qs);
  EXPECT_EQ(reserved->text(), u"set by the dialog"_qs);
  EXPECT_EQ(noString->text(), QString());
  EXPECT_EQ(plain->text(), u"no id"_qs);
  EXPECT_EQ(minusOne->text(), QString());  // no string has that id either
  EXPECT_EQ(group->title(), u"Exposure Control"_qs);
  EXPECT_EQ(inner->text(), u"Auto Exp."_qs);

  SetUiLanguage(UiLanguage::Chinese);
  LoadDlgItemTexts(&dialog);
  EXPECT_EQ(inner->text(), QString::fromStdU16String(LoadStringW(sid::kAutoExp, UiLanguage::Chinese)));
  EXPECT_NE(inner->text(), u"Auto Exp."_qs);
  SetUiLanguage(UiLanguage::English);

  QDialog empty;
  LoadDlgItemTexts(&empty);
  LoadDlgItemTexts(nullptr);
  EXPECT_TRUE(empty.children().isEmpty());
}

}  // namespace
