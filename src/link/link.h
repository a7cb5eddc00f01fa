#pragma once

#include "frame/frame.h"
#include "platform/eventqueue.h"
#include "platform/socket.h"
#include "platform/timer.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace modburn {

// 16-bit flags: true is all bits set.
using Flag = std::int16_t;
inline constexpr Flag FlagTrue = -1;
inline constexpr Flag FlagFalse = 0;

// The device link: the TCP connection, the byte-wise send, the receive buffer
// and the timed reply wait, with the two timers that turn time into flags.
// The window owns one for its whole life; everything runs on its one thread,
// and handlers run only inside the yields of a wait.
class Link {
public:
    // Timer1 is the reply time-out, Timer4 the connect time-out. The link
    // installs its handlers on both sockets and both timers.
    Link(ISocket& tcpWinsock, ISocket& udpWinsock, ITimer& timer1, ITimer& timer4, IEventQueue& events);

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Socket set-up at window load: TCP for one socket, UDP for the other.
    void SetUpSockets();
    // Both timers run from the moment the window exists: Timer1 ticks once
    // after its first second, Timer4 every five seconds for good.
    void StartTimers();

    // Closes the link, points it at the trimmed address and port texts and
    // starts connecting; then the settling wait (one Timer1 interval) and the
    // connect wait (until connected or the next Timer4 tick). The outcome is
    // not checked: a link that did not come up fails at the first send.
    // A port text that is not a whole number from 1 to 65535 raises
    // RuntimeError before connecting.
    void Open(const QString& ipAddrText, const QString& portText);

    // Sends SendBuf elements 0..Value-1, one send call per byte.
    void DownLoad(std::int16_t Value);

    // Waits until RecCommLen bytes have arrived or OverTimeX ms have passed;
    // FlagTrue when the time-out came first.
    Flag GetSerialData(std::int16_t OverTimeX, std::int16_t RecCommLen);

    // The same wait for a reply that has no frame of its own but follows the
    // one just judged: the bytes that came after the first `consumed` ones
    // stay, moved to the front of RecBuf, rather than being dropped, because
    // a device may send both replies in one delivery.
    Flag GetFollowingData(std::int16_t OverTimeX, std::int16_t RecCommLen, std::int16_t consumed);

    // One yield that never blocks, for the top of a resend loop.
    void DoEvents();

    // The window has closed: every wait, now or later, ends by raising
    // RuntimeError(err::WindowClosed) so that its caller unwinds.
    void Shutdown() { closing_ = true; }
    bool IsShutDown() const { return closing_; }

    // Event handlers.
    void TcpDataArrival(std::int32_t bytesTotal);
    void UdpDataArrival(std::int32_t bytesTotal);
    void Timer1Tick();
    void Timer4Tick();

    // Link state, shared by every sender.
    frame::SendBuffer SendBuf{};
    std::array<std::uint8_t, 1> SendByte{};
    frame::RecBuffer RecBuf{};
    std::int16_t RecCount = 0;
    std::uint8_t FrameXor = 0;
    Flag OverTimeFlag = FlagFalse;
    Flag ConnOverTimeFlag = FlagFalse;
    Flag RunEnable = FlagFalse;

    ISocket& TcpWinsock;
    ISocket& udpWinsock;
    ITimer& Timer1;
    ITimer& Timer4;

private:
    // Yields until `done` holds, testing it after every yield.
    void WaitUntil(const std::function<bool()>& done);
    Flag WaitForReply(std::int16_t OverTimeX, std::int16_t RecCommLen);
    void ThrowIfClosing() const;

    IEventQueue& events_;
    bool closing_ = false;
};

// Leading and trailing blanks removed; other white space is kept.
QString TrimBlanks(const QString& text);

// The port text as a TCP port. Raises RuntimeError(err::TypeMismatch) for text
// that is not a whole decimal number and RuntimeError(err::InvalidPropertyValue)
// for a number outside 1..65535, so a port is never wrapped or rounded.
int ParsePort(const QString& text);

}  // namespace modburn
