#include "imaging/CamSetupClock.h"

#include <QTimer>

QtCamSetupClock::QtCamSetupClock() = default;
QtCamSetupClock::~QtCamSetupClock() = default;

void QtCamSetupClock::StartTimer(int id, int periodMs) {
  QTimer*& t = timers_[id];
  if (!t) {
    t = new QTimer(&context_);
    QObject::connect(t, &QTimer::timeout, &context_, [this, id] { Fire(id); });
  }
  t->start(periodMs);
}

void QtCamSetupClock::KillTimer(int id) {
  if (QTimer* t = timers_.value(id, nullptr)) t->stop();
}

bool QtCamSetupClock::IsTimerRunning(int id) const {
  const QTimer* t = timers_.value(id, nullptr);
  return t && t->isActive();
}

void QtCamSetupClock::After(int delayMs, std::function<void()> step) {
  QTimer::singleShot(delayMs, &context_, std::move(step));
}
