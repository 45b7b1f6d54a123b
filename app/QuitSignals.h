#pragma once
// The ends of a session that come from outside the window: SIGTERM (a logout, a shutdown, kill),
// SIGINT (Ctrl+C in a terminal) and SIGHUP (the terminal gone). A signal handler may do almost
// nothing, so it only writes the signal's number into a pipe; a socket notifier on the pipe's
// other end calls `onSignal` on the user-interface thread, where closing the window is safe.
// One watcher at a time; the signals' earlier handling comes back when it goes.
#include <QObject>

#include <functional>

class QSocketNotifier;

class QuitSignalWatcher : public QObject {
 public:
  explicit QuitSignalWatcher(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
  ~QuitSignalWatcher() override;
  QuitSignalWatcher(const QuitSignalWatcher&) = delete;
  QuitSignalWatcher& operator=(const QuitSignalWatcher&) = delete;

  // False when the pipe or the handlers could not be set up (or another watcher is active).
  bool Active() const { return notifier_ != nullptr; }

 private:
  void Drain();

  std::function<void(int)> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
};
