#pragma once

// The device link: the TCP connection, the byte-wise send, the receive buffer
// and the timed reply wait, with the two timers that turn time into flags.
// Callers build a frame and exchange it; the buffers and flags stay inside.

#include "frame/frame.h"
#include "frame/replies.h"
#include "link/runcontrol.h"
#include "platform/eventqueue.h"
#include "platform/serialport.h"
#include "platform/socket.h"
#include "platform/timer.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace modburn {

// 16-bit flags: true is all bits set.
using Flag = std::int16_t;
inline constexpr Flag FlagTrue = -1;
inline constexpr Flag FlagFalse = 0;

// How a reply wait ended.
enum class Reply { Answered, TimedOut };

// Whether a connect came up, and if not, whether the system said why.
struct Reachability {
    bool connected = false;
    ConnectFailure failure;  // Why::None when not connected: the connect wait ran out
};

// A frame's first send, or the same frame again after a silent wait.
enum class Send { First, Again };

// Writes one frame into SendBuf, carrying FrameXor, and returns its length.
using FrameBuilder = std::function<int(frame::SendBuffer& SendBuf, std::uint8_t& FrameXor)>;

// The window owns one link for its whole life; everything runs on its one
// thread, and handlers run only inside the yields of a wait.
class Link {
public:
    // Timer1 is the reply time-out, Timer4 the connect time-out. The link
    // installs its handlers on both sockets and both timers. Every wait ends
    // by raising RuntimeError(WindowClosed) once the control is stopped, and
    // RuntimeError(SocketBadState) when the link drops and the control says
    // to end on that.
    Link(ISocket& tcpWinsock, ISocket& udpWinsock, ITimer& timer1, ITimer& timer4, IEventQueue& events,
         const RunControl& control);

    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

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

    // The preflight: as Open, but without the settling wait, and the connect
    // wait also ends when the connect fails; then the link is closed again
    // without a byte sent. A bad port raises as for Open.
    Reachability Reach(const QString& ipAddrText, const QString& portText);

    // One exchange: build the frame into SendBuf, empty the serial input when
    // a port is given, send the frame byte by byte, and wait for its answer.
    // Every send is owed one reply, cut from the arriving bytes by `reply`
    // (its length, and the lock bytes that may follow it), so a late reply
    // to an earlier send of the frame answers it too. Once answered (a reply
    // in the very pass of the time-out counts), the wait goes on while a
    // reply owed to another send of the frame can still come: until two
    // time-outs after the last send, or until the link closes. `Again` sends
    // the same frame after a silent wait; `First` writes off what an earlier
    // frame was owed.
    Reply Exchange(const FrameBuilder& build, frame::ReplyRule reply, ISerialPort* clearFirst = nullptr,
                   Send send = Send::First);
    // After an exchange that timed out and will not be sent again: waits for
    // its reply for as long as it can still come, so that it is not taken
    // for a later frame's. Ends at once when the link closes.
    void CollectOwed();
    // The lock bytes that follow the frame's replies: a lock-byte wait of its
    // own, until every reply that they follow has them. TimedOut when one
    // still lacks them.
    Reply AwaitLocks();
    // The replies to the last frame's sends, in order of arrival.
    std::span<const frame::Answer> Answers() const { return ledger_.Answers(); }

    // A wait without a frame, from an empty receive buffer; nothing is owed.
    Reply AwaitReply(frame::ReplyRule reply);

    // One yield that never blocks, for the top of a resend loop.
    void DoEvents();

    // Whether the link has been seen connected since it was last opened, and
    // the bytes sent on it since then.
    bool EverConnected() const { return everConnected_; }
    std::int64_t BytesSent() const { return bytesSent_; }
    // Called once, inside a wait, when a link seen connected is seen closed.
    void SetClosedHandler(std::function<void()> handler) { onClosed_ = std::move(handler); }

    // What the last wait received, and the frame last sent, for judging replies.
    const frame::RecBuffer& RecBuf() const { return RecBuf_; }
    std::int16_t RecCount() const { return RecCount_; }
    const frame::SendBuffer& SendBuf() const { return SendBuf_; }
    const std::array<std::uint8_t, 1>& SendByte() const { return SendByte_; }

    const ISocket& TcpWinsock() const { return TcpWinsock_; }
    const ISocket& udpWinsock() const { return udpWinsock_; }
    const ITimer& Timer1() const { return Timer1_; }
    const ITimer& Timer4() const { return Timer4_; }

private:
    // Closes the link, forgets the last connection's state and starts connecting.
    void StartConnect(const QString& ipAddrText, const QString& portText);
    // Sends SendBuf elements 0..Value-1, one send call per byte.
    void DownLoad(std::int16_t Value);
    // Waits until RecCommLen bytes have arrived or OverTimeX ms have passed;
    // FlagTrue when the time-out came first.
    Flag GetSerialData(std::int16_t OverTimeX, std::int16_t RecCommLen);
    // Restarts Timer1 for a full OverTimeX from an empty receive buffer and
    // yields until `done` or its tick. Timer1 keeps running when `done` came
    // first: the caller disables it.
    Flag WaitForReply(std::int16_t OverTimeX, const std::function<bool()>& done);
    // Waits for the replies still owed to the frame, on the running Timer1
    // and then one more time-out; after it the frame is owed nothing more.
    void WaitForOwed(std::int16_t OverTimeX);
    bool LinkClosed() const { return !TcpWinsock_.Connected(); }
    // Notes a link seen connected, and tells of one seen closed after that
    // while a wait is not over.
    void WatchConnection(bool waitOver);

    // Yields until `done` holds, testing it after every yield.
    void WaitUntil(const std::function<bool()>& done);
    void ThrowIfClosing() const;

    // Event handlers.
    void TcpDataArrival(std::int32_t bytesTotal);
    void UdpDataArrival(std::int32_t bytesTotal);
    void Timer1Tick();
    void Timer4Tick();

    frame::SendBuffer SendBuf_{};
    std::array<std::uint8_t, 1> SendByte_{};
    frame::RecBuffer RecBuf_{};
    frame::ReplyLedger ledger_;
    std::int16_t RecCount_ = 0;
    std::uint8_t FrameXor_ = 0;
    Flag OverTimeFlag_ = FlagFalse;
    Flag ConnOverTimeFlag_ = FlagFalse;

    ISocket& TcpWinsock_;
    ISocket& udpWinsock_;
    ITimer& Timer1_;
    ITimer& Timer4_;
    IEventQueue& events_;
    const RunControl& control_;
    bool everConnected_ = false;
    bool closedTold_ = false;
    std::int64_t bytesSent_ = 0;
    std::function<void()> onClosed_;
};

// What a window does to its link when it loads: runs allowed, both timers
// running.
void LoadLink(Link& link, RunControl& control);

}  // namespace modburn
