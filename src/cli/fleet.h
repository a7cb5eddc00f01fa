#pragma once

// Programming many devices at once. The run waits by yielding to its
// thread's event queue, so two runs on one thread would nest and hold each
// other up: every device gets a thread of its own, with its own platform
// parts, link and run. Threads talk only through queued calls.

#include "cli/events.h"
#include "cli/render.h"
#include "cli/targets.h"

#include <QMutex>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace modburn::cli {

class Session;

// One device's run on its own thread. Its parts are made in run() and never
// leave the thread; events go out through `deliver`, called on that thread.
class DeviceThread : public QThread {
    Q_OBJECT
public:
    DeviceThread(Target target, QString imagePath, std::function<void(const Event&)> deliver);

    // From any thread: ends the run at its next yield, or keeps it from starting.
    void RequestStop(Verdict reason);

protected:
    void run() override;

private:
    const Target target_;
    const QString imagePath_;
    const std::function<void(const Event&)> deliver_;

    QMutex mutex_;
    QObject* context_ = nullptr;  // lives on the device thread while the run is on
    Session* session_ = nullptr;
    std::optional<Verdict> stopAsked_;
};

// Every device's thread, their events on the main thread, the give-up time
// and the end of the command.
class Fleet : public QObject {
    Q_OBJECT
public:
    Fleet(std::vector<Target> targets, QString imagePath, Reporter& reporter, QObject* parent = nullptr);
    ~Fleet() override;

    // Starts every device at once; after `giveUpAfterS` the runs still going are stopped.
    void Start(std::optional<double> giveUpAfterS);
    // Ctrl-C or SIGTERM: every run still going ends at once.
    void Interrupt();
    bool Done() const { return done_; }

    // 0 all programmed, 1 any not, 3 given up on, 130 interrupted.
    int ExitCode() const;

signals:
    void Finished();

private:
    struct Device {
        Target target;
        std::unique_ptr<DeviceThread> thread;
        Verdict stopReason = Verdict::None;
        bool ended = false;
        Event end;
    };

    // From a device thread: queues the event, and wakes this thread only when
    // the queue was empty, so a busy fleet costs one wake-up per batch.
    void Post(std::size_t index, const Event& event);
    void DrainInbox();
    void OnEvent(std::size_t index, Event event);
    void StopRemaining(Verdict reason);
    void Complete();

    QMutex inboxMutex_;
    std::vector<std::pair<std::size_t, Event>> inbox_;  // in the order the threads posted them

    std::vector<Device> devices_;
    const QString imagePath_;
    Reporter& reporter_;
    QTimer giveUp_;
    std::optional<double> giveUpAfterS_;
    std::int64_t startedAt_ = 0;
    int ended_ = 0;
    bool interrupted_ = false;
    bool gaveUp_ = false;
    bool done_ = false;
};

}  // namespace modburn::cli
