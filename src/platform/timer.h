#pragma once

// The window timers that turn elapsed time into flags.

#include <functional>

namespace modburn {

// A window timer. Enabling a disabled timer starts a full interval; enabling an
// enabled one changes nothing. Changing the interval of an enabled timer starts
// a full new interval. It keeps ticking until disabled.
class ITimer {
public:
    virtual ~ITimer() = default;

    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual int Interval() const = 0;
    virtual void SetInterval(int milliseconds) = 0;
    virtual void SetTickHandler(std::function<void()> handler) = 0;
};

}  // namespace modburn
