// Figures for programming a fleet at once with modburn-cli: N = 1, 64, 256
// and 1024 devices, all of them played by one simulator process
// (--devices N). For every N the tool runs as a child process, so its wall
// time, CPU time and peak memory are its own (wait4's rusage); the
// simulator's CPU is what its process used while the tool ran.
//
// Beside each wall time stands its bound: 1.2 times the larger of one
// device's wall time and the CPU of tool and simulator spread over the cores,
// so a fleet may take no longer than the work it needs, never wait on its own.
//
// With --dry-run the tool only reaches every device (the preflight), so the
// figures are what a preflight of the fleet costs.
//
// Usage: fleet [--sizes 1,64,256,1024] [--dry-run] [simulator options]   (default: --realistic)

#include "launcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int Repeats = 3;
constexpr double Slack = 1.2;

struct Figures {
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0;
    double simCpuMs = 0;
    double maxRssKb = 0;
};

double Ms(const timeval& t)
{
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// User and system CPU of another process so far, from /proc.
double ProcessCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which may hold blanks, start past its ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    constexpr int UtimeField = 11;  // utime and stime, counted from the state field
    if (fields.size() <= UtimeField + 1)
        return 0;
    const double ticks = fields[UtimeField].toDouble() + fields[UtimeField + 1].toDouble();
    return ticks * 1e3 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Runs the tool with its output thrown away and waits for it.
Figures RunTool(const QStringList& args, qint64 simPid)
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
    const double simBefore = simPid > 0 ? ProcessCpuMs(simPid) : 0;
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
    figures.simCpuMs = simPid > 0 ? ProcessCpuMs(simPid) - simBefore : 0;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    figures.cpuMs = Ms(usage.ru_utime) + Ms(usage.ru_stime);
    figures.maxRssKb = static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
    return figures;
}

// The median wall time of a few runs, with the CPU and memory of that run.
Figures Median(const QStringList& args, qint64 simPid)
{
    std::vector<Figures> runs;
    for (int i = 0; i < Repeats; ++i)
        runs.push_back(RunTool(args, simPid));
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
    std::vector<int> sizes{1, 64, 256, 1024};
    if (options.size() >= 2 && options.front() == QStringLiteral("--sizes")) {
        sizes.clear();
        for (const QString& size : options[1].split(u','))
            sizes.push_back(std::max(1, size.toInt()));
        options = options.mid(2);
    }
    const bool dryRun = options.removeAll(QStringLiteral("--dry-run")) > 0;
    if (options.isEmpty())
        options << QStringLiteral("--realistic");
    const double cores = static_cast<double>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));

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

    // What starting the tool costs before any device: Qt and the process itself.
    const Figures idle = Median({QStringLiteral("--version")}, 0);
    std::printf("%sone simulator process per N (%s); %.0f cores\n", dryRun ? "preflight (--dry-run); " : "",
                qPrintable(options.join(u' ')), cores);
    std::printf("tool start-up alone: CPU %.1f ms, peak memory %.1f MB\n\n", idle.cpuMs, idle.maxRssKb / 1024);
    std::printf("%5s  %8s  %8s  %12s  %12s  %12s  %8s  %10s\n", "N", "wall ms", "bound ms", "tool CPU ms", "CPU/dev ms",
                "sim CPU ms", "peak MB", "MB/extra");

    Figures one;
    bool allWithin = true;
    for (int n : sizes) {
        modburn::devsim::Launcher devsim;
        QString error;
        if (!devsim.StartDevices(QStringLiteral(MODBURN_DEVSIM_PATH), n, options, &error)) {
            std::fprintf(stderr, "the simulator for %d devices did not start: %s\n", n, qPrintable(error));
            return 1;
        }
        QStringList args{QStringLiteral("program"), QStringLiteral("--image"), image.fileName()};
        if (dryRun)
            args << QStringLiteral("--dry-run");
        for (quint16 port : devsim.Ports())
            args << QStringLiteral("127.0.0.1:%1").arg(port);
        const Figures f = Median(args, devsim.Process().processId());
        devsim.Stop();
        if (n == 1)
            one = f;
        const double bound = Slack * std::max(one.wallMs, (f.cpuMs + f.simCpuMs) / cores);
        const bool within = f.wallMs <= bound;
        allWithin = allWithin && within;
        const QString perExtra =
            n == 1 ? QStringLiteral("-") : QString::number((f.maxRssKb - one.maxRssKb) / 1024 / (n - 1), 'f', 3);
        std::printf("%5d  %8.0f  %8.0f%s  %12.1f  %12.2f  %12.1f  %8.1f  %10s%s\n", n, f.wallMs, bound,
                    within ? " " : "!", f.cpuMs, (f.cpuMs - idle.cpuMs) / n, f.simCpuMs, f.maxRssKb / 1024,
                    qPrintable(perExtra),
                    f.ok     ? ""
                    : dryRun ? "  (not every device reached!)"
                             : "  (not every device programmed!)");
        std::fflush(stdout);
    }
    std::printf("\nbound = %.1f x max(wall(1), (tool CPU + sim CPU) / cores), '!' where the wall time is over it;\n"
                "CPU/dev is the tool's CPU less its start-up, per device run; MB/extra is the peak memory\n"
                "beyond one device's, per extra device; wall times are medians of %d runs.\n",
                Slack, Repeats);
    return allWithin ? 0 : 3;
}
