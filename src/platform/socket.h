#pragma once

// The socket control the link connects, sends and receives through.

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace modburn {

// Why a connect did not come up, as the system said it.
struct ConnectFailure {
    enum class Why { None, Refused, HostNotFound, Other };
    Why why = Why::None;
    QString words;  // the system's own, for Other
};

// A socket control: connect, send byte arrays, fetch what arrived. Whether it
// speaks TCP or UDP is settled when it is made.
class ISocket {
public:
    using DataArrivalHandler = std::function<void(std::int32_t bytesTotal)>;

    virtual ~ISocket() = default;

    // Closing a closed socket does nothing.
    virtual void Close() = 0;
    // Starts connecting from any free local port to host:port; completes in
    // the background.
    virtual void Connect(const QString& host, int port) = 0;
    virtual bool Connected() const = 0;
    // Since the last Connect: why it failed, once the system has said so;
    // Why::None while it may still come up, and once it did.
    virtual ConnectFailure Failure() const = 0;
    // Throws RuntimeError(err::SocketBadState) unless the socket is connected.
    virtual void SendData(const std::array<std::uint8_t, 1>& data) = 0;
    // Everything that has arrived and was not fetched yet.
    virtual std::vector<std::uint8_t> GetData() = 0;

    virtual void SetDataArrivalHandler(DataArrivalHandler handler) = 0;
};

}  // namespace modburn
