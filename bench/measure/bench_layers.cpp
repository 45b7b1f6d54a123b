// Layer-file save and load of a large section against plain file I/O of the same size, and the
// recomputation of every result text after a scale change.
#include <filesystem>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "measure/MeasureManager.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMeasures = 10000;
constexpr int kRemarks = 1000;

fs::path BenchDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("q7v_bench_layers_" + std::to_string(std::random_device{}()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// 10000 measurements of every stored kind (the open kinds with 2 to 250 points) and 1000 remarks.
void Fill(CMeasureManager& m) {
  static const std::int32_t kinds[] = {MK_POINT,     MK_LINE,    MK_PARALLEL, MK_FOLDLINE,   MK_ANGLE,
                                       MK_LINE2LINE, MK_RECT,    MK_ROUNDRECT, MK_ELLIPSE,   MK_ARC3,
                                       MK_CIRCLE2,   MK_CIRCLE3, MK_POLYGON,  MK_POINT2LINE, MK_CIRCLE2LINE,
                                       MK_CIRCLE2CIRCLE};
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> coord(0, 4000), open(2, 250);
  for (int i = 0; i < kMeasures; ++i) {
    MEASUREBASE rec;
    rec.m_nKind = kinds[i % 16];
    const int n = BuiltPointCount(rec.m_nKind) ? BuiltPointCount(rec.m_nKind) : open(rng);
    for (int k = 0; k < n; ++k) rec.m_arrPoint.push_back(POINT{coord(rng), coord(rng)});
    rec.m_nPointCount = n;
    m.AddMeasure(rec);
    POINT tl, br;
    if (m.GetMeasureBounds(i, &tl, &br)) {
      rec.m_rcBound = RECT{tl.x, tl.y, br.x, br.y};
      m.SetMeasure(i, rec);
    }
  }
  m.SetScale(0.25f, u"mm", ScaleDisplayBlock{});
  for (int i = 0; i < kRemarks; ++i) m.AddRemark(coord(rng), coord(rng), u"remark text", 25, 0xFF);
}

CMeasureManager& Engine() {
  static CMeasureManager* m = [] {
    auto* e = new CMeasureManager;
    Fill(*e);
    return e;
  }();
  return *m;
}

std::uintmax_t LayerFileSize() {
  static const std::uintmax_t size = [] {
    const fs::path p = BenchDir() / "size.kvmi";
    Engine().SaveLayers(p, u"Bench", 0);
    return fs::file_size(p);
  }();
  return size;
}

void BM_SaveLayersNewFile(benchmark::State& state) {
  const fs::path p = BenchDir() / "save_new.kvmi";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(p);
    state.ResumeTiming();
    if (!Engine().SaveLayers(p, u"Bench", 0)) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(LayerFileSize()));
}

void BM_SaveLayersOverExisting(benchmark::State& state) {
  const fs::path p = BenchDir() / "save_over.kvmi";
  Engine().SaveLayers(p, u"Bench", 0);
  for (auto _ : state)
    if (!Engine().SaveLayers(p, u"Bench", 0)) state.SkipWithError("save failed");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(LayerFileSize()));
}

void BM_LoadLayers(benchmark::State& state) {
  const fs::path p = BenchDir() / "load.kvmi";
  Engine().SaveLayers(p, u"Bench", 0);
  auto* m = new CMeasureManager;
  for (auto _ : state) {
    state.PauseTiming();
    m->ResetMeasurements();
    m->RemoveAllRemarks();
    state.ResumeTiming();
    m->LoadLayers(p, u"Bench", 0);
  }
  if (m->GetMeasureCount() != kMeasures || m->GetRemarkCount() != kRemarks) state.SkipWithError("load incomplete");
  delete m;
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(LayerFileSize()));
}

// The plain I/O the layer file is measured against, done the way a save and a load must do it:
// the write creates the file, writes the bytes, syncs them to disk (as the atomic save does before
// renaming) and closes it; the read opens the file, reads it whole into a freshly allocated buffer
// and closes it. The buffer is mapped anew each time: memory that the code measured before left
// in the heap would otherwise spare the read its page faults, depending on what ran before.
bool PlainWrite(const fs::path& p, const char* bytes, std::size_t n) {
  const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < n;) {
    const ssize_t w = ::write(fd, bytes + done, n - done);
    ok = w > 0;
    done += ok ? std::size_t(w) : 0;
  }
  ok = ::fdatasync(fd) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

// Returns the number of bytes read.
std::size_t PlainRead(const fs::path& p) {
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  std::size_t n = 0;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    const auto size = std::size_t(st.st_size);
    void* mem = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem != MAP_FAILED) {
      auto* bytes = static_cast<char*>(mem);
      for (ssize_t r; n < size && (r = ::read(fd, bytes + n, size - n)) > 0;) n += std::size_t(r);
      benchmark::DoNotOptimize(bytes);
      ::munmap(mem, size);
    }
  }
  ::close(fd);
  return n;
}

void BM_PlainWrite(benchmark::State& state) {
  const fs::path p = BenchDir() / "plain.bin";
  const std::vector<char> bytes(LayerFileSize(), 'A');
  for (auto _ : state)
    if (!PlainWrite(p, bytes.data(), bytes.size())) state.SkipWithError("write failed");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
}

void BM_PlainRead(benchmark::State& state) {
  const fs::path p = BenchDir() / "plain_read.bin";
  {
    const std::vector<char> bytes(LayerFileSize(), 'A');
    PlainWrite(p, bytes.data(), bytes.size());
  }
  for (auto _ : state)
    if (PlainRead(p) != LayerFileSize()) state.SkipWithError("read failed");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(LayerFileSize()));
}

void BM_SetScale(benchmark::State& state) {
  CMeasureManager& m = Engine();
  float f = 0.5f;
  for (auto _ : state) {
    m.SetScale(f, u"um", ScaleDisplayBlock{});
    f = f == 0.5f ? 0.25f : 0.5f;
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * m.GetMeasureCount());
}

}  // namespace

BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveLayersNewFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveLayersOverExisting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLayers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetScale)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(BenchDir(), ec);
  return 0;
}
