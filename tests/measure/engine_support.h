#pragma once
// Shared pieces of the engine tests: a capture fake that checks balance, a callback log and
// helpers to read a recorded drawing.
#include <algorithm>
#include <string>
#include <vector>

#include "measure/MeasureManager.h"
#include "tests/measure/engine_access.h"

class FakeCapture : public IMouseCapture {
 public:
  void SetCapture() override { unbalanced += captured, captured = true, ++sets; }
  void ReleaseCapture() override { unbalanced += !captured, captured = false, ++releases; }
  int sets = 0, releases = 0, unbalanced = 0;
  bool captured = false;
};

struct NotifyEntry {
  int index, action, kind, count;
  friend bool operator==(const NotifyEntry&, const NotifyEntry&) = default;
};

inline std::vector<NotifyEntry> g_notifyLog;

inline std::int32_t RecordNotify(std::int32_t index, MEASUREBASE rec, std::int32_t action) {
  g_notifyLog.push_back({index, action, rec.m_nKind, rec.m_nPointCount});
  return 0;
}

inline std::vector<int> Actions() {
  std::vector<int> a;
  for (const auto& e : g_notifyLog) a.push_back(e.action);
  return a;
}

using Lines = std::vector<std::string>;
inline int Find(const Lines& lines, const std::string& line) {
  const auto it = std::find(lines.begin(), lines.end(), line);
  return it == lines.end() ? -1 : int(it - lines.begin());
}
inline bool Has(const Lines& lines, const std::string& line) { return Find(lines, line) >= 0; }
inline int Count(const Lines& lines, const std::string& prefix) {
  return int(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}
