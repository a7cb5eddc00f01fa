#pragma once

// SIGINT and SIGTERM as events on the main thread: the handler only writes
// the signal's number into a pipe, and a socket notifier reads it there.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace modburn::cli {

class SignalWatch : public QObject {
public:
    // `onSignal` runs on the thread that made the watch, from its event queue.
    explicit SignalWatch(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    // Puts the default handlers back.
    ~SignalWatch() override;

    bool Installed() const { return notifier_ != nullptr; }

private:
    void Drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace modburn::cli
