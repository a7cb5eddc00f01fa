// Starting the simulator process and reading the port from its ready line.

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
    process_.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + options);
    if (!process_.waitForStarted(StartMs)) {
        *error = process_.errorString();
        return false;
    }
    // The line may come in pieces; wait for all of it.
    while (!process_.canReadLine()) {
        if (!process_.waitForReadyRead(StartMs)) {
            *error = QStringLiteral("no ready line: ") + QString::fromUtf8(process_.readAllStandardError());
            return false;
        }
    }
    const QString line = QString::fromUtf8(process_.readLine());
    static const QRegularExpression ready(QStringLiteral("^modburn-devsim listening on 127\\.0\\.0\\.1:(\\d+)\\n$"));
    const auto match = ready.match(line);
    port_ = match.hasMatch() ? match.captured(1).toUShort() : 0;
    if (port_ == 0) {
        *error = QStringLiteral("unexpected ready line: ") + line;
        return false;
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
