#pragma once

#include <stdexcept>
#include <string>

namespace modburn {

// Run-time errors carry a number, as the device controls report them. Only the
// run's handler catches them; everything else lets them pass to its caller.
namespace err {
inline constexpr int Overflow = 6;            // a value does not fit its type
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int TypeMismatch = 13;       // text that is not a number
inline constexpr int FileNotFound = 53;
inline constexpr int FileAccess = 75;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int CommInvalidPort = 8002;  // serial port: invalid port number
inline constexpr int CommPortOpen = 8005;     // serial port: already open
inline constexpr int SocketBadState = 40006;  // send on a connection that is not open
inline constexpr int SocketInvalidOperation = 40020;
// Raised out of every wait once the window has closed, so the caller unwinds
// without touching controls. The run's handler treats it as a silent end.
inline constexpr int WindowClosed = 32001;
}  // namespace err

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}

    int Number() const noexcept { return number_; }

private:
    int number_;
};

}  // namespace modburn
