#include "platform/gdi/font_map.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>

namespace gdi {
namespace {

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}

const QStringList& InstalledFamilies() {
  static const QStringList families = QFontDatabase::families();
  return families;
}

QString FirstInstalled(std::initializer_list<const char*> names) {
  const QStringList& all = InstalledFamilies();
  for (const char* n : names) {
    const QString s = QString::fromLatin1(n);
    if (all.contains(s, Qt::CaseInsensitive)) return s;
  }
  return QString();
}

// Any family that can write Chinese, for faces we cannot match.
const QString& CjkFallback() {
  static const QString family = [] {
    QString f = FirstInstalled({"AR PL UMing CN", "AR PL UKai CN", "Noto Sans CJK SC", "Noto Serif CJK SC",
                                "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Droid Sans Fallback"});
    if (!f.isEmpty()) return f;
    for (auto ws : {QFontDatabase::SimplifiedChinese, QFontDatabase::TraditionalChinese, QFontDatabase::Japanese}) {
      const QStringList l = QFontDatabase::families(ws);
      if (!l.isEmpty()) return l.front();
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  }();
  return family;
}

const QString& SongFamily() {
  static const QString family = [] {
    QString f = FirstInstalled({"AR PL UMing CN", "AR PL UMing TW", "AR PL SungtiL GB", "Noto Serif CJK SC",
                                "Source Han Serif SC"});
    return f.isEmpty() ? CjkFallback() : f;
  }();
  return family;
}

const QString& KaiFamily() {
  static const QString family = [] {
    QString f = FirstInstalled({"AR PL UKai CN", "AR PL UKai TW", "AR PL KaitiM GB"});
    return f.isEmpty() ? CjkFallback() : f;
  }();
  return family;
}

bool HasCjk(WStringView s) {
  for (char16_t c : s)
    if (c >= 0x2E80) return true;
  return false;
}

}  // namespace

QString ResolveFamily(WStringView face) {
  static const WStringView kSong[] = {u"宋体", u"新宋体", u"SimSun", u"NSimSun", u"仿宋", u"FangSong", u"仿宋_GB2312"};
  static const WStringView kKai[] = {u"楷体", u"楷体_GB2312", u"KaiTi", u"KaiTi_GB2312"};
  for (WStringView s : kSong)
    if (face == s) return SongFamily();
  for (WStringView s : kKai)
    if (face == s) return KaiFamily();
  std::lock_guard<std::mutex> lock(CacheMutex());
  static std::map<WString, QString> cache;
  auto it = cache.find(WString(face));
  if (it != cache.end()) return it->second;
  const QString name = QString::fromUtf16(face.data(), qsizetype(face.size()));
  QString family;
  if (!name.isEmpty() && InstalledFamilies().contains(name, Qt::CaseInsensitive)) {
    family = name;
  } else if (HasCjk(face)) {
    family = CjkFallback();
  } else {
    family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  }
  cache.emplace(WString(face), family);
  return family;
}

QFont MakeFont(WStringView face, int pixelSize, int weight, bool italic) {
  QFont f;
  const QString family = ResolveFamily(face);
  f.setFamilies(QStringList{family, SongFamily(), CjkFallback()});
  f.setPixelSize(pixelSize < 1 ? 1 : pixelSize);
  if (weight > 0) f.setWeight(QFont::Weight(weight < 100 ? 100 : weight > 900 ? 900 : weight));
  f.setItalic(italic);
  f.setKerning(false);
  // The look of the other platform's bitmap text: no antialiasing at all.
  f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
  return f;
}

int PixelSizeForCell(const QFont& proto, int cellHeight) {
  if (cellHeight < 1) cellHeight = 1;
  using Key = std::tuple<QString, int, bool, int>;
  const Key key{proto.families().join(QLatin1Char(',')), proto.weight(), proto.italic(), cellHeight};
  static std::map<Key, int> cache;
  {
    std::lock_guard<std::mutex> lock(CacheMutex());
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
  }
  // Ascent + descent grows about linearly with the pixel size; a few corrections land on the
  // size whose cell is closest (the smaller one on a tie).
  QFont f(proto);
  int best = cellHeight, bestErr = 1 << 30;
  int p = cellHeight;
  for (int iter = 0; iter < 6; ++iter) {
    f.setPixelSize(p);
    const QFontMetrics fm(f);
    const int cell = fm.ascent() + fm.descent();
    const int err = std::abs(cell - cellHeight);
    if (err < bestErr || (err == bestErr && p < best)) {
      best = p;
      bestErr = err;
    }
    if (cell == cellHeight || cell <= 0) break;
    int next = int(double(p) * cellHeight / cell + 0.5);
    if (next == p) next = cell < cellHeight ? p + 1 : p - 1;
    if (next < 1) next = 1;
    if (next == p) break;
    p = next;
  }
  std::lock_guard<std::mutex> lock(CacheMutex());
  cache.emplace(key, best);
  return best;
}

}  // namespace gdi
