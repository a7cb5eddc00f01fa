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
    : TcpWinsock(tcpWinsock), udpWinsock(udpWinsock), Timer1(timer1), Timer4(timer4), events_(events)
{
    TcpWinsock.SetDataArrivalHandler([this](std::int32_t n) { TcpDataArrival(n); });
    udpWinsock.SetDataArrivalHandler([this](std::int32_t n) { UdpDataArrival(n); });
    Timer1.SetTickHandler([this] { Timer1Tick(); });
    Timer4.SetTickHandler([this] { Timer4Tick(); });
}

void Link::SetUpSockets()
{
    TcpWinsock.SetProtocol(sock::ProtocolTcp);
    udpWinsock.SetProtocol(sock::ProtocolUdp);
}

void Link::StartTimers()
{
    Timer1.SetInterval(Timer1StartMs);
    Timer1.SetEnabled(true);
    Timer4.SetInterval(Timer4PeriodMs);
    Timer4.SetEnabled(true);
}

void Link::Open(const QString& ipAddrText, const QString& portText)
{
    TcpWinsock.Close();
    TcpWinsock.SetProtocol(sock::ProtocolTcp);
    TcpWinsock.SetLocalPort(0);
    TcpWinsock.SetRemoteHost(TrimBlanks(ipAddrText));
    TcpWinsock.SetRemotePort(ParsePort(TrimBlanks(portText)));
    TcpWinsock.Connect();

    // Settling wait: until the next Timer1 tick, whatever interval it holds.
    Timer1.SetEnabled(true);
    OverTimeFlag = FlagFalse;
    WaitUntil([this] { return OverTimeFlag != FlagFalse; });

    // Connect wait: connected, or the next Timer4 tick, whichever is first.
    ConnOverTimeFlag = FlagFalse;
    Timer4.SetEnabled(true);
    WaitUntil([this] { return TcpWinsock.State() == sock::Connected || ConnOverTimeFlag != FlagFalse; });
}

void Link::DownLoad(std::int16_t Value)
{
    for (int i = 0; i < Value; ++i) {
        if (i >= frame::SendBufSize)
            throw RuntimeError(err::SubscriptOutOfRange, "Subscript out of range");
        const std::int16_t element = SendBuf[static_cast<std::size_t>(i)];
        if (element < 0 || element > 0xFF)
            throw RuntimeError(err::Overflow, "Overflow");
        SendByte[0] = static_cast<std::uint8_t>(element);
        TcpWinsock.SendData(SendByte);
    }
}

Flag Link::GetSerialData(std::int16_t OverTimeX, std::int16_t RecCommLen)
{
    RecBuf[0] = 0;
    RecCount = 0;
    return WaitForReply(OverTimeX, RecCommLen);
}

Flag Link::GetFollowingData(std::int16_t OverTimeX, std::int16_t RecCommLen, std::int16_t consumed)
{
    const int dropped = std::clamp<int>(consumed, 0, RecCount);
    const int kept = RecCount - dropped;
    std::copy_n(RecBuf.begin() + dropped, kept, RecBuf.begin());
    RecCount = static_cast<std::int16_t>(kept);
    if (kept == 0)
        RecBuf[0] = 0;
    return WaitForReply(OverTimeX, RecCommLen);
}

Flag Link::WaitForReply(std::int16_t OverTimeX, std::int16_t RecCommLen)
{
    Timer1.SetEnabled(false);
    Timer1.SetInterval(OverTimeX);
    OverTimeFlag = FlagFalse;
    Timer1.SetEnabled(true);  // a full interval from now
    try {
        WaitUntil([this, RecCommLen] { return OverTimeFlag != FlagFalse || RecCount >= RecCommLen; });
    } catch (...) {
        Timer1.SetEnabled(false);
        throw;
    }
    Timer1.SetEnabled(false);
    return OverTimeFlag;
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
    for (std::uint8_t byte : TcpWinsock.GetData()) {
        // The buffer ends at element 548: later bytes have no room and are
        // dropped, and a wait for up to 549 bytes still ends.
        if (RecCount >= frame::RecBufSize)
            continue;
        RecBuf[static_cast<std::size_t>(RecCount)] = byte;
        ++RecCount;
    }
}

void Link::UdpDataArrival(std::int32_t /*bytesTotal*/)
{
    udpWinsock.GetData();
}

void Link::Timer1Tick()
{
    OverTimeFlag = FlagTrue;
    Timer1.SetEnabled(false);
}

void Link::Timer4Tick()
{
    ConnOverTimeFlag = FlagTrue;
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
