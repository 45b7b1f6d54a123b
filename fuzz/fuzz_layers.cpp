// Layer files. Whatever LoadLayers takes must compute, print and report without undefined
// behaviour, and must come back the same after SaveLayers and another load: into a new file, and
// over the file it came from (stale keys and foreign sections stay there).
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "platform/durable_file.h"
#include "measure/MeasureManager.h"

namespace {

constexpr char16_t kPrefix[] = u"Cam";
constexpr int kNumber = 1;

// What a load leaves in use: records with the points they count, remarks.
struct Snapshot {
  std::vector<std::array<std::uint8_t, MEASUREBASE::kByteSize>> records;
  std::vector<std::vector<POINT>> points;
  std::vector<std::array<std::uint8_t, stRemark::kByteSize>> remarks;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const CMeasureManager& m) {
  Snapshot s;
  for (int i = 0; i < m.GetMeasureCount(); ++i) {
    const MEASUREBASE& rec = *m.GetMeasure(i);
    FUZZ_CHECK(rec.m_nPointCount >= 0 && std::size_t(rec.m_nPointCount) <= rec.m_arrPoint.size());
    s.records.push_back(rec.Serialize());
    s.points.emplace_back(rec.m_arrPoint.begin(), rec.m_arrPoint.begin() + rec.m_nPointCount);
  }
  for (int i = 0; i < m.GetRemarkCount(); ++i) s.remarks.push_back(m.GetRemark(i)->Serialize());
  return s;
}

// Everything the values and texts of a loaded record go through; the texts, for comparison.
std::vector<std::u16string> Exercise(CMeasureManager& m) {
  std::vector<std::u16string> texts;
  std::vector<char16_t> line(kReportLineLen);
  for (int i = 0; i < m.GetMeasureCount(); ++i) {
    MeasureValues v;
    if (m.CalcMeasureValues(i, &v)) m.FormatResultText(i, v.L, v.A, v.B, v.P, v.S);
    texts.emplace_back(m.GetMeasure(i)->m_szResult);
    line[0] = 0;
    m.GetWordReportLine(i, u"label", line.data(), line.size());
    texts.emplace_back(line.data());
    line[0] = 0;
    m.GetExcelReportLine(i, u"label", line.data(), line.size());
    texts.emplace_back(line.data());
    POINT tl, br;
    if (m.GetMeasureBounds(i, &tl, &br)) FUZZ_CHECK(tl.x <= br.x && tl.y <= br.y);
  }
  return texts;
}

// Engines are built once: a new one clears 10000 slots of each store, which would take most of
// the time. Emptied (which clears only the slots in use), one loads as a new one does, since a
// load fills every field of each slot it puts in use and nothing reads the slots beyond the counts.
CMeasureManager& Load(int which, const std::filesystem::path& file) {
  static CMeasureManager* engines[3] = {new CMeasureManager, new CMeasureManager, new CMeasureManager};
  CMeasureManager& m = *engines[which];
  m.ResetMeasurements();
  m.RemoveAllRemarks();
  FUZZ_CHECK(m.LoadLayers(file, kPrefix, kNumber));
  return m;
}

}  // namespace

// Saves are checked as always but not synced to the disk: a sync per input would bound the search.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDurableSync(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto in = fuzz::ScratchDir() / "in.kvmi", out = fuzz::ScratchDir() / "out.kvmi";
  fuzz::WriteFile(in, data, size);
  std::filesystem::remove(out);

  CMeasureManager& first = Load(0, in);
  const Snapshot loaded = Take(first);

  FUZZ_CHECK(first.SaveLayers(out, kPrefix, kNumber));
  CMeasureManager& second = Load(1, out);
  FUZZ_CHECK(Take(second) == loaded);

  // Over the original: the section is merged into what the file holds.
  if (first.SaveLayers(in, kPrefix, kNumber)) FUZZ_CHECK(Take(Load(2, in)) == loaded);

  FUZZ_CHECK(Exercise(first) == Exercise(second));
  return 0;
}
