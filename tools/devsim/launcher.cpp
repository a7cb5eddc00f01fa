// Starting the simulator process and reading the ports from its ready lines.

#include "launcher.h"

#include <QRegularExpression>

namespace modburn::devsim {

namespace {
constexpr int StartMs = 30000;  // generous: a loaded CI machine is slow to start processes
}

Launcher::~Launcher()
{
    Stop();
}

bool Launcher::Start(const QString& program, const QStringList& options, QString* error)
{
    return StartDevices(program, 1, options, error);
}

bool Launcher::StartDevices(const QString& program, int devices, const QStringList& options, QString* error)
{
    ports_.clear();
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("0")};
    // Left out for one device, so that a simulator without the option still starts.
    if (devices != 1)
        arguments << QStringLiteral("--devices") << QString::number(devices);
    process_.start(program, arguments + options);
    if (!process_.waitForStarted(StartMs)) {
        *error = process_.errorString();
        return false;
    }
    static const QRegularExpression ready(QStringLiteral("^modburn-devsim listening on 127\\.0\\.0\\.1:(\\d+)\\n$"));
    while (static_cast<int>(ports_.size()) < devices) {
        // A line may come in pieces; wait for all of it.
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(StartMs)) {
                *error = QStringLiteral("no ready line: ") + QString::fromUtf8(process_.readAllStandardError());
                return false;
            }
        }
        const QString line = QString::fromUtf8(process_.readLine());
        const auto match = ready.match(line);
        const quint16 port = match.hasMatch() ? match.captured(1).toUShort() : 0;
        if (port == 0) {
            *error = QStringLiteral("unexpected ready line: ") + line;
            return false;
        }
        ports_.push_back(port);
    }
    return true;
}

void Launcher::Stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(StartMs);
}

}  // namespace modburn::devsim
