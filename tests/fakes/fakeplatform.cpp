// Fake platform parts on a virtual clock: a socket whose peer is the test,
// timers, the event queue, the serial port, bars and files.

#include "fakeplatform.h"

#include <utility>

#include "platform/errors.h"

#include <stdexcept>

namespace modburn::fake {

void FakeEventQueue::DoEvents()
{
    ++doEventsCalls;
    clock_.RunDue();
}

void FakeEventQueue::WaitEvents()
{
    ++waitEventsCalls;
    const bool woken = std::exchange(woken_, false);
    if (clock_.RunDue() || woken)
        return;
    if (!clock_.AdvanceToNext())
        throw std::logic_error("a wait with nothing scheduled would sleep for ever");
    if (clock_.Now() > limitMs)
        throw std::runtime_error("virtual time limit passed: the code under test never stops waiting");
}

FakeTimer::~FakeTimer()
{
    Disarm();
}

void FakeTimer::SetEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (enabled)
        Arm();
    else
        Disarm();
}

void FakeTimer::SetInterval(int milliseconds)
{
    interval_ = milliseconds;
    if (enabled_) {
        Disarm();
        Arm();
    }
}

void FakeTimer::Arm()
{
    // As QTimer: a negative interval never ticks, though the timer stays
    // enabled; a zero interval ticks once on every pass of the event loop.
    if (interval_ < 0)
        return;
    const auto tick = [this] {
        pending_.reset();
        ++ticks;
        if (onTick_)
            onTick_();
        if (enabled_ && !pending_)
            Arm();
    };
    pending_ = interval_ == 0 ? clock_.NextPass(tick) : clock_.After(interval_, tick);
}

void FakeTimer::Disarm()
{
    if (pending_)
        clock_.Cancel(*pending_);
    pending_.reset();
}

FakeSocket::~FakeSocket()
{
    for (auto id : scheduled_)
        clock_.Cancel(id);
}

void FakeSocket::Close()
{
    ++closeCalls;
    state_ = State::Closed;
    failure_ = {};
    ++connection_;
    inbound_.clear();
}

void FakeSocket::Connect(const QString& host, int port)
{
    if (state_ != State::Closed)
        throw RuntimeError(err::SocketInvalidOperation, "Invalid operation at current state");
    ++connectCalls;
    connectHost = host;
    connectPort = port;
    connectTimes.push_back(clock_.Now());
    state_ = State::Connecting;
    failure_ = {};
    if (!acceptConnect && refuseWith.why == ConnectFailure::Why::None)
        return;
    const unsigned connection = connection_;
    scheduled_.push_back(clock_.After(connectDelayMs, [this, connection] {
        if (connection == connection_ && state_ == State::Connecting && !acceptConnect) {
            state_ = State::Closed;
            failure_ = refuseWith;
        } else if (connection == connection_ && state_ == State::Connecting) {
            state_ = State::Connected;
            if (onConnected)
                onConnected();
        }
    }));
}

void FakeSocket::SendData(const std::array<std::uint8_t, 1>& data)
{
    if (state_ != State::Connected)
        throw RuntimeError(err::SocketBadState,
                           "Wrong protocol or connection state for the requested transaction or request");
    ++sendCalls;
    sent.push_back(data[0]);
    if (onByteSent)
        onByteSent(data[0]);
}

std::vector<std::uint8_t> FakeSocket::GetData()
{
    std::vector<std::uint8_t> out;
    out.swap(inbound_);
    return out;
}

void FakeSocket::Deliver(std::vector<std::uint8_t> bytes, std::int64_t delayMs)
{
    const unsigned connection = connection_;
    scheduled_.push_back(clock_.After(delayMs, [this, connection, bytes = std::move(bytes)] {
        if (connection != connection_ || state_ != State::Connected)
            return;
        inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
        if (onData_)
            onData_(static_cast<std::int32_t>(inbound_.size()));
    }));
}

void FakeSocket::HangUp(std::int64_t delayMs)
{
    const unsigned connection = connection_;
    scheduled_.push_back(clock_.After(delayMs, [this, connection] {
        if (connection == connection_ && state_ == State::Connected)
            state_ = State::HungUp;
    }));
}

void FakeSerialPort::SetPortOpen(bool open)
{
    if (failOpenWith != err::None) {
        const err::Number number = failOpenWith;
        failOpenWith = err::None;
        throw RuntimeError(number, "serial port error");
    }
    if (!open)
        ++closeCalls;
    open_ = open;
}

void FakeSerialPort::SetInBufferCount(int /*count*/)
{
    if (failClearWith != err::None) {
        const err::Number number = failClearWith;
        failClearWith = err::None;
        throw RuntimeError(number, "serial port error");
    }
    ++clearCalls;
}

namespace {

class FakeFile : public IFile {
public:
    FakeFile(const std::vector<std::uint8_t>& bytes, FakeFileSystem& fs) : bytes_(bytes), fs_(fs) { ++fs_.openFiles; }
    ~FakeFile() override { Close(); }

    std::optional<std::uint8_t> ReadByte() override
    {
        if (closed_ || pos_ >= bytes_.size())
            return std::nullopt;
        ++fs_.bytesRead;
        return bytes_[pos_++];
    }
    bool Eof() const override { return closed_ || pos_ >= bytes_.size(); }
    void Close() override
    {
        if (!closed_)
            --fs_.openFiles;
        closed_ = true;
    }

private:
    std::vector<std::uint8_t> bytes_;
    FakeFileSystem& fs_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<IFile> FakeFileSystem::OpenForRead(const QString& path)
{
    if (refused.contains(path))
        throw RuntimeError(err::FileAccess, "Path/File access error");
    const auto it = files.constFind(path);
    if (it == files.constEnd())
        throw RuntimeError(err::FileNotFound, "File not found");
    opened << path;
    return std::make_unique<FakeFile>(*it, *this);
}

}  // namespace modburn::fake
