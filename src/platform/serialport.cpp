// Our serial-port model: open checks and the errors they raise.

#include "platform/serialport.h"

#include "platform/errors.h"

namespace modburn {

namespace {
constexpr int HighestCommPort = 16;
}

void SerialPortModel::SetPortOpen(bool open)
{
    if (!open) {
        open_ = false;
        inBufferCount_ = 0;
        return;
    }
    if (open_)
        throw RuntimeError(err::CommPortOpen, "Port already open");
    if (commPort_ < 1 || commPort_ > HighestCommPort)
        throw RuntimeError(err::CommInvalidPort, "Invalid port number");
    open_ = true;
}

void SerialPortModel::SetInBufferCount(int count)
{
    // Only emptying means anything; there is never data to keep.
    if (count < 0)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    inBufferCount_ = 0;
}

}  // namespace modburn
