#pragma once

// The socket control the link connects, sends and receives through.

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace modburn {

namespace sock {
// Values of State().
inline constexpr int Closed = 0;
inline constexpr int Open = 1;
inline constexpr int Listening = 2;
inline constexpr int ConnectionPending = 3;
inline constexpr int ResolvingHost = 4;
inline constexpr int HostResolved = 5;
inline constexpr int Connecting = 6;
inline constexpr int Connected = 7;
inline constexpr int Closing = 8;
inline constexpr int Error = 9;
}  // namespace sock

// A socket control: configure, connect, send byte arrays, fetch what arrived.
// Whether it speaks TCP or UDP is settled when it is made.
class ISocket {
public:
    using DataArrivalHandler = std::function<void(std::int32_t bytesTotal)>;

    virtual ~ISocket() = default;

    virtual int LocalPort() const = 0;
    virtual void SetLocalPort(int port) = 0;
    virtual QString RemoteHost() const = 0;
    virtual void SetRemoteHost(const QString& host) = 0;
    virtual int RemotePort() const = 0;
    virtual void SetRemotePort(int port) = 0;
    virtual int State() const = 0;

    // Closing a closed socket does nothing.
    virtual void Close() = 0;
    // Starts connecting to RemoteHost:RemotePort; completes in the background.
    virtual void Connect() = 0;
    // Throws RuntimeError(err::SocketBadState) unless the socket is connected.
    virtual void SendData(const std::array<std::uint8_t, 1>& data) = 0;
    // Everything that has arrived and was not fetched yet.
    virtual std::vector<std::uint8_t> GetData() = 0;

    virtual void SetDataArrivalHandler(DataArrivalHandler handler) = 0;
};

}  // namespace modburn
