// Layer files: one INI section per save, every record as its byte image in the profile struct
// encoding. A file is read once and written once per call.
#include <algorithm>

#include "measure/MeasureManager.h"
#include "platform/profile.h"

namespace {

constexpr std::int32_t kMaxLoadPoints = kMaxOpenShapePoints;

WString SectionName(WStringView prefix, int number) { return FormatW(u"%s%d", prefix, number); }

// Key names such as "Layer%dPoint%d", built without the general formatter: a large section has
// hundreds of thousands of them.
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

const WString& Key(WString& buf, WStringView a, std::int32_t i) {
  buf.assign(a);
  AppendInt(buf, i);
  return buf;
}

const WString& Key(WString& buf, WStringView a, std::int32_t i, WStringView b) {
  Key(buf, a, i);
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

}  // namespace

bool CMeasureManager::SaveLayers(const std::filesystem::path& file, WStringView prefix, int number) const {
  CProfileFile ini(file);
  const WString section = SectionName(prefix, number);
  WString key, value;

  const int remarks = std::clamp<int>(m_nRemarkCount, 0, int(m_arrRemark.size()));
  std::array<std::uint8_t, stRemark::kByteSize> remarkBytes;
  for (int i = 0; i < remarks; ++i) {
    m_arrRemark[std::size_t(i)].Serialize(std::span<std::uint8_t, stRemark::kByteSize>(remarkBytes));
    ini.WriteStruct(section, Key(key, u"RemarkCross", i), remarkBytes);
  }

  const int measures = std::clamp<int>(m_nMeasureCount, 0, int(m_arrMeasure.size()));
  std::array<std::uint8_t, MEASUREBASE::kByteSize> recordBytes;
  for (int j = 0; j < measures; ++j) {
    const MEASUREBASE& rec = m_arrMeasure[std::size_t(j)];
    ini.WriteString(section, Key(key, u"Layer", j, u"PointCount"), Key(value, u"", rec.m_nPointCount));
    // Only points the record really holds; a reader takes missing ones as (0, 0).
    const int points = std::clamp<int>(rec.m_nPointCount, 0, int(rec.m_arrPoint.size()));
    for (int k = 0; k < points; ++k)
      ini.WriteStruct(section, Key(key, u"Layer", j, u"Point", k), SerializePoint(rec.m_arrPoint[std::size_t(k)]));
    rec.Serialize(std::span<std::uint8_t, MEASUREBASE::kByteSize>(recordBytes));  // points not part of it
    ini.WriteStruct(section, Key(key, u"Layer", j), recordBytes);
  }

  ini.WriteString(section, u"CrossTotal", FormatW(u"%d", remarks));
  ini.WriteString(section, u"LayerTotal", FormatW(u"%d", measures));
  return ini.Save();
}

bool CMeasureManager::LoadLayers(const std::filesystem::path& file, WStringView prefix, int number) {
  const CProfileFile ini(file);
  const WString section = SectionName(prefix, number);
  WString key, value;
  const int maxRecords = int(kMeasureSlots);

  // Damaged records (bad length, hex or checksum, unknown kind) are skipped; the valid ones are
  // stored from the current counts on, until the stores are full.
  const int remarks = std::clamp(ini.GetInt(section, u"CrossTotal", 0), 0, maxRecords);
  std::array<std::uint8_t, stRemark::kByteSize> remarkBytes;
  for (int i = 0; i < remarks; ++i) {
    if (m_nRemarkCount < 0 || std::size_t(m_nRemarkCount) >= m_arrRemark.size()) break;
    if (!ini.GetStruct(section, Key(key, u"RemarkCross", i), remarkBytes)) continue;
    stRemark rem;
    rem.Deserialize(std::span<const std::uint8_t, stRemark::kByteSize>(remarkBytes));
    if (!IsRemarkKind(rem.m_nKind)) continue;
    m_arrRemark[std::size_t(m_nRemarkCount)] = rem;
    ++m_nRemarkCount;
  }

  const int measures = std::clamp(ini.GetInt(section, u"LayerTotal", 0), 0, maxRecords);
  std::array<std::uint8_t, MEASUREBASE::kByteSize> recordBytes;
  std::array<std::uint8_t, 8> pointBytes;
  for (int j = 0; j < measures; ++j) {
    if (m_nMeasureCount < 0 || std::size_t(m_nMeasureCount) >= m_arrMeasure.size()) break;
    if (!ini.GetStruct(section, Key(key, u"Layer", j), recordBytes)) continue;
    MEASUREBASE rec;
    rec.Deserialize(std::span<const std::uint8_t, MEASUREBASE::kByteSize>(recordBytes));
    if (!IsMeasureKind(rec.m_nKind)) continue;
    const int points = std::clamp(ini.GetInt(section, Key(key, u"Layer", j, u"PointCount"), 0), 0, kMaxLoadPoints);
    if (points < BuiltPointCount(rec.m_nKind)) continue;  // the shape could not be drawn or measured
    rec.m_arrPoint.reserve(std::size_t(points));
    for (int k = 0; k < points; ++k) {
      POINT pt{0, 0};
      if (ini.GetStruct(section, Key(key, u"Layer", j, u"Point", k), pointBytes))
        pt = DeserializePoint(std::span<const std::uint8_t, 8>(pointBytes));
      rec.m_arrPoint.push_back(pt);
    }
    // The count in use never claims more points than the record holds.
    rec.m_nPointCount = std::clamp(rec.m_nPointCount, 0, points);
    const int slot = m_nMeasureCount;
    m_arrMeasure[std::size_t(slot)] = std::move(rec);
    if (m_arrMeasure[std::size_t(slot)].m_nKind != MK_ARROW && m_arrMeasure[std::size_t(slot)].m_nKind != MK_CROSS)
      Notify(slot, 1);
    ++m_nMeasureCount;
  }
  return true;
}
