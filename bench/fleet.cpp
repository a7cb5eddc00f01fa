// Figures for programming a fleet at once with modburn-cli: N = 1, 8, 32 and
// 64 devices, each a simulator process of its own on 127.0.0.1. For every N
// the tool runs as a child process, so its wall time, CPU time and peak
// memory are its own (wait4's rusage), not this program's.
//
// Usage: fleet [simulator options]   (default: --realistic)

#include "launcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int Repeats = 3;

struct Figures {
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0;
    double maxRssKb = 0;
};

double Ms(const timeval& t)
{
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// Runs the tool with its output thrown away and waits for it.
Figures RunTool(const QStringList& args)
{
    std::vector<std::string> owned{MODBURN_CLI_PATH};
    for (const QString& arg : args)
        owned.push_back(arg.toStdString());
    std::vector<char*> argv;
    for (std::string& arg : owned)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Figures figures;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return figures;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return figures;
    figures.wallMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    figures.cpuMs = Ms(usage.ru_utime) + Ms(usage.ru_stime);
    figures.maxRssKb = static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
    return figures;
}

// The median wall time of a few runs, with the CPU and memory of that run.
Figures Median(const QStringList& args)
{
    std::vector<Figures> runs;
    for (int i = 0; i < Repeats; ++i)
        runs.push_back(RunTool(args));
    std::sort(runs.begin(), runs.end(), [](const Figures& a, const Figures& b) { return a.wallMs < b.wallMs; });
    Figures median = runs[runs.size() / 2];
    median.ok = std::all_of(runs.begin(), runs.end(), [](const Figures& f) { return f.ok; });
    return median;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList options = app.arguments().mid(1);
    if (options.isEmpty())
        options << QStringLiteral("--realistic");
    const std::vector<int> sizes{1, 8, 32, 64};
    const int most = sizes.back();

    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("image.bin")));
    if (!dir.isValid() || !image.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    QByteArray bytes(8192, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 + 7);
    image.write(bytes);
    image.close();

    std::printf("starting %d simulators (%s)...\n", most, qPrintable(options.join(u' ')));
    std::fflush(stdout);
    std::vector<std::unique_ptr<modburn::devsim::Launcher>> devices;
    QStringList addresses;
    for (int i = 0; i < most; ++i) {
        auto launcher = std::make_unique<modburn::devsim::Launcher>();
        QString error;
        if (!launcher->Start(QStringLiteral(MODBURN_DEVSIM_PATH), options, &error)) {
            std::fprintf(stderr, "simulator %d did not start: %s\n", i, qPrintable(error));
            return 1;
        }
        addresses << QStringLiteral("127.0.0.1:%1").arg(launcher->Port());
        devices.push_back(std::move(launcher));
    }

    // What starting the tool costs before any device: Qt and the process itself.
    const Figures idle = Median({QStringLiteral("--version")});
    std::printf("tool start-up alone: CPU %.1f ms, peak memory %.1f MB\n\n", idle.cpuMs, idle.maxRssKb / 1024);
    std::printf("%4s  %9s  %12s  %11s  %15s  %12s  %20s\n", "N", "wall ms", "wall/wall(1)", "CPU ms", "CPU/device ms",
                "peak MB", "MB/device beyond 1st");

    Figures one;
    for (int n : sizes) {
        const Figures f = Median(QStringList{QStringLiteral("program"), QStringLiteral("--image"), image.fileName()} +
                                 addresses.mid(0, n));
        if (n == 1)
            one = f;
        const QString perDevice =
            n == 1 ? QStringLiteral("-") : QString::number((f.maxRssKb - one.maxRssKb) / 1024 / (n - 1), 'f', 3);
        std::printf("%4d  %9.0f  %12.3f  %11.1f  %15.2f  %12.1f  %20s%s\n", n, f.wallMs, f.wallMs / one.wallMs, f.cpuMs,
                    (f.cpuMs - idle.cpuMs) / n, f.maxRssKb / 1024, qPrintable(perDevice),
                    f.ok ? "" : "  (not every device programmed!)");
        std::fflush(stdout);
    }
    std::printf("\nCPU/device is the tool's CPU time less its start-up, per device run; "
                "wall times are medians of %d runs.\n",
                Repeats);
    return 0;
}
