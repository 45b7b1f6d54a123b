#pragma once
// Aravis' GigE Vision camera simulator (arv-fake-gv-camera-0.8, package aravis-tools) on the
// loopback interface, started and killed by a test or benchmark. Run as root, the process first
// moves into a network namespace of its own (EnterOwnNetwork), so that runs side by side never
// meet on the GigE control port; otherwise it uses the machine's own loopback.
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace gigesim {

constexpr const char* kTool = "arv-fake-gv-camera-0.8";

// Full path of a program on PATH, "" when there is none.
inline std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string full = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(full.c_str(), X_OK) == 0) return full;
  }
  return {};
}

// Moves this process (and every thread it starts afterwards) into a network namespace of its own
// whose loopback interface is up. Call first thing in main(). False when not root or refused.
inline bool EnterOwnNetwork() {
  if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0) return false;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ::close(fd);
  return up;
}

// Whether a GigE camera on 127.0.0.1 answers a control-port register read within `ms`.
inline bool Answers(int ms) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(3956);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    const unsigned char packet[12] = {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x0A, 0x00};
    if (::send(fd, packet, sizeof packet, 0) == ssize_t(sizeof packet)) {
      pollfd p{fd, POLLIN, 0};
      unsigned char reply[64];
      ok = ::poll(&p, 1, ms) > 0 && ::recv(fd, reply, sizeof reply, 0) > 0;
    }
  }
  ::close(fd);
  return ok;
}

class Simulator {
 public:
  static bool Installed() { return !FindProgram(kTool).empty(); }

  // Starts a simulated camera of that serial number ("Aravis-Fake-<serial>"), losing
  // `lostPerThousand` of its stream packets; waits until its control port answers.
  bool Start(const std::string& serial, int lostPerThousand = 0) {
    Kill();
    const std::string tool = FindProgram(kTool);
    if (tool.empty()) return false;
    std::vector<std::string> args{tool, "-i", "127.0.0.1", "-s", serial};
    if (lostPerThousand > 0) {
      args.push_back("-r");
      args.push_back(std::to_string(lostPerThousand));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 100; ++i) {
      if (Answers(50)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // Gone at once, as a camera whose cable is pulled.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  bool Running() const { return pid_ > 0; }
  ~Simulator() { Kill(); }

 private:
  pid_t pid_ = -1;
};

}  // namespace gigesim
