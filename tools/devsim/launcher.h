#pragma once

// Starts modburn-devsim as a child process and reads the ports from its ready
// lines, for the integration tests and the benchmarks.

#include <QProcess>
#include <QStringList>

#include <vector>

namespace modburn::devsim {

class Launcher {
public:
    ~Launcher();

    // Starts the simulator on a free loopback port with the given extra
    // options and waits for its ready line. On failure returns false and
    // says why in `error`.
    bool Start(const QString& program, const QStringList& options, QString* error);
    // The same for `devices` devices in the one process (--devices), each on
    // a free port of its own; waits for all of their ready lines.
    bool StartDevices(const QString& program, int devices, const QStringList& options, QString* error);
    // The first device's port; Ports() has every device's, in the order announced.
    quint16 Port() const { return ports_.empty() ? 0 : ports_.front(); }
    const std::vector<quint16>& Ports() const { return ports_; }
    QProcess& Process() { return process_; }
    // Kills the simulator if it still runs.
    void Stop();

private:
    QProcess process_;
    std::vector<quint16> ports_;
};

}  // namespace modburn::devsim
