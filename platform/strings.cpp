#include "platform/strings.h"

#include <atomic>
#include <unordered_map>

#include <QFile>

// The tables live in the static resource library; registering them here keeps them linked
// into every program that uses the string tables.
static void InitStringResources() { Q_INIT_RESOURCE(q7v_strings); }

namespace {

using Table = std::unordered_map<std::uint32_t, WString>;

// "id<TAB>text" lines; '#' starts a comment line; \t \n \\ are escapes.
Table ParseTable(const QByteArray& data) {
  Table table;
  for (qsizetype pos = 0; pos < data.size();) {
    qsizetype nl = data.indexOf('\n', pos);
    if (nl < 0) nl = data.size();
    QByteArrayView line(data.constData() + pos, nl - pos);
    pos = nl + 1;
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty() || line.front() == '#') continue;
    const qsizetype tab = line.indexOf('\t');
    if (tab <= 0) continue;
    bool ok = false;
    const std::uint32_t id = line.first(tab).toUInt(&ok);
    if (!ok) continue;
    const WString raw = FromUtf8(std::string_view(line.data() + tab + 1, std::size_t(line.size() - tab - 1)));
    WString text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == u'\\' && i + 1 < raw.size()) {
        const char16_t e = raw[++i];
        text += e == u't' ? u'\t' : e == u'n' ? u'\n' : e == u'\\' ? u'\\' : e;
      } else {
        text += raw[i];
      }
    }
    table.insert_or_assign(id, std::move(text));
  }
  return table;
}

const Table& TableOf(UiLanguage lang) {
  static const struct Tables {
    Table en, zh;
    Tables() {
      InitStringResources();
      QFile en(QStringLiteral(":/strings/en.tsv")), zh(QStringLiteral(":/strings/zh.tsv"));
      if (en.open(QIODevice::ReadOnly)) this->en = ParseTable(en.readAll());
      if (zh.open(QIODevice::ReadOnly)) this->zh = ParseTable(zh.readAll());
    }
  } tables;
  return lang == UiLanguage::Chinese ? tables.zh : tables.en;
}

std::atomic<UiLanguage> g_language{UiLanguage::English};

}  // namespace

void SetUiLanguage(UiLanguage lang) { g_language.store(lang); }
UiLanguage GetUiLanguage() { return g_language.load(); }

WString LoadStringW(std::uint32_t id) { return LoadStringW(id, GetUiLanguage()); }

WString LoadStringW(std::uint32_t id, UiLanguage lang) {
  const Table& t = TableOf(lang);
  auto it = t.find(id);
  return it == t.end() ? WString() : it->second;
}

bool HasString(std::uint32_t id, UiLanguage lang) { return TableOf(lang).count(id) != 0; }
