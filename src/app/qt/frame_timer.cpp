#include "app/qt/frame_timer.h"

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>

#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace app {
namespace {

#ifdef __linux__
// The kernel's sched_attr (glibc has no wrapper for sched_setattr before 2.41).
struct SchedAttr {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime, deadline, period;
};
#endif

// A tick needs a fraction of a millisecond every 13 ms. Linux (from 6.12) lets a thread of the
// ordinary policy ask for a time slice shorter than the default, and a thread with a shorter
// slice that wakes may take the core from a longer-running one at once: the tick then starts on
// time while a build or another program keeps the cores busy. It needs no privilege; older
// kernels ignore the request.
void AskForShortSlices() {
#ifdef __linux__
    static thread_local bool asked = false;
    if (asked) return;
    asked = true;
    SchedAttr attr{};
    attr.size = sizeof attr;
    attr.policy = SCHED_OTHER;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);  // this thread's; kept as it is
    if (nice == -1 && errno != 0) return;
    attr.nice = nice;
    attr.runtime = 300000;  // ns
    if (sched_getscheduler(0) == SCHED_OTHER) syscall(SYS_sched_setattr, 0, &attr, 0);
#endif
}

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

FrameTimer::FrameTimer(int intervalMs, std::function<void()> tick, QObject* parent)
    : QObject(parent),
      intervalMs_(intervalMs),
      tick_(std::move(tick)),
      schedule_(int64_t(intervalMs) * 1000000) {
#ifdef __linux__
    // steady_clock is CLOCK_MONOTONIC on Linux, so its readings and the timer's agree.
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        notifier_->setEnabled(false);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            uint64_t expirations = 0;
            if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations) return;
            Fire();
        });
    }
#endif
    fallback_.setTimerType(Qt::PreciseTimer);
    fallback_.setInterval(intervalMs_);
    connect(&fallback_, &QTimer::timeout, this, [this] { Fire(); });
}

FrameTimer::~FrameTimer() {
    notifier_.reset();
#ifdef __linux__
    if (fd_ >= 0) ::close(fd_);
#endif
}

void FrameTimer::start() {
    stop();
    active_ = true;
    AskForShortSlices();
    // The first tick runs at once: the first frame does not wait a period.
    schedule_.Start(MonotonicNs());
    if (!notifier_) {
        fallback_.start();
        return;
    }
    notifier_->setEnabled(true);
    Arm();
}

void FrameTimer::stop() {
    active_ = false;
    fallback_.stop();
#ifdef __linux__
    if (fd_ >= 0) {
        itimerspec off{};
        timerfd_settime(fd_, 0, &off, nullptr);
        uint64_t pending;
        while (::read(fd_, &pending, sizeof pending) == sizeof pending) {
        }
    }
#endif
    if (notifier_) notifier_->setEnabled(false);
}

void FrameTimer::setInterval(int ms) {
    if (ms == intervalMs_) return;
    intervalMs_ = ms;
    fallback_.setInterval(ms);
    schedule_ = TickSchedule(int64_t(ms) * 1000000);
    if (active_) start();
}

// Armed once, periodic from the first due time: the kernel keeps the grid, and no tick costs a
// further system call to arm the next.
void FrameTimer::Arm() {
#ifdef __linux__
    const int64_t due = schedule_.NextDue(), period = schedule_.Period();
    itimerspec when{};
    when.it_value.tv_sec = time_t(due / 1000000000);
    when.it_value.tv_nsec = long(due % 1000000000);
    when.it_interval.tv_sec = time_t(period / 1000000000);
    when.it_interval.tv_nsec = long(period % 1000000000);
    timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
#endif
}

void FrameTimer::Fire() {
    if (!active_) return;
    // The next tick is due on the grid whatever the tick itself costs; a tick so late that it
    // passed grid points counts them as missed (the kernel's expirations are read in one).
    schedule_.Ran(MonotonicNs());
    tick_();
}

}  // namespace app
