#pragma once

// Starts modburn-devsim as a child process and reads the port from its ready
// line, for the integration tests and the benchmarks.

#include <QProcess>
#include <QStringList>

namespace modburn::devsim {

class Launcher {
public:
    ~Launcher();

    // Starts the simulator on a free loopback port with the given extra
    // options and waits for its ready line. On failure returns false and
    // says why in `error`.
    bool Start(const QString& program, const QStringList& options, QString* error);
    quint16 Port() const { return port_; }
    QProcess& Process() { return process_; }
    // Kills the simulator if it still runs.
    void Stop();

private:
    QProcess process_;
    quint16 port_ = 0;
};

}  // namespace modburn::devsim
