#include "options/OptionsCommon.h"

#include <QColorDialog>
#include <QDir>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <string>

#include "platform/strings.h"
#include "res/StringIds.h"

namespace options {

namespace {
IPrompts g_defaultPrompts;
IPrompts* g_prompts = &g_defaultPrompts;

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
}  // namespace

std::optional<QString> IPrompts::PickFolder(QWidget* owner, const QString& title, const QString& start) {
  const QString dir = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(dir);
}

std::optional<QString> IPrompts::PickOpenFile(QWidget* owner, const QString& filter) {
  const QString file = QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
  if (file.isEmpty()) return std::nullopt;
  return file;
}

std::optional<QString> IPrompts::PickSaveFile(QWidget* owner, const QString& filter, const QString& suffix) {
  QFileDialog dlg(owner, QString(), QString(), filter);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setFileMode(QFileDialog::AnyFile);
  dlg.setDefaultSuffix(suffix);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
  return dlg.selectedFiles().front();
}

std::optional<COLORREF> IPrompts::PickColor(QWidget* owner, COLORREF initial) {
  const QColor c = QColorDialog::getColor(ToQColor(initial), owner);
  if (!c.isValid()) return std::nullopt;
  return FromQColor(c);
}

void IPrompts::Message(QWidget* owner, const QString& text) {
  QMessageBox::information(owner, QString::fromStdU16String(LoadStringW(sid::kAppTitle)), text, QMessageBox::Ok);
}

IPrompts& Prompts() { return *g_prompts; }
void SetPrompts(IPrompts* prompts) { g_prompts = prompts ? prompts : &g_defaultPrompts; }

std::int32_t ParseInt(WStringView text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long long v = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    v = v * 10 + (text[i] - u'0');
    if (v > 2147483648LL) v = 2147483648LL;  // enough to saturate either way
  }
  if (negative) v = -v;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return std::int32_t(v);
}

double ParseDouble(WStringView text) {
  // Only ASCII can be part of a number. strtod_l with the C locale reads the longest leading
  // number whatever the user's locale (overflow gives +-HUGE_VAL, as the C library does).
  std::string ascii;
  ascii.reserve(text.size());
  for (char16_t c : text) {
    if (c >= 0x80) break;
    ascii += char(c);
  }
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return strtod_l(ascii.c_str(), nullptr, cLocale);
}

QString QtFilter(WStringView platformFilter) {
  const QStringList parts = QStr(platformFilter).split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;  // the "||" that ends the list
    QString name = parts[i];
    const qsizetype paren = name.indexOf(u'(');
    if (paren > 0) name = name.left(paren).trimmed();
    QString patterns = parts[i + 1];
    patterns.replace(u';', u' ');
    filters << QStringLiteral("%1 (%2)").arg(name, patterns);
  }
  return filters.join(QStringLiteral(";;"));
}

QString Str(std::uint32_t id) { return QStr(LoadStringW(id)); }

void NoAutoDefault(QWidget* root) {
  for (QPushButton* b : root->findChildren<QPushButton*>()) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
}

}  // namespace options
