#pragma once

// Doing one job on many devices at once (a font operation is a fleet of one).
// The run waits by yielding to its thread's event queue, so two runs on one
// thread would nest and hold each other up: every device gets a thread of its
// own, with its own platform parts, link and session. Events reach the main
// thread through a queue; a stop reaches a device's wait directly.

#include "cli/events.h"
#include "cli/render.h"
#include "cli/session.h"
#include "cli/targets.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace modburn {
class RunControl;
}

namespace modburn::cli {

// One device's job on its own thread. Its parts are made in run() and never
// leave the thread; events go out through `deliver`, called on that thread.
class DeviceThread : public QThread {
    Q_OBJECT
public:
    DeviceThread(Target target, Job job, std::function<void(const Event&)> deliver);

    // From any thread: ends the job at once, or keeps it from starting.
    void RequestStop();

protected:
    void run() override;

private:
    const Target target_;
    const Job job_;
    const std::function<void(const Event&)> deliver_;

    QMutex mutex_;
    RunControl* control_ = nullptr;  // the device's, while its parts exist
    bool stopAsked_ = false;
};

// Every device's thread, their events on the main thread, the give-up time
// and the end of the command.
class Fleet : public QObject {
    Q_OBJECT
public:
    Fleet(std::vector<Target> targets, Job job, Reporter& reporter, QObject* parent = nullptr);
    ~Fleet() override;

    // Starts every device at once; after `giveUpAfterS` the jobs still going are stopped.
    void Start(std::optional<double> giveUpAfterS);
    // Ctrl-C or SIGTERM: every job still going ends at once.
    void Interrupt() { StopRemaining(Verdict::Interrupted); }
    bool Done() const { return done_; }
    // The summary's verdict, once done.
    Verdict Outcome() const { return verdict_; }

signals:
    void Finished();

private:
    struct Device {
        Target target;
        std::unique_ptr<DeviceThread> thread;
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
    const Job job_;
    Reporter& reporter_;
    QTimer giveUp_;
    std::optional<double> giveUpAfterS_;
    QElapsedTimer clock_;
    int ended_ = 0;
    // Why the fleet stopped the jobs still going: Interrupted or GaveUp.
    Verdict stopReason_ = Verdict::None;
    Verdict verdict_ = Verdict::None;
    bool done_ = false;
};

}  // namespace modburn::cli
