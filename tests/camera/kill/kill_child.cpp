// A program that saves one kind of file in a loop until it is killed, for the kill tests:
//   camera_kill_child <settings|layers|bitmap|recording> <folder>
// It prints "ready" once it starts saving, then one line per finished save ("saved <n>") or,
// recording, the frames in the file so far ("written <n>").
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "camera/BitmapFile.h"
#include "measure/MeasureManager.h"
#include "platform/camsdk/core.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace {

void Say(const char* what, std::uint64_t n) {
  std::printf("%s %llu\n", what, static_cast<unsigned long long>(n));
  std::fflush(stdout);
}

// A store the size of a real one (some 15 kB): every value carries the save's number.
int Settings(const fs::path& folder) {
  SetRegistryFile(folder / "registry.dat");
  Say("ready", 0);
  for (std::uint64_t n = 1;; ++n) {
    CRegistryKey key;
    if (key.Create(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings") != ERROR_SUCCESS) return 1;
    for (int i = 0; i < 50; ++i)
      key.SetString(FormatW(u"Value%d", i), FormatW(u"%llu ", n) + WString(100, char16_t(u'a' + i % 26)));
    key.SetDword(u"Save", DWORD(n));
    if (key.Close() != ERROR_SUCCESS) return 1;
    Say("saved", n);
  }
}

// 10,000 lines; the first point of the first line carries the save's number.
int Layers(const fs::path& folder) {
  CMeasureManager mm;
  MEASUREBASE r;
  r.m_nKind = MK_LINE;
  r.m_nPointCount = 2;
  CopyToBuffer(u"L: 50.000 px", r.m_szResult, kResultTextLen);
  for (int i = 0; i < kMeasureSlots; ++i) {
    r.m_arrPoint = {{i % 1000, i / 1000}, {i % 1000 + 30, i / 1000 + 40}};
    r.m_rcBound = RECT{i % 1000, i / 1000, i % 1000 + 30, i / 1000 + 40};
    if (mm.AddMeasure(r) != i) return 1;
  }
  Say("ready", 0);
  MEASUREBASE first = *mm.GetMeasure(0);
  for (std::uint64_t n = 1;; ++n) {
    first.m_arrPoint[0].y = LONG(n);
    mm.SetMeasure(0, first);
    if (!mm.SaveLayers(folder / "Default.kvmi", u"Cam", 0)) return 1;
    Say("saved", n);
  }
}

// A 20 MP picture; its first pixel's blue carries the save's number.
int Bitmap(const fs::path& folder) {
  QImage picture(5472, 3648, QImage::Format_RGB32);
  picture.fill(0x336699);
  Say("ready", 0);
  for (std::uint64_t n = 1;; ++n) {
    picture.setPixel(0, 0, 0x336600u | unsigned(n & 0xFF));
    if (WriteBitmapFile(QString::fromStdString((folder / "Capture.bmp").string()), picture) != BitmapStatus::Ok) return 1;
    Say("saved", n);
  }
}

// 25 frames a second of 320 x 240 into "Video.avi", as the camera's frame thread hands them.
int Recording(const fs::path& folder) {
  constexpr int kWidth = 320, kHeight = 240;
  auto rec = camsdk::StartRecorder((folder / "Video.avi").string(), 25, 75, kWidth, kHeight);
  if (!rec) return 1;
  Say("ready", 0);
  std::vector<unsigned char> frame(std::size_t(kWidth) * kHeight * 3);
  std::uint64_t said = 0;
  auto next = std::chrono::steady_clock::now();
  for (unsigned n = 0;; ++n) {
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i / 960 + n * 3);
    if (rec->Push(frame.data(), kWidth, kHeight) != CAMSDK_STATUS_OK) return 1;
    const std::uint64_t written = rec->Summary().framesWritten;
    if (written != said) Say("written", said = written);
    next += std::chrono::milliseconds(40);
    std::this_thread::sleep_until(next);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const fs::path folder = argv[2];
  const std::string mode = argv[1];
  if (mode == "settings") return Settings(folder);
  if (mode == "layers") return Layers(folder);
  if (mode == "bitmap") return Bitmap(folder);
  if (mode == "recording") return Recording(folder);
  return 2;
}
