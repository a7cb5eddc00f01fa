// Window timers on QTimer, precise to the millisecond.

#include "platform/qt/qttimer.h"

namespace modburn {

QtTimer::QtTimer(QObject* parent) : QObject(parent)
{
    // Time-outs are measured by these timers alone, so keep them to the millisecond.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (onTick_)
            onTick_();
    });
}

void QtTimer::SetEnabled(bool enabled)
{
    if (!enabled)
        timer_.stop();
    else if (!timer_.isActive())
        timer_.start();
}

void QtTimer::SetInterval(int milliseconds)
{
    // QTimer restarts an active timer on a new interval, as a window timer does.
    timer_.setInterval(milliseconds);
}

}  // namespace modburn
