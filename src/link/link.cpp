// The link-open sequence, the byte-wise send, the timed reply wait and the
// handlers that feed them.

#include "link/link.h"

#include "platform/errors.h"

#include <algorithm>

namespace modburn {

namespace {
constexpr int HighestPort = 65535;
constexpr int Timer1StartMs = 1000;
constexpr int Timer4PeriodMs = 5000;
}

Link::Link(ISocket& tcpWinsock, ISocket& udpWinsock, ITimer& timer1, ITimer& timer4, IEventQueue& events)
    : TcpWinsock_(tcpWinsock), udpWinsock_(udpWinsock), Timer1_(timer1), Timer4_(timer4), events_(events)
{
    TcpWinsock_.SetDataArrivalHandler([this](std::int32_t n) { TcpDataArrival(n); });
    udpWinsock_.SetDataArrivalHandler([this](std::int32_t n) { UdpDataArrival(n); });
    Timer1_.SetTickHandler([this] { Timer1Tick(); });
    Timer4_.SetTickHandler([this] { Timer4Tick(); });
}

void Link::SetUpSockets()
{
    TcpWinsock_.SetProtocol(sock::ProtocolTcp);
    udpWinsock_.SetProtocol(sock::ProtocolUdp);
}

void Link::StartTimers()
{
    Timer1_.SetInterval(Timer1StartMs);
    Timer1_.SetEnabled(true);
    Timer4_.SetInterval(Timer4PeriodMs);
    Timer4_.SetEnabled(true);
}

void Link::Open(const QString& ipAddrText, const QString& portText)
{
    TcpWinsock_.Close();
    TcpWinsock_.SetProtocol(sock::ProtocolTcp);
    TcpWinsock_.SetLocalPort(0);
    TcpWinsock_.SetRemoteHost(TrimBlanks(ipAddrText));
    TcpWinsock_.SetRemotePort(ParsePort(TrimBlanks(portText)));
    TcpWinsock_.Connect();

    // Settling wait: until the next Timer1 tick, whatever interval it holds.
    Timer1_.SetEnabled(true);
    OverTimeFlag_ = FlagFalse;
    WaitUntil([this] { return OverTimeFlag_ != FlagFalse; });

    // Connect wait: connected, or the next Timer4 tick, whichever is first.
    ConnOverTimeFlag_ = FlagFalse;
    Timer4_.SetEnabled(true);
    WaitUntil([this] { return TcpWinsock_.State() == sock::Connected || ConnOverTimeFlag_ != FlagFalse; });
}

Reply Link::Exchange(const FrameBuilder& build, frame::ReplyRule reply, ISerialPort* clearFirst)
{
    const int length = build(SendBuf_, FrameXor_);
    if (clearFirst)
        clearFirst->SetInBufferCount(0);
    DownLoad(static_cast<std::int16_t>(length));
    return AwaitReply(reply);
}

Reply Link::AwaitReply(frame::ReplyRule reply)
{
    return GetSerialData(reply.timeoutMs, reply.length) == FlagFalse ? Reply::Answered : Reply::TimedOut;
}

Reply Link::AwaitFollowing(frame::ReplyRule reply, int consumed)
{
    const auto kept = static_cast<std::int16_t>(std::clamp(consumed, 0, int{frame::RecBufSize}));
    return GetFollowingData(reply.timeoutMs, reply.length, kept) == FlagFalse ? Reply::Answered : Reply::TimedOut;
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
    }
}

Flag Link::GetSerialData(std::int16_t OverTimeX, std::int16_t RecCommLen)
{
    RecBuf_[0] = 0;
    RecCount_ = 0;
    return WaitForReply(OverTimeX, RecCommLen);
}

Flag Link::GetFollowingData(std::int16_t OverTimeX, std::int16_t RecCommLen, std::int16_t consumed)
{
    const int dropped = std::clamp<int>(consumed, 0, RecCount_);
    const int kept = RecCount_ - dropped;
    std::copy_n(RecBuf_.begin() + dropped, kept, RecBuf_.begin());
    RecCount_ = static_cast<std::int16_t>(kept);
    if (kept == 0)
        RecBuf_[0] = 0;
    return WaitForReply(OverTimeX, RecCommLen);
}

Flag Link::WaitForReply(std::int16_t OverTimeX, std::int16_t RecCommLen)
{
    Timer1_.SetEnabled(false);
    Timer1_.SetInterval(OverTimeX);
    OverTimeFlag_ = FlagFalse;
    Timer1_.SetEnabled(true);  // a full interval from now
    try {
        WaitUntil([this, RecCommLen] { return OverTimeFlag_ != FlagFalse || RecCount_ >= RecCommLen; });
    } catch (...) {
        Timer1_.SetEnabled(false);
        throw;
    }
    Timer1_.SetEnabled(false);
    return OverTimeFlag_;
}

bool Link::TryHold()
{
    if (held_)
        return false;
    held_ = true;
    return true;
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
    while (!done()) {
        events_.WaitEvents();
        ThrowIfClosing();
    }
}

void Link::ThrowIfClosing() const
{
    if (closing_)
        throw RuntimeError(err::WindowClosed, "The window has closed");
}

void Link::TcpDataArrival(std::int32_t /*bytesTotal*/)
{
    for (std::uint8_t byte : TcpWinsock_.GetData()) {
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

QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.mid(first, last - first);
}

int ParsePort(const QString& text)
{
    const std::string shown = text.toStdString();
    if (text.isEmpty())
        throw RuntimeError(err::TypeMismatch, "Type mismatch: empty port");
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            throw RuntimeError(err::TypeMismatch, "Type mismatch: port " + shown);
    }
    qsizetype first = 0;
    while (first < text.size() - 1 && text[first] == u'0')
        ++first;
    const QStringView digits = QStringView(text).mid(first);
    const int port = digits.size() > 5 ? HighestPort + 1 : digits.toInt();
    if (port < 1 || port > HighestPort)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value: port " + shown);
    return port;
}

}  // namespace modburn
