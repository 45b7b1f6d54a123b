// Layer-file save and load of a large section against plain file I/O of the same size, and the
// recomputation of every result text after a scale change.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

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
    MEASUREBASE& rec = m.m_arrMeasure[std::size_t(i)];
    rec.m_nKind = kinds[i % 16];
    const int n = BuiltPointCount(rec.m_nKind) ? BuiltPointCount(rec.m_nKind) : open(rng);
    for (int k = 0; k < n; ++k) rec.m_arrPoint.push_back(POINT{coord(rng), coord(rng)});
    rec.m_nPointCount = n;
    m.m_nMeasureCount = i + 1;
    POINT tl, br;
    if (m.GetMeasureBounds(i, &tl, &br)) rec.m_rcBound = RECT{tl.x, tl.y, br.x, br.y};
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
    benchmark::DoNotOptimize(Engine().SaveLayers(p, u"Bench", 0));
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(LayerFileSize()));
}

void BM_SaveLayersOverExisting(benchmark::State& state) {
  const fs::path p = BenchDir() / "save_over.kvmi";
  Engine().SaveLayers(p, u"Bench", 0);
  for (auto _ : state) benchmark::DoNotOptimize(Engine().SaveLayers(p, u"Bench", 0));
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

void BM_PlainWrite(benchmark::State& state) {
  const fs::path p = BenchDir() / "plain.bin";
  const std::vector<char> bytes(LayerFileSize(), 'A');
  for (auto _ : state) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
}

void BM_PlainRead(benchmark::State& state) {
  const fs::path p = BenchDir() / "plain_read.bin";
  std::vector<char> bytes(LayerFileSize(), 'A');
  {
    std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }
  for (auto _ : state) {
    std::FILE* f = std::fopen(p.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
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
