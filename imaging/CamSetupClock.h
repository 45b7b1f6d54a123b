#pragma once
// The camera panel's clock: its three repeating timers (exposure mirroring, exposure read-back,
// camera detection) and the one-shot waits of its step machines (white balance, focus
// assistant). The panel never sleeps; it asks the clock to call it back. Tests install a
// manual clock and advance it, so minutes of waiting take no time.
#include <QHash>
#include <QObject>

#include <functional>

class QTimer;

class CamSetupClock {
 public:
  virtual ~CamSetupClock() = default;
  // Where the repeating timers report (the panel's OnTimer).
  void SetTimerSink(std::function<void(int id)> sink) { sink_ = std::move(sink); }
  // (Re)starts timer `id` with `periodMs`; it repeats until killed.
  virtual void StartTimer(int id, int periodMs) = 0;
  virtual void KillTimer(int id) = 0;
  virtual bool IsTimerRunning(int id) const = 0;
  // Calls `step` once after `delayMs`. Pending steps die with the clock.
  virtual void After(int delayMs, std::function<void()> step) = 0;

 protected:
  void Fire(int id) {
    if (sink_) sink_(id);
  }

 private:
  std::function<void(int)> sink_;
};

// The clock of the running program: QTimers on the user-interface thread.
class QtCamSetupClock : public CamSetupClock {
 public:
  QtCamSetupClock();
  ~QtCamSetupClock() override;
  void StartTimer(int id, int periodMs) override;
  void KillTimer(int id) override;
  bool IsTimerRunning(int id) const override;
  void After(int delayMs, std::function<void()> step) override;

 private:
  QObject context_;  // owns the timers; pending steps are dropped with it
  QHash<int, QTimer*> timers_;
};
