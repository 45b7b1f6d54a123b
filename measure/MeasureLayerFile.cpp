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

// Key names such as "Layer%dPoint%d", built in place: a large section has hundreds of thousands.
class KeyName {
 public:
  KeyName& Text(WStringView s) {
    for (char16_t c : s) buf_[n_++] = c;
    return *this;
  }
  KeyName& Int(std::int32_t v) {  // as "%d"
    char16_t digits[12];
    int k = 0;
    std::uint32_t u = v < 0 ? 0u - std::uint32_t(v) : std::uint32_t(v);
    do {
      digits[k++] = char16_t(u'0' + u % 10);
      u /= 10;
    } while (u);
    if (v < 0) buf_[n_++] = u'-';
    while (k) buf_[n_++] = digits[--k];
    return *this;
  }
  std::size_t Size() const { return n_; }
  KeyName& Cut(std::size_t n) {
    n_ = n;
    return *this;
  }
  WStringView View() const { return WStringView(buf_, n_); }

 private:
  char16_t buf_[64];  // the longest name: "Layer" + 11 + "Point" + 11 + "Count"
  std::size_t n_ = 0;
};

bool IsMeasureKind(std::int32_t k) { return k >= MK_POINT && k <= MK_CIRCLE2CIRCLE; }
bool IsRemarkKind(std::int32_t k) { return k >= MK_TEXT && k <= MK_CROSS; }

// Both records start with their kind (int32, little-endian): a record is checked before it is
// read into its slot.
std::int32_t KindOf(std::span<const std::uint8_t> bytes) {
  return std::int32_t(std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
                      std::uint32_t(bytes[3]) << 24);
}

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

  // An upper-case ASCII word.
  template <std::size_t N>
  bool Word(const char (&upper)[N]) {
    constexpr std::size_t n = N - 1;
    if (key_.size() - pos_ < n) return false;
    for (std::size_t k = 0; k < n; ++k) {
      const auto c = char16_t(std::make_unsigned_t<C>(key_[pos_ + k]));
      if ((c | 0x20) == (upper[k] | 0x20) && c < 0x80) continue;
      if (sizeof(C) == 1 || c < 0x80 || FoldProfileChar(c) != char16_t(upper[k])) return false;
    }
    pos_ += n;
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

// The key that follows a point key (or a point count) in a section SaveLayers wrote:
// "Layer{j}Point{k+1}". A key spelt exactly so needs no parsing.
class NextPointKey {
 public:
  void After(std::int32_t measure, std::int32_t point) {  // point -1: after the point count
    if (measure != measure_ || point != point_ || n_ == 0) {
      measure_ = measure;
      point_ = point + 1;
      Format();
      return;
    }
    ++point_;  // count up in place
    std::size_t i = n_;
    while (i > 0 && text_[i - 1] == '9') text_[--i] = '0';
    if (i > 0 && text_[i - 1] >= '0' && text_[i - 1] <= '8') {
      ++text_[i - 1];
    } else {
      Format();
    }
  }
  // The parsed key when `key` is the one expected.
  bool Is(const ProfileText& key, ParsedKey& k) const {
    if (n_ == 0 || key.IsWide() || key.Narrow() != std::string_view(text_, n_)) return false;
    k = ParsedKey{KeyKind::kPoint, measure_, point_};
    return true;
  }

 private:
  void Format() {  // "Layer%dPoint%d" (both numbers are not negative)
    n_ = 0;
    auto put = [&](const char* s) {
      while (*s) text_[n_++] = *s++;
    };
    auto number = [&](std::int32_t v) {
      char digits[12];
      int k = 0;
      do {
        digits[k++] = char('0' + v % 10);
        v /= 10;
      } while (v);
      while (k) text_[n_++] = digits[--k];
    };
    put("Layer");
    number(measure_);
    put("Point");
    number(point_);
  }

  char text_[48] = {};
  std::size_t n_ = 0;
  std::int32_t measure_ = -1, point_ = -1;
};

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
  KeyName key;

  const int remarks = std::clamp<int>(m_nRemarkCount, 0, int(m_arrRemark.size()));
  const int measures = std::clamp<int>(m_nMeasureCount, 0, int(m_arrMeasure.size()));
  // the text to come, roughly: key, '=', hex digits and checksum, CRLF
  std::size_t units = 64, entries = 2 + std::size_t(remarks) + 2 * std::size_t(measures);
  units += std::size_t(remarks) * (2 * stRemark::kByteSize + 24);
  for (int j = 0; j < measures; ++j) {
    const MEASUREBASE& rec = m_arrMeasure[std::size_t(j)];
    const int points = std::clamp<int>(rec.m_nPointCount, 0, int(rec.m_arrPoint.size()));
    units += 2 * MEASUREBASE::kByteSize + 48 + std::size_t(points) * 40;
    entries += std::size_t(points);
  }
  out.Reserve(units, entries);
  out.AssumeDistinctKeys();  // one per remark, measurement and point, and the two totals

  std::array<std::uint8_t, stRemark::kByteSize> remarkBytes;
  for (int i = 0; i < remarks; ++i) {
    m_arrRemark[std::size_t(i)].Serialize(std::span<std::uint8_t, stRemark::kByteSize>(remarkBytes));
    out.WriteStruct(key.Cut(0).Text(u"RemarkCross").Int(i).View(), remarkBytes);
  }

  std::array<std::uint8_t, MEASUREBASE::kByteSize> recordBytes;
  std::vector<std::uint8_t> pointBytes;
  for (int j = 0; j < measures; ++j) {
    const MEASUREBASE& rec = m_arrMeasure[std::size_t(j)];
    const std::size_t layer = key.Cut(0).Text(u"Layer").Int(j).Size(), point = key.Text(u"Point").Size();
    out.WriteInt(key.Text(u"Count").View(), rec.m_nPointCount);
    // Only points the record really holds; a reader takes missing ones as (0, 0).
    const int points = std::clamp<int>(rec.m_nPointCount, 0, int(rec.m_arrPoint.size()));
    pointBytes.resize(8 * std::size_t(points));
    for (int k = 0; k < points; ++k) {
      const auto bytes = SerializePoint(rec.m_arrPoint[std::size_t(k)]);
      std::copy(bytes.begin(), bytes.end(), pointBytes.begin() + 8 * k);
    }
    out.WriteStructs(key.Cut(point).View(), 0, 8, pointBytes);  // "Layer{j}Point{k}"
    rec.Serialize(std::span<std::uint8_t, MEASUREBASE::kByteSize>(recordBytes));  // points not part of it
    out.WriteStruct(key.Cut(layer).View(), recordBytes);
  }

  out.WriteInt(u"CrossTotal", remarks);
  out.WriteInt(u"LayerTotal", measures);
  return out.Commit() && ini.Save();
}

bool CMeasureManager::LoadLayers(const std::filesystem::path& file, WStringView prefix, int number) {
  const int maxRecords = int(kMeasureSlots);
  constexpr std::int32_t kNotMet = -1, kDamaged = -2, kReadEarly = -3;

  // One pass over the section as the file is read; what is needed is taken from each line as it
  // passes, the first line of each key counting as for a lookup by name. Points are decoded on the
  // way, remarks and records kept as bytes until the totals, which come last, tell how many count.
  std::vector<std::int32_t> remarkAt(static_cast<std::size_t>(maxRecords), kNotMet);  // into remarkBytes
  std::vector<std::array<std::uint8_t, stRemark::kByteSize>> remarkBytes;
  std::vector<std::int32_t> recordAt(static_cast<std::size_t>(maxRecords), kNotMet);  // into recordBytes
  std::vector<std::array<std::uint8_t, MEASUREBASE::kByteSize>> recordBytes;
  std::vector<std::optional<std::int32_t>> counts(static_cast<std::size_t>(maxRecords));
  std::vector<LoadedPoints> points(static_cast<std::size_t>(maxRecords));
  std::optional<std::int32_t> crossTotal, layerTotal;
  // Records arrive in order after their point counts in a section SaveLayers wrote: each is read
  // straight into the slot it will take (`early`). A record out of that order, or one whose point
  // count is still to come, ends this; the rest wait for the totals. Slots beyond those the totals
  // confirm may so receive records the totals leave out.
  std::vector<std::int32_t> early(static_cast<std::size_t>(maxRecords), kNotMet);
  std::int32_t nextRecord = 0, nextSlot = m_nMeasureCount;
  std::array<std::uint8_t, MEASUREBASE::kByteSize> bytes;
  std::array<std::uint8_t, 8> pointBytes;
  NextPointKey next;
  auto pointCount = [](std::int32_t count) { return std::clamp(count, 0, kMaxLoadPoints); };
  CProfileFile::ForEachEntryIn(file, SectionName(prefix, number), [&](const ProfileEntry& e) {
    ParsedKey k;
    if (!next.Is(e.key, k)) k = e.key.Visit([](auto key) { return ReadKey(key); });
    const auto at = std::size_t(k.index);
    switch (k.kind) {
      case KeyKind::kPoint: {
        POINT pt{0, 0};
        if (DecodeProfileStruct(e.value, pointBytes)) pt = DeserializePoint(std::span<const std::uint8_t, 8>(pointBytes));
        points[at].Add(k.point, pt);
        next.After(k.index, k.point);
        break;
      }
      case KeyKind::kPointCount:
        if (!counts[at]) {
          counts[at] = ParseProfileInt(e.value, 0);
          if (points[at].pts.empty()) points[at].pts.reserve(std::size_t(pointCount(*counts[at])));
        }
        next.After(k.index, -1);
        break;
      case KeyKind::kRecord: {
        if (recordAt[at] != kNotMet) break;
        if (!DecodeProfileStruct(e.value, bytes)) {
          recordAt[at] = kDamaged;
          nextRecord = k.index == nextRecord ? nextRecord + 1 : maxRecords;
          break;
        }
        const std::int32_t kind = KindOf(bytes);
        const bool usable = IsMeasureKind(kind) && counts[at] && pointCount(*counts[at]) >= BuiltPointCount(kind);
        if (k.index == nextRecord && nextSlot >= 0 && nextSlot < maxRecords && (usable || counts[at])) {
          ++nextRecord;  // in order, and its point count known: settled now
          recordAt[at] = kReadEarly;
          if (usable) {
            m_arrMeasure[std::size_t(nextSlot)].Deserialize(std::span<const std::uint8_t, MEASUREBASE::kByteSize>(bytes));
            early[at] = nextSlot++;
          }
          break;
        }
        nextRecord = maxRecords;
        recordAt[at] = std::int32_t(recordBytes.size());
        recordBytes.push_back(bytes);
        break;
      }
      case KeyKind::kRemark:
        if (remarkAt[at] != kNotMet) break;
        remarkAt[at] = kDamaged;
        remarkBytes.emplace_back();
        if (DecodeProfileStruct(e.value, remarkBytes.back())) {
          remarkAt[at] = std::int32_t(remarkBytes.size() - 1);
        } else {
          remarkBytes.pop_back();
        }
        break;
      case KeyKind::kCrossTotal:
        if (!crossTotal) crossTotal = ParseProfileInt(e.value, 0);
        break;
      case KeyKind::kLayerTotal:
        if (!layerTotal) layerTotal = ParseProfileInt(e.value, 0);
        break;
      case KeyKind::kOther: break;
    }
    return true;
  });

  // Damaged records (bad length, hex or checksum, unknown kind) are skipped; the valid ones are
  // stored from the current counts on, until the stores are full.
  ChangeScope scope(*this);
  const int remarksBefore = m_nRemarkCount, measuresBefore = m_nMeasureCount;
  const int remarks = std::clamp(crossTotal.value_or(0), 0, maxRecords);
  for (int i = 0; i < remarks; ++i) {
    if (m_nRemarkCount < 0 || std::size_t(m_nRemarkCount) >= m_arrRemark.size()) break;
    const std::int32_t at = remarkAt[std::size_t(i)];
    if (at < 0 || !IsRemarkKind(KindOf(remarkBytes[std::size_t(at)]))) continue;
    m_arrRemark[std::size_t(m_nRemarkCount)].Deserialize(
        std::span<const std::uint8_t, stRemark::kByteSize>(remarkBytes[std::size_t(at)]));
    ++m_nRemarkCount;
  }

  const int measures = std::clamp(layerTotal.value_or(0), 0, maxRecords);
  for (int j = 0; j < measures; ++j) {
    if (m_nMeasureCount < 0 || std::size_t(m_nMeasureCount) >= m_arrMeasure.size()) break;
    const std::int32_t at = recordAt[std::size_t(j)];
    if (at == kNotMet || at == kDamaged) continue;
    const int slot = m_nMeasureCount;
    MEASUREBASE& rec = m_arrMeasure[std::size_t(slot)];
    if (at == kReadEarly) {
      // Read early, in order: into this very slot (records before it took the slots before it),
      // or not at all when it was of no use.
      if (early[std::size_t(j)] != slot) continue;
    } else {
      const auto& b = recordBytes[std::size_t(at)];
      const std::int32_t kind = KindOf(b);
      if (!IsMeasureKind(kind) || pointCount(counts[std::size_t(j)].value_or(0)) < BuiltPointCount(kind))
        continue;  // the shape could not be drawn or measured
      rec.Deserialize(std::span<const std::uint8_t, MEASUREBASE::kByteSize>(b));  // every field
    }
    const int count = pointCount(counts[std::size_t(j)].value_or(0));
    rec.m_arrPoint = std::move(points[std::size_t(j)].pts);
    rec.m_arrPoint.resize(std::size_t(count), POINT{0, 0});  // missing points read as (0, 0)
    // The count in use never claims more points than the record holds, nor fewer than its kind
    // is drawn with: the file supplied them (that is why the record was taken), and a save
    // writes only the points in use, so a lower count would not load again.
    rec.m_nPointCount = std::min(std::max(rec.m_nPointCount, BuiltPointCount(rec.m_nKind)), count);
    // The text is made again from the points at the scale in force: a file saved by an older
    // computation, or under another scale, shows what the reports compute.
    if (MeasureValues v; CalcMeasureValues(slot, &v)) FormatResultText(slot, v.L, v.A, v.B, v.P, v.S);
    if (rec.m_nKind != MK_ARROW && rec.m_nKind != MK_CROSS) Notify(slot, 1);
    ++m_nMeasureCount;
  }
  if (m_nRemarkCount != remarksBefore) Changed(kChangedInteraction);
  if (m_nMeasureCount != measuresBefore) Changed(kChangedMeasurements);
  return true;
}
