// modburn-devsim: plays the print-driver module on 127.0.0.1 so the tool can
// be exercised without hardware.

#include "platform/qt/process.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "server.h"

namespace {

constexpr int UsageExit = 2;

}  // namespace

int main(int argc, char* argv[])
{
    // One loop serves every device's sockets; Qt's own event dispatcher polls
    // them for far less CPU than GLib's. Only when the user has not chosen.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modburn-devsim"));

    const modburn::devsim::ParseResult parsed = modburn::devsim::ParseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "modburn-devsim: %s\nTry 'modburn-devsim --help'.\n", qPrintable(parsed.error));
        return UsageExit;
    }
    const modburn::devsim::CommandLine& line = parsed.commandLine;
    if (line.help) {
        std::fputs(qPrintable(modburn::devsim::HelpText()), stdout);
        return 0;
    }

    if (line.devices > 1)
        modburn::RaiseDescriptorLimit();
    const bool several = line.devices > 1;
    // Several devices are spread over a loop per core: one loop polling
    // thousands of sockets spends its time on the poll, and alone it would be
    // crowded out by a tool that runs a thread per device. One device stays
    // on the main thread.
    const int loops = several ? std::clamp(QThread::idealThreadCount(), 1, line.devices) : 0;
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<QObject>> contexts;  // one living on each loop's thread
    for (int i = 0; i < loops; ++i) {
        threads.push_back(std::make_unique<QThread>());
        contexts.push_back(std::make_unique<QObject>());
        contexts.back()->moveToThread(threads.back().get());
        threads.back()->start();
    }
    // A device's server is made, used and destroyed on its loop's thread.
    const auto onLoop = [&contexts](int device, const std::function<void()>& work) {
        if (contexts.empty())
            work();
        else
            QMetaObject::invokeMethod(contexts[static_cast<std::size_t>(device) % contexts.size()].get(), work,
                                      Qt::BlockingQueuedConnection);
    };

    std::vector<std::unique_ptr<modburn::devsim::Server>> servers(static_cast<std::size_t>(line.devices));
    bool listening = true;
    for (int i = 0; i < line.devices && listening; ++i) {
        onLoop(i, [&, i] {
            const auto port = static_cast<quint16>(line.port == 0 ? 0 : line.port + i);
            auto server = std::make_unique<modburn::devsim::Server>(line.options, several);
            if (!server->Listen(port)) {
                std::fprintf(stderr, "modburn-devsim: cannot listen on 127.0.0.1:%u: %s\n", port,
                             qPrintable(server->ErrorString()));
                listening = false;
                return;
            }
            if (line.transcript) {
                // With several devices each line says whose it is.
                const std::string prefix = several ? std::to_string(server->Port()) + ": " : std::string();
                server->GetDevice().transcript = [prefix](const std::string& text) {
                    std::fprintf(stdout, "%s%s\n", prefix.c_str(), text.c_str());
                    std::fflush(stdout);
                };
            }
            servers[static_cast<std::size_t>(i)] = std::move(server);
        });
    }
    int status = 1;
    // SIGTERM and SIGINT end the event loop in order.
    std::unique_ptr<modburn::SignalWatch> watch;
    if (listening) {
        watch = std::make_unique<modburn::SignalWatch>([](int) { QCoreApplication::quit(); });
        for (const auto& server : servers)
            std::fprintf(stdout, "modburn-devsim listening on 127.0.0.1:%u\n", server->Port());
        std::fflush(stdout);
        status = QCoreApplication::exec();
    }
    for (int i = 0; i < line.devices; ++i)
        onLoop(i, [&servers, i] { servers[static_cast<std::size_t>(i)].reset(); });
    for (const auto& thread : threads) {
        thread->quit();
        thread->wait();
    }
    return status;
}
