// Layer files: one INI section per save, every record as its byte image in the profile struct
// encoding. A file is read once and written once per call; a section is written as one block and
// read in one pass over its lines, since a large one holds hundreds of thousands of keys.
#include <algorithm>
#include <optional>
#include <vector>

#include "measure/MeasureManager.h"
#include "platform/profile.h"

namespace {

constexpr std::int32_t kMaxLoadPoints = kMaxOpenShapePoints;

WString SectionName(WStringView prefix, int number) { return FormatW(u"%s%d", prefix, number); }

// Key names such as "Layer%dPoint%d", built without the general formatter.
void AppendInt(WString& out, std::int32_t v) {
  char16_t buf[12];
  int n = 0;
  std::uint32_t u = v < 0 ? 0u - std::uint32_t(v) : std::uint32_t(v);
  do {
    buf[n++] = char16_t(u'0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) out.push_back(u'-');
  while (n) out.push_back(buf[--n]);
}

const WString& Key(WString& buf, WStringView a, std::int32_t i, WStringView b = {}) {
  buf.assign(a);
  AppendInt(buf, i);
  buf.append(b);
  return buf;
}

const WString& Key(WString& buf, WStringView a, std::int32_t i, WStringView b, std::int32_t k) {
  Key(buf, a, i, b);
  AppendInt(buf, k);
  return buf;
}

bool IsMeasureKind(std::int32_t k) { return k >= MK_POINT && k <= MK_CIRCLE2CIRCLE; }
bool IsRemarkKind(std::int32_t k) { return k >= MK_TEXT && k <= MK_CROSS; }

// ---- key names as the loader meets them --------------------------------------------------------

enum class KeyKind { kOther, kRemark, kRecord, kPointCount, kPoint, kCrossTotal, kLayerTotal };

struct ParsedKey {
  KeyKind kind = KeyKind::kOther;
  std::int32_t index = 0, point = 0;
};

// Reads a key the way a lookup of the names SaveLayers writes would match it: letters in any case,
// numbers exactly as "%d" writes them (no sign, no leading zero). Numbers at or beyond `limit`
// are of no use to the loader and read as no match.
template <class C>
class KeyReader {
 public:
  explicit KeyReader(std::basic_string_view<C> key) : key_(key) {}

  bool Word(const char* upper) {
    std::size_t i = pos_;
    for (; *upper; ++upper, ++i) {
      if (i >= key_.size()) return false;
      const auto c = char16_t(std::make_unsigned_t<C>(key_[i]));
      const auto want = char16_t(*upper);
      if (c == want || (c < 0x80 ? c == want + 32 : FoldProfileChar(c) == want)) continue;
      return false;
    }
    pos_ = i;
    return true;
  }
  bool Number(std::int32_t limit, std::int32_t& value) {
    std::size_t i = pos_;
    std::int32_t v = 0;
    while (i < key_.size() && IsDigit(key_[i]) && v < limit) v = v * 10 + (key_[i++] - C('0'));
    if (i == pos_ || v >= limit || (key_[pos_] == C('0') && i - pos_ > 1)) return false;
    if (i < key_.size() && IsDigit(key_[i])) return false;
    value = v;
    pos_ = i;
    return true;
  }
  bool End() const { return pos_ == key_.size(); }
  std::size_t Pos() const { return pos_; }
  void Rewind(std::size_t pos) { pos_ = pos; }

 private:
  static bool IsDigit(C c) { return c >= C('0') && c <= C('9'); }
  std::basic_string_view<C> key_;
  std::size_t pos_ = 0;
};

template <class C>
ParsedKey ReadKey(std::basic_string_view<C> key) {
  ParsedKey k;
  KeyReader<C> r(key);
  if (r.Word("LAYER")) {
    const std::size_t afterLayer = r.Pos();
    if (r.Number(kMeasureSlots, k.index)) {
      if (r.End()) {
        k.kind = KeyKind::kRecord;
      } else if (r.Word("POINT")) {
        const std::size_t afterPoint = r.Pos();
        if (r.Number(kMaxLoadPoints, k.point)) {
          if (r.End()) k.kind = KeyKind::kPoint;
        } else if (r.Rewind(afterPoint), r.Word("COUNT") && r.End()) {
          k.kind = KeyKind::kPointCount;
        }
      }
    } else if (r.Rewind(afterLayer), r.Word("TOTAL") && r.End()) {
      k.kind = KeyKind::kLayerTotal;
    }
  } else if (r.Word("REMARKCROSS")) {
    if (r.Number(kMeasureSlots, k.index) && r.End()) k.kind = KeyKind::kRemark;
  } else if (r.Word("CROSSTOTAL")) {
    if (r.End()) k.kind = KeyKind::kCrossTotal;
  }
  return k;
}

// The points of one measurement as the section holds them: the first line of each point key
// counts; points not (yet) met read as (0, 0).
struct LoadedPoints {
  std::vector<POINT> pts;
  std::vector<bool> met;  // kept only once the keys came out of order

  void Add(std::int32_t k, POINT pt) {
    const auto at = std::size_t(k);
    if (at == pts.size() && met.empty()) {  // in order: the usual case
      pts.push_back(pt);
      return;
    }
    if (met.empty()) met.assign(pts.size(), true);
    if (at >= pts.size()) {
      pts.resize(at + 1, POINT{0, 0});
      met.resize(at + 1, false);
    }
    if (!met[at]) pts[at] = pt;
    met[at] = true;
  }
};

}  // namespace

bool CMeasureManager::SaveLayers(const std::filesystem::path& file, WStringView prefix, int number) const {
  CProfileFile ini(file);
  CProfileFile::SectionWriter out = ini.WriteSection(SectionName(prefix, number));
  WString key;

  const int remarks = std::clamp<int>(m_nRemarkCount, 0, int(m_arrRemark.size()));
  const int measures = std::clamp<int>(m_nMeasureCount, 0, int(m_arrMeasure.size()));
  std::size_t units = 64;  // the text to come, roughly: key, '=', hex digits and checksum, CRLF
  units += std::size_t(remarks) * (2 * stRemark::kByteSize + 24);
  for (int j = 0; j < measures; ++j) {
    const MEASUREBASE& rec = m_arrMeasure[std::size_t(j)];
    const int points = std::clamp<int>(rec.m_nPointCount, 0, int(rec.m_arrPoint.size()));
    units += 2 * MEASUREBASE::kByteSize + 48 + std::size_t(points) * 40;
  }
  out.Reserve(units);

  std::array<std::uint8_t, stRemark::kByteSize> remarkBytes;
  for (int i = 0; i < remarks; ++i) {
    m_arrRemark[std::size_t(i)].Serialize(std::span<std::uint8_t, stRemark::kByteSize>(remarkBytes));
    out.WriteStruct(Key(key, u"RemarkCross", i), remarkBytes);
  }

  std::array<std::uint8_t, MEASUREBASE::kByteSize> recordBytes;
  for (int j = 0; j < measures; ++j) {
    const MEASUREBASE& rec = m_arrMeasure[std::size_t(j)];
    out.WriteInt(Key(key, u"Layer", j, u"PointCount"), rec.m_nPointCount);
    // Only points the record really holds; a reader takes missing ones as (0, 0).
    const int points = std::clamp<int>(rec.m_nPointCount, 0, int(rec.m_arrPoint.size()));
    for (int k = 0; k < points; ++k)
      out.WriteStruct(Key(key, u"Layer", j, u"Point", k), SerializePoint(rec.m_arrPoint[std::size_t(k)]));
    rec.Serialize(std::span<std::uint8_t, MEASUREBASE::kByteSize>(recordBytes));  // points not part of it
    out.WriteStruct(Key(key, u"Layer", j), recordBytes);
  }

  out.WriteInt(u"CrossTotal", remarks);
  out.WriteInt(u"LayerTotal", measures);
  return out.Commit() && ini.Save();
}

bool CMeasureManager::LoadLayers(const std::filesystem::path& file, WStringView prefix, int number) {
  const CProfileFile ini(file);
  const int maxRecords = int(kMeasureSlots);

  // One pass over the section: the first line of each key counts, as for a lookup by name. The
  // points are decoded on the way; records wait for the totals, which come last.
  struct Texts {
    std::optional<ProfileText> remark, record, count;
  };
  std::vector<Texts> texts(static_cast<std::size_t>(maxRecords));
  std::vector<LoadedPoints> points(static_cast<std::size_t>(maxRecords));
  std::optional<ProfileText> crossTotal, layerTotal;
  std::array<std::uint8_t, 8> pointBytes;
  ini.ForEachEntry(SectionName(prefix, number), [&](const ProfileEntry& e) {
    const ParsedKey k = e.key.Visit([](auto key) { return ReadKey(key); });
    auto first = [&](std::optional<ProfileText>& text) {
      if (!text) text = e.value;
    };
    switch (k.kind) {
      case KeyKind::kRemark: first(texts[std::size_t(k.index)].remark); break;
      case KeyKind::kRecord: first(texts[std::size_t(k.index)].record); break;
      case KeyKind::kPointCount:
        if (!texts[std::size_t(k.index)].count && points[std::size_t(k.index)].pts.empty())
          points[std::size_t(k.index)].pts.reserve(std::size_t(std::clamp(ParseProfileInt(e.value, 0), 0, kMaxLoadPoints)));
        first(texts[std::size_t(k.index)].count);
        break;
      case KeyKind::kCrossTotal: first(crossTotal); break;
      case KeyKind::kLayerTotal: first(layerTotal); break;
      case KeyKind::kPoint: {
        POINT pt{0, 0};
        if (DecodeProfileStruct(e.value, pointBytes)) pt = DeserializePoint(std::span<const std::uint8_t, 8>(pointBytes));
        points[std::size_t(k.index)].Add(k.point, pt);
        break;
      }
      case KeyKind::kOther: break;
    }
    return true;
  });

  // Damaged records (bad length, hex or checksum, unknown kind) are skipped; the valid ones are
  // stored from the current counts on, until the stores are full.
  const int remarks = std::clamp(crossTotal ? ParseProfileInt(*crossTotal, 0) : 0, 0, maxRecords);
  std::array<std::uint8_t, stRemark::kByteSize> remarkBytes;
  for (int i = 0; i < remarks; ++i) {
    if (m_nRemarkCount < 0 || std::size_t(m_nRemarkCount) >= m_arrRemark.size()) break;
    const std::optional<ProfileText>& text = texts[std::size_t(i)].remark;
    if (!text || !DecodeProfileStruct(*text, remarkBytes)) continue;
    stRemark rem;
    rem.Deserialize(std::span<const std::uint8_t, stRemark::kByteSize>(remarkBytes));
    if (!IsRemarkKind(rem.m_nKind)) continue;
    m_arrRemark[std::size_t(m_nRemarkCount)] = rem;
    ++m_nRemarkCount;
  }

  const int measures = std::clamp(layerTotal ? ParseProfileInt(*layerTotal, 0) : 0, 0, maxRecords);
  std::array<std::uint8_t, MEASUREBASE::kByteSize> recordBytes;
  for (int j = 0; j < measures; ++j) {
    if (m_nMeasureCount < 0 || std::size_t(m_nMeasureCount) >= m_arrMeasure.size()) break;
    const Texts& t = texts[std::size_t(j)];
    if (!t.record || !DecodeProfileStruct(*t.record, recordBytes)) continue;
    MEASUREBASE rec;
    rec.Deserialize(std::span<const std::uint8_t, MEASUREBASE::kByteSize>(recordBytes));
    if (!IsMeasureKind(rec.m_nKind)) continue;
    const int pointCount = std::clamp(t.count ? ParseProfileInt(*t.count, 0) : 0, 0, kMaxLoadPoints);
    if (pointCount < BuiltPointCount(rec.m_nKind)) continue;  // the shape could not be drawn or measured
    rec.m_arrPoint = std::move(points[std::size_t(j)].pts);
    rec.m_arrPoint.resize(std::size_t(pointCount), POINT{0, 0});  // missing points read as (0, 0)
    // The count in use never claims more points than the record holds.
    rec.m_nPointCount = std::clamp(rec.m_nPointCount, 0, pointCount);
    const int slot = m_nMeasureCount;
    m_arrMeasure[std::size_t(slot)] = std::move(rec);
    if (m_arrMeasure[std::size_t(slot)].m_nKind != MK_ARROW && m_arrMeasure[std::size_t(slot)].m_nKind != MK_CROSS)
      Notify(slot, 1);
    ++m_nMeasureCount;
  }
  return true;
}
