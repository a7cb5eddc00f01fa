#pragma once

// A window timer on QTimer.

#include "platform/timer.h"

#include <QTimer>

namespace modburn {

class QtTimer : public QObject, public ITimer {
    Q_OBJECT
public:
    explicit QtTimer(QObject* parent = nullptr);

    bool Enabled() const override { return timer_.isActive(); }
    void SetEnabled(bool enabled) override;
    int Interval() const override { return timer_.interval(); }
    void SetInterval(int milliseconds) override;
    void SetTickHandler(std::function<void()> handler) override { onTick_ = std::move(handler); }

private:
    QTimer timer_;
    std::function<void()> onTick_;
};

}  // namespace modburn
