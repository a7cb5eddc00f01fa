// The link-open sequence, the byte-wise send, the timed reply wait and the
// handlers that feed them.

#include "link/link.h"

#include "platform/errors.h"
#include "platform/text.h"

#include <algorithm>

namespace modburn {

namespace {
constexpr int Timer1StartMs = 1000;
constexpr int Timer4PeriodMs = 5000;

// Timer1 runs only inside a reply wait, whatever way the wait is left.
struct TimerStop {
    ITimer& timer;
    ~TimerStop() { timer.SetEnabled(false); }
};
}  // namespace

Link::Link(ISocket& tcpWinsock, ISocket& udpWinsock, ITimer& timer1, ITimer& timer4, IEventQueue& events,
           const RunControl& control)
    : TcpWinsock_(tcpWinsock), udpWinsock_(udpWinsock), Timer1_(timer1), Timer4_(timer4), events_(events),
      control_(control)
{
    TcpWinsock_.SetDataArrivalHandler([this](std::int32_t n) { TcpDataArrival(n); });
    udpWinsock_.SetDataArrivalHandler([this](std::int32_t n) { UdpDataArrival(n); });
    Timer1_.SetTickHandler([this] { Timer1Tick(); });
    Timer4_.SetTickHandler([this] { Timer4Tick(); });
}

void Link::StartTimers()
{
    Timer1_.SetInterval(Timer1StartMs);
    Timer1_.SetEnabled(true);
    Timer4_.SetInterval(Timer4PeriodMs);
    Timer4_.SetEnabled(true);
}

void Link::StartConnect(const QString& ipAddrText, const QString& portText)
{
    TcpWinsock_.Close();
    ledger_.Begin({0, 0});  // nothing owed on a new connection
    everConnected_ = false;
    closedTold_ = false;
    bytesSent_ = 0;
    const QString host = TrimBlanks(ipAddrText);
    const int port = ParsePort(TrimBlanks(portText));  // a bad port text raises before any connect
    TcpWinsock_.Connect(host, port);
}

void Link::Open(const QString& ipAddrText, const QString& portText)
{
    StartConnect(ipAddrText, portText);

    // Settling wait: until the next Timer1 tick, whatever interval it holds.
    Timer1_.SetEnabled(true);
    OverTimeFlag_ = FlagFalse;
    WaitUntil([this] { return OverTimeFlag_ != FlagFalse; });

    // Connect wait: connected, or the next Timer4 tick, whichever is first.
    ConnOverTimeFlag_ = FlagFalse;
    Timer4_.SetEnabled(true);
    WaitUntil([this] { return TcpWinsock_.Connected() || ConnOverTimeFlag_ != FlagFalse; });
}

Reachability Link::Reach(const QString& ipAddrText, const QString& portText)
{
    StartConnect(ipAddrText, portText);
    // The run's connect wait, ended early by a failed connect: whatever Open
    // would have seen connected by its end, this sees too.
    ConnOverTimeFlag_ = FlagFalse;
    Timer4_.SetEnabled(true);
    WaitUntil([this] {
        return TcpWinsock_.Connected() || TcpWinsock_.Failure().why != ConnectFailure::Why::None ||
               ConnOverTimeFlag_ != FlagFalse;
    });
    Reachability reached{TcpWinsock_.Connected(), TcpWinsock_.Failure()};
    TcpWinsock_.Close();
    return reached;
}

Reply Link::Exchange(const FrameBuilder& build, frame::ReplyRule reply, ISerialPort* clearFirst, Send send)
{
    if (send == Send::First)
        ledger_.Begin(reply);
    const int length = build(SendBuf_, FrameXor_);
    if (clearFirst)
        clearFirst->SetInBufferCount(0);
    DownLoad(static_cast<std::int16_t>(length));
    ledger_.Sent();
    const TimerStop stop{Timer1_};
    WaitForReply(reply.timeoutMs, [this] { return ledger_.Answered(); });
    if (!ledger_.Answered())
        return Reply::TimedOut;
    WaitForOwed(reply.timeoutMs);
    return Reply::Answered;
}

void Link::WaitForOwed(std::int16_t OverTimeX)
{
    // A reply comes within two time-outs of its send or never. The first
    // stretch is what is left of the running time-out of the last send.
    const auto settled = [this] { return ledger_.AllIn() || LinkClosed(); };
    if (OverTimeFlag_ == FlagFalse)
        WaitUntil([&] { return settled() || OverTimeFlag_ != FlagFalse; });
    if (!settled())
        WaitForReply(OverTimeX, settled);
    Timer1_.SetEnabled(false);
    ledger_.ExpireUnanswered();
}

void Link::CollectOwed()
{
    // The send's own time-out has passed: one more is left.
    const TimerStop stop{Timer1_};
    if (!ledger_.AllIn() && !LinkClosed())
        WaitForOwed(ledger_.Rule().timeoutMs);
    ledger_.ExpireUnanswered();
}

Reply Link::AwaitLocks()
{
    const TimerStop stop{Timer1_};
    WaitForReply(frame::LockReply.timeoutMs, [this] { return !ledger_.LocksPending(); });
    return ledger_.LocksPending() ? Reply::TimedOut : Reply::Answered;
}

Reply Link::AwaitReply(frame::ReplyRule reply)
{
    ledger_.Begin({0, 0});
    return GetSerialData(reply.timeoutMs, reply.length) == FlagFalse ? Reply::Answered : Reply::TimedOut;
}

void Link::DownLoad(std::int16_t Value)
{
    for (int i = 0; i < Value; ++i) {
        if (i >= frame::SendBufSize)
            throw RuntimeError(err::SubscriptOutOfRange, "Subscript out of range");
        const std::int16_t element = SendBuf_[static_cast<std::size_t>(i)];
        if (element < 0 || element > 0xFF)
            throw RuntimeError(err::Overflow, "Overflow");
        SendByte_[0] = static_cast<std::uint8_t>(element);
        TcpWinsock_.SendData(SendByte_);
        ++bytesSent_;
        everConnected_ = true;
    }
}

Flag Link::GetSerialData(std::int16_t OverTimeX, std::int16_t RecCommLen)
{
    const TimerStop stop{Timer1_};
    return WaitForReply(OverTimeX, [this, RecCommLen] { return RecCount_ >= RecCommLen; });
}

Flag Link::WaitForReply(std::int16_t OverTimeX, const std::function<bool()>& done)
{
    Timer1_.SetEnabled(false);
    Timer1_.SetInterval(OverTimeX);
    OverTimeFlag_ = FlagFalse;
    Timer1_.SetEnabled(true);  // a full interval from now
    RecBuf_[0] = 0;
    RecCount_ = 0;
    WaitUntil([&] { return OverTimeFlag_ != FlagFalse || done(); });
    return OverTimeFlag_;
}

void Link::DoEvents()
{
    ThrowIfClosing();
    events_.DoEvents();
    ThrowIfClosing();
}

void Link::WaitUntil(const std::function<bool()>& done)
{
    // The first yield only handles what is pending, so a condition that is
    // already met costs no sleep; after that each pass sleeps until an event.
    DoEvents();
    for (;;) {
        const bool over = done();
        WatchConnection(over);
        if (over)
            return;
        events_.WaitEvents();
        ThrowIfClosing();
    }
}

void Link::WatchConnection(bool waitOver)
{
    // A wait that got what it waited for is not cut short: the close is told
    // by the next wait that still needs the device.
    if (!LinkClosed()) {
        everConnected_ = true;
    } else if (everConnected_ && !closedTold_ && !waitOver) {
        closedTold_ = true;
        if (onClosed_)
            onClosed_();
        ThrowIfClosing();
        if (control_.EndOnDroppedLink())
            throw RuntimeError(err::SocketBadState, "The device closed the link");
    }
}

void Link::ThrowIfClosing() const
{
    if (control_.Stopped())
        throw RuntimeError(err::WindowClosed, "The link's owner has ended every wait");
}

void Link::TcpDataArrival(std::int32_t /*bytesTotal*/)
{
    for (std::uint8_t byte : TcpWinsock_.GetData()) {
        ledger_.Take(byte);
        // The buffer ends at element 548: later bytes have no room and are
        // dropped, and a wait for up to 549 bytes still ends.
        if (RecCount_ >= frame::RecBufSize)
            continue;
        RecBuf_[static_cast<std::size_t>(RecCount_)] = byte;
        ++RecCount_;
    }
}

void Link::UdpDataArrival(std::int32_t /*bytesTotal*/)
{
    udpWinsock_.GetData();
}

void Link::Timer1Tick()
{
    OverTimeFlag_ = FlagTrue;
    Timer1_.SetEnabled(false);
}

void Link::Timer4Tick()
{
    ConnOverTimeFlag_ = FlagTrue;
}

void LoadLink(Link& link, RunControl& control)
{
    control.SetRunEnable(true);
    link.StartTimers();
}

}  // namespace modburn
