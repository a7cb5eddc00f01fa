#pragma once

// What a console program needs of its process: SIGINT and SIGTERM as events
// on the main thread, and room for many sockets.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace modburn {

// The handler only writes the signal's number into a pipe; a socket notifier
// reads it on the thread that made the watch. Only one watch at a time.
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

// Many sockets and threads: take every descriptor the system allows.
void RaiseDescriptorLimit();

}  // namespace modburn
