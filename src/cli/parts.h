#pragma once

// What a console session runs on and reports through: the platform parts its
// thread makes, and small stand-ins for the window's status bar, progress bar
// and socket that turn what the run and font code do into events.

#include "cli/events.h"
#include "cli/targets.h"

#include "platform/errors.h"
#include "platform/eventqueue.h"
#include "platform/file.h"
#include "platform/progressbar.h"
#include "platform/socket.h"
#include "platform/statusbar.h"
#include "platform/timer.h"

#include <cstdint>
#include <functional>

namespace modburn::cli {

// The platform parts of one session, all made on and used by one thread.
struct SessionParts {
    ISocket& tcp;
    ISocket& udp;
    ITimer& timer1;
    ITimer& timer4;
    IEventQueue& events;
    IFileSystem& files;
    std::function<std::int64_t()> nowMs;  // a monotonic clock in milliseconds
};

using EventSink = std::function<void(const Event&)>;

// The TCP socket as the link sees it, counting what went out, so a failed
// send can be told apart: never connected, or connected and then dropped.
class WatchedSocket : public ISocket {
public:
    explicit WatchedSocket(ISocket& inner) : inner_(inner) {}

    int Protocol() const override { return inner_.Protocol(); }
    void SetProtocol(int protocol) override { inner_.SetProtocol(protocol); }
    int LocalPort() const override { return inner_.LocalPort(); }
    void SetLocalPort(int port) override { inner_.SetLocalPort(port); }
    QString RemoteHost() const override { return inner_.RemoteHost(); }
    void SetRemoteHost(const QString& host) override { inner_.SetRemoteHost(host); }
    int RemotePort() const override { return inner_.RemotePort(); }
    void SetRemotePort(int port) override { inner_.SetRemotePort(port); }
    int State() const override { return inner_.State(); }
    void Close() override { inner_.Close(); }
    void Connect() override { inner_.Connect(); }
    void SendData(const std::array<std::uint8_t, 1>& data) override
    {
        inner_.SendData(data);
        ++bytesSent_;
    }
    std::vector<std::uint8_t> GetData() override { return inner_.GetData(); }
    void SetDataArrivalHandler(DataArrivalHandler handler) override
    {
        inner_.SetDataArrivalHandler(std::move(handler));
    }

    std::int64_t BytesSent() const { return bytesSent_; }

private:
    ISocket& inner_;
    std::int64_t bytesSent_ = 0;
};

// The window's one-panel status bar; every change is reported.
class PanelBar : public IStatusBar {
public:
    explicit PanelBar(std::function<void(const QString&)> onChange) : onChange_(std::move(onChange)) {}

    int PanelCount() const override { return 1; }
    QString PanelText(int panel) const override;
    void SetPanelText(int panel, const QString& text) override;
    void SetPanelClickHandler(std::function<void(int)>) override {}

private:
    QString text_;
    std::function<void(const QString&)> onChange_;
};

// A progress bar from 0 to 100 that reports every value set.
class ReportingBar : public IProgressBar {
public:
    explicit ReportingBar(std::function<void(float)> onValue) : onValue_(std::move(onValue)) {}

    float Min() const override { return min_; }
    void SetMin(float value) override;
    float Max() const override { return max_; }
    void SetMax(float value) override;
    float Value() const override { return value_; }
    void SetValue(float value) override;

private:
    float min_ = 0.0f;
    float max_ = 100.0f;
    float value_ = 0.0f;
    std::function<void(float)> onValue_;
};

// Words for a run-time error that ended a session. `bytesSent` tells an
// unreachable device (nothing ever sent) from a dropped link.
QString DescribeError(err::Number number, std::int64_t bytesSent, const Target& target);

}  // namespace modburn::cli
