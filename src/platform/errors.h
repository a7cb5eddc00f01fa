#pragma once

// Run-time errors and their numbers, as the device controls report them. Only
// the run's handler catches them; everything else lets them pass to its caller.

#include <stdexcept>
#include <string>

namespace modburn {

namespace err {
enum Number : int {
    None = 0,
    Overflow = 6,  // a value does not fit its type
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,  // text that is not a number
    FileNotFound = 53,
    FileAccess = 75,
    InvalidPropertyValue = 380,
    CommInvalidPort = 8002,  // serial port: invalid port number
    CommPortOpen = 8005,     // serial port: already open
    SocketBadState = 40006,  // send on a connection that is not open
    SocketInvalidOperation = 40020,
    // Raised out of every wait once the window has closed, so the caller
    // unwinds without touching controls. The run's handler ends silently.
    WindowClosed = 32001,
    // An operation was asked for while another one holds the link.
    LinkBusy = 32002,
};
}  // namespace err

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(err::Number number, const std::string& description) : std::runtime_error(description), number_(number)
    {
    }

    err::Number Number() const noexcept { return number_; }

private:
    err::Number number_;
};

}  // namespace modburn
