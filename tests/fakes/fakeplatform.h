#pragma once

// Fake platform parts on a virtual clock, for deterministic tests of the logic.

#include "virtualclock.h"

#include "platform/errors.h"
#include "platform/eventqueue.h"
#include "platform/file.h"
#include "platform/progressbar.h"
#include "platform/serialport.h"
#include "platform/socket.h"
#include "platform/statusbar.h"
#include "platform/timer.h"

#include <QMap>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace modburn::fake {

class FakeEventQueue : public IEventQueue {
public:
    explicit FakeEventQueue(VirtualClock& clock) : clock_(clock) {}

    void DoEvents() override;
    // Runs what is due now, or else jumps to the next scheduled event. A wait
    // past `limitMs` of virtual time means a test that never ends: it throws.
    void WaitEvents() override;
    // The next WaitEvents runs what is due but does not move the clock on.
    void Wake() override { woken_ = true; }

    int doEventsCalls = 0;
    int waitEventsCalls = 0;
    std::int64_t limitMs = 24LL * 3600 * 1000;

private:
    VirtualClock& clock_;
    bool woken_ = false;
};

class FakeTimer : public ITimer {
public:
    explicit FakeTimer(VirtualClock& clock) : clock_(clock) {}
    ~FakeTimer() override;

    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override;
    int Interval() const override { return interval_; }
    void SetInterval(int milliseconds) override;
    void SetTickHandler(std::function<void()> handler) override { onTick_ = std::move(handler); }

    int ticks = 0;

private:
    void Arm();
    void Disarm();

    VirtualClock& clock_;
    bool enabled_ = false;
    int interval_ = 0;
    std::optional<VirtualClock::EventId> pending_;
    std::function<void()> onTick_;
};

// A socket whose peer is the test: what the link sends is recorded (and handed
// to `onByteSent`), and the test schedules what arrives.
class FakeSocket : public ISocket {
public:
    explicit FakeSocket(VirtualClock& clock) : clock_(clock) {}
    ~FakeSocket() override;

    enum class State { Closed, Connecting, Connected, HungUp };

    void Close() override;
    void Connect(const QString& host, int port) override;
    bool Connected() const override { return state_ == State::Connected; }
    ConnectFailure Failure() const override { return failure_; }
    void SendData(const std::array<std::uint8_t, 1>& data) override;
    std::vector<std::uint8_t> GetData() override;
    void SetDataArrivalHandler(DataArrivalHandler handler) override { onData_ = std::move(handler); }

    // Bytes arrive in one delivery `delayMs` from now, if still connected then.
    void Deliver(std::vector<std::uint8_t> bytes, std::int64_t delayMs = 0);
    // The peer hangs up `delayMs` from now.
    void HangUp(std::int64_t delayMs = 0);

    State Status() const { return state_; }

    // How the peer takes a connect: accept after a delay, or never answer,
    // or (with `refuseWith`) fail the connect after the delay.
    bool acceptConnect = true;
    std::int64_t connectDelayMs = 1;
    ConnectFailure refuseWith;

    std::vector<std::uint8_t> sent;  // every byte the link sent, in order
    int sendCalls = 0;
    int closeCalls = 0;
    int connectCalls = 0;
    QString connectHost;  // where the last connect went
    int connectPort = 0;
    std::vector<std::int64_t> connectTimes;
    std::function<void(std::uint8_t)> onByteSent;
    std::function<void()> onConnected;  // the peer accepted a connection

private:
    VirtualClock& clock_;
    State state_ = State::Closed;
    ConnectFailure failure_;
    unsigned connection_ = 0;  // deliveries belong to the connection they were made on
    std::vector<std::uint8_t> inbound_;
    std::vector<VirtualClock::EventId> scheduled_;
    DataArrivalHandler onData_;
};

// The serial-port control, with error numbers to raise on request.
class FakeSerialPort : public ISerialPort {
public:
    bool PortOpen() const override { return open_; }
    void SetPortOpen(bool open) override;
    int InBufferCount() const override { return 0; }
    void SetInBufferCount(int count) override;

    err::Number failOpenWith = err::None;   // error number raised by the next PortOpen write
    err::Number failClearWith = err::None;  // error number raised by the next InBufferCount write
    bool open_ = false;
    int closeCalls = 0;
    int clearCalls = 0;
};

class FakeStatusBar : public IStatusBar {
public:
    explicit FakeStatusBar(int panels = 2) : texts_(panels) {}

    int PanelCount() const override { return static_cast<int>(texts_.size()); }
    QString PanelText(int panel) const override { return texts_.at(panel - FirstPanel); }
    void SetPanelText(int panel, const QString& text) override { texts_[panel - FirstPanel] = text; }
    void SetPanelClickHandler(std::function<void(int)> handler) override { onClick_ = std::move(handler); }
    void Click(int panel)
    {
        if (onClick_)
            onClick_(panel);
    }

private:
    QStringList texts_;
    std::function<void(int)> onClick_;
};

class FakeProgressBar : public IProgressBar {
public:
    float Min() const override { return min_; }
    void SetMin(float value) override { min_ = value; }
    float Max() const override { return max_; }
    void SetMax(float value) override { max_ = value; }
    float Value() const override { return value_; }
    void SetValue(float value) override
    {
        value_ = value;
        history.push_back(value);
    }

    std::vector<float> history;

private:
    float min_ = 0, max_ = 100, value_ = 0;
};

// Files held in memory under a fixed working directory.
class FakeFileSystem : public IFileSystem {
public:
    QString CurrentDir() const override { return dir; }
    QChar Separator() const override { return u'/'; }
    std::unique_ptr<IFile> OpenForRead(const QString& path) override;

    void Put(const QString& name, std::vector<std::uint8_t> bytes) { files[InCurrentDir(name)] = std::move(bytes); }

    QString dir = QStringLiteral("/fake/work");
    QMap<QString, std::vector<std::uint8_t>> files;
    // Paths that are there yet cannot be opened for reading: a folder, a file
    // without read permission, something other than a regular file.
    QStringList refused;
    QStringList opened;
    int openFiles = 0;  // opened and not yet closed
    int bytesRead = 0;
};

}  // namespace modburn::fake
