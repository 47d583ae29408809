#pragma once
// DXTimer: the 13 ms frame timer. Ticks fall on an absolute grid (tick_schedule.h), woken by a
// periodic kernel timer on that grid, so that Qt's whole-millisecond timers cannot make
// the intervals alternate and a slow paint never shifts later ticks. A tick that comes too late
// to keep its place is not repeated: the points it passed are counted as missed. Where the
// kernel timer is not available an ordinary precise QTimer drives it.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/qt/tick_schedule.h"

class QSocketNotifier;

namespace app {

class FrameTimer : public QObject {
    Q_OBJECT
  public:
    FrameTimer(int intervalMs, std::function<void()> tick, QObject* parent = nullptr);
    ~FrameTimer() override;

    void start();
    void stop();
    bool isActive() const { return active_; }
    int interval() const { return intervalMs_; }
    void setInterval(int ms);
    int64_t Missed() const { return schedule_.Missed(); }

  private:
    void Fire();
    void Arm();

    int intervalMs_;
    std::function<void()> tick_;
    TickSchedule schedule_;
    bool active_ = false;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer fallback_;
};

}  // namespace app
