// Saves killed at any moment: a child program saves one kind of file in a loop and is killed
// with SIGKILL at a random moment, fifty times. After every kill the file under its real name is
// whole (one of the versions saved), and after the next start's sweep no temporary file is left;
// a killed recording plays in ffprobe with at least every frame written a second and a half
// before the kill, and the frames its header counts decode without an error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/BitmapFile.h"
#include "measure/MeasureManager.h"
#include "platform/durable_file.h"
#include "platform/registry.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Line {
  double at = 0;  // seconds since the child said "ready"
  std::string what;
  std::uint64_t n = 0;
};

struct KilledRun {
  bool ready = false;
  bool killed = false;  // it was still saving when the kill came
  double killedAt = 0;  // seconds since "ready"
  std::vector<Line> lines;
  // The last number the child said for `what` at least `before` seconds before the kill.
  std::uint64_t LastBefore(const std::string& what, double before = 0) const {
    std::uint64_t n = 0;
    for (const Line& l : lines)
      if (l.what == what && l.at <= killedAt - before) n = l.n;
    return n;
  }
};

// Starts the child, lets it save for `seconds` after it said "ready", then kills it.
KilledRun SaveAndKill(const std::string& mode, const fs::path& folder, double seconds) {
  KilledRun run;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::string program = Q7V_KILL_CHILD, folderText = folder.string();
  char* argv[] = {program.data(), const_cast<char*>(mode.c_str()), folderText.data(), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return run;
  }
  Clock::time_point readyAt{};
  const Clock::time_point started = Clock::now();
  std::string pending;
  auto seconds_since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  auto take = [&](double at) {
    char buf[4096];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) return false;
    pending.append(buf, std::size_t(n));
    for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
      std::istringstream in(pending.substr(0, eol));
      Line l;
      in >> l.what >> l.n;
      l.at = at;
      if (l.what == "ready" && !run.ready) {
        run.ready = true;
        readyAt = Clock::now();
        l.at = 0;
      }
      run.lines.push_back(l);
    }
    return true;
  };
  for (;;) {
    const double left = run.ready ? seconds - seconds_since(readyAt) : 30 - seconds_since(started);
    if (left <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, int(left * 1000) + 1) > 0 && !take(run.ready ? seconds_since(readyAt) : 0)) break;
  }
  ::kill(pid, SIGKILL);
  run.killedAt = run.ready ? seconds_since(readyAt) : 0;
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  while (take(run.killedAt)) {
  }
  ::close(out[0]);
  return run;
}

std::atomic<int> g_swept{0};  // temporaries the kills left, found by the sweep

// What the next start does to the folder, then anything found there but `keep`. A program
// starts long after the file clock's last tick before the kill (a few milliseconds): so here too.
std::string SweptAndClean(const fs::path& folder, const std::string& keep) {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  g_swept += SweepStaleTemporaries(folder, FileClockNowNs()).removed;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().filename() != keep) return "left in the folder: " + e.path().filename().string();
  return {};
}

// `kills` kills in `lanes` folders side by side, each kill after a random time in [lo, hi)
// seconds of saving; `check` judges the folder after each kill ("" when all is well).
void KillRepeatedly(const std::string& mode, int kills, int lanes, double lo, double hi,
                    const std::function<std::string(const fs::path&, const KilledRun&)>& check) {
  QTemporaryDir base;
  ASSERT_TRUE(base.isValid());
  std::mutex mu;
  std::vector<std::string> failures;
  g_swept = 0;
  int readyRuns = 0;
  std::vector<std::thread> threads;
  for (int lane = 0; lane < lanes; ++lane) {
    threads.emplace_back([&, lane] {
      const fs::path folder = fs::path(base.path().toStdString()) / ("lane" + std::to_string(lane));
      fs::create_directories(folder);
      std::mt19937 rng(1234u + unsigned(lane));
      for (int k = lane; k < kills; k += lanes) {
        const double delay = std::uniform_real_distribution<double>(lo, hi)(rng);
        const KilledRun run = SaveAndKill(mode, folder, delay);
        std::string failure = !run.ready    ? "the child never got ready"
                              : !run.killed ? "the child stopped saving by itself"
                                            : check(folder, run);
        std::lock_guard lock(mu);
        readyRuns += run.ready;
        if (!failure.empty()) failures.push_back("kill " + std::to_string(k) + " after " + std::to_string(delay) + " s: " + failure);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(readyRuns, kills);
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace

TEST(KillTest, SettingsStoreIsAlwaysWhole) {
  std::mutex storeMutex;  // the store is one per process
  KillRepeatedly("settings", 50, 1, 0.0, 0.15, [&](const fs::path& folder, const KilledRun& run) -> std::string {
    const fs::path file = folder / "registry.dat";
    const std::uint64_t saved = run.LastBefore("saved");
    if (!fs::exists(file)) return saved ? "the store is gone" : SweptAndClean(folder, "registry.dat");
    std::lock_guard lock(storeMutex);
    SetRegistryFile(file);
    if (RegistryLoadResult().state != RegistryLoadState::Ok) return "the store does not read back";
    CRegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, u"Software\\Q7V-MS\\Settings") != ERROR_SUCCESS) return "no settings key";
    const std::optional<DWORD> save = key.QueryDword(u"Save");
    if (!save || *save < saved) return "an older store than the last save";
    // Every value of the store is of the same save.
    for (int i = 0; i < 50; ++i) {
      const std::optional<WString> v = key.QueryString(FormatW(u"Value%d", i));
      if (!v || !v->starts_with(FormatW(u"%u ", *save))) return "values of two saves";
    }
    key.Close();
    SetRegistryFile(folder.parent_path() / "unused.dat");
    return SweptAndClean(folder, "registry.dat");
  });
}

TEST(KillTest, LayerFileOfTenThousandMeasurementsIsAlwaysWhole) {
  KillRepeatedly("layers", 50, 3, 0.0, 0.8, [](const fs::path& folder, const KilledRun& run) -> std::string {
    const fs::path file = folder / "Default.kvmi";
    const std::uint64_t saved = run.LastBefore("saved");
    if (fs::exists(file)) {
      CMeasureManager mm;
      if (!mm.LoadLayers(file, u"Cam", 0) || mm.GetMeasureCount() != kMeasureSlots)
        return "the layer file holds " + std::to_string(mm.GetMeasureCount()) + " measurements";
      if (std::uint64_t(mm.GetMeasure(0)->m_arrPoint[0].y) < saved) return "an older file than the last save";
    } else if (saved) {
      return "the layer file is gone";
    }
    return SweptAndClean(folder, "Default.kvmi");
  });
  EXPECT_GT(g_swept.load(), 0) << "no kill came in the middle of a save";
}

TEST(KillTest, TwentyMegapixelBitmapIsAlwaysWhole) {
  KillRepeatedly("bitmap", 50, 3, 0.0, 1.2, [](const fs::path& folder, const KilledRun& run) -> std::string {
    const fs::path file = folder / "Capture.bmp";
    const std::uint64_t saved = run.LastBefore("saved");
    if (fs::exists(file)) {
      BitmapImage image;
      if (ReadBitmapFile(QString::fromStdString(file.string()), &image) != BitmapStatus::Ok) return "the bitmap does not read";
      if (image.Width() != 5472 || image.Height() != 3648) return "the bitmap has another size";
      // The top-left pixel is the first of the last row (rows bottom-up).
      const std::uint8_t blue = image.pixels[std::size_t(image.Height() - 1) * 3 * std::size_t(image.Width())];
      if (saved && blue != (saved & 0xFF) && blue != ((saved + 1) & 0xFF)) return "an older bitmap than the last save";
    } else if (saved) {
      return "the bitmap is gone";
    }
    return SweptAndClean(folder, "Capture.bmp");
  });
  EXPECT_GT(g_swept.load(), 0) << "no kill came in the middle of a save";
}

TEST(KillTest, KilledRecordingPlaysWhatItHadWritten) {
  ASSERT_NE(Shell("command -v ffprobe"), "") << "ffprobe is needed";
  ASSERT_NE(Shell("command -v ffmpeg"), "") << "ffmpeg is needed";
  KillRepeatedly("recording", 50, 5, 0.1, 3.0, [](const fs::path& folder, const KilledRun& run) -> std::string {
    const fs::path file = folder / "Video.avi";
    // Written more than the refresh interval (1 s) and a margin before the kill: on the disk.
    const std::uint64_t settled = run.LastBefore("written", 1.5);
    std::string failure;
    if (!fs::exists(file)) {
      failure = "no file";
    } else {
      std::istringstream probe(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                   "stream=nb_frames,nb_read_frames -of default=nw=1 '" + file.string() + "' 2>&1"));
      std::uint64_t header = 0, read = 0;
      bool haveHeader = false, haveRead = false;
      for (std::string line; std::getline(probe, line);) {
        if (line.rfind("nb_frames=", 0) == 0) haveHeader = std::sscanf(line.c_str(), "nb_frames=%llu", reinterpret_cast<unsigned long long*>(&header)) == 1;
        if (line.rfind("nb_read_frames=", 0) == 0) haveRead = std::sscanf(line.c_str(), "nb_read_frames=%llu", reinterpret_cast<unsigned long long*>(&read)) == 1;
      }
      if (settled > 0 && !haveHeader) failure = "the header counts no frames";
      else if (!haveRead) failure = "ffprobe cannot read the file";
      else if (header < settled) failure = "the header counts " + std::to_string(header) + " of " + std::to_string(settled) + " frames";
      else if (read < header) failure = "only " + std::to_string(read) + " of the header's " + std::to_string(header) + " frames read";
      else if (header > 0) {
        const std::string errors = Shell("ffmpeg -nostdin -v error -i '" + file.string() + "' -frames:v " + std::to_string(header) +
                                       " -f null - 2>&1");
        if (!errors.empty()) failure = "decoding: " + errors;
      }
    }
    std::error_code ec;
    fs::remove(file, ec);  // the next recording makes a new one
    return failure;
  });
}
