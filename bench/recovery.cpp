// What a lost or late reply costs a whole run: the extra wall time of one
// fault against a clean run, with the simulator's realistic device times,
// printed beside the least that a sound count of replies allows. A reply
// comes within two time-outs of its frame or never, and in order: once a
// frame has gone twice, the one reply seen may be the late first send's, so
// the second send's may still come until two time-outs after it.
//
// Usage: recovery [runs per case, default 1]

#include "launcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int PageTimeOutMs = 5000;
constexpr int ShortTimeOutMs = 500;
constexpr int LatePageMs = 6000;
constexpr int Page = 64;
constexpr int PageFrame = 5 + Page;  // after burn-enable, search, enable and erase

struct Case {
    const char* name;
    QStringList faults;
    int leastExtraMs;
};

// Wall time of one whole run by modburn-cli against a fresh simulator, or -1.
qint64 RunOnce(const QString& image, const QStringList& faults)
{
    modburn::devsim::Launcher devsim;
    QString error;
    QStringList options{QStringLiteral("--realistic")};
    options += faults;
    if (!devsim.Start(QStringLiteral(MODBURN_DEVSIM_PATH), options, &error)) {
        std::fprintf(stderr, "recovery: %s\n", qPrintable(error));
        return -1;
    }
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(MODBURN_CLI_PATH), {QStringLiteral("program"), QStringLiteral("--image"), image,
                                                 QStringLiteral("127.0.0.1:%1").arg(devsim.Port())});
    if (!cli.waitForFinished(120000) || cli.exitCode() != 0) {
        std::fprintf(stderr, "recovery: the run did not end programmed:\n%s\n", cli.readAll().constData());
        return -1;
    }
    return clock.elapsed();
}

qint64 Median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 1;
    const QString image = QStringLiteral(MODBURN_SAMPLE_IMAGE);

    const auto median = [&](const QStringList& faults) {
        std::vector<qint64> times;
        for (int i = 0; i < runs; ++i) {
            const qint64 ms = RunOnce(image, faults);
            if (ms < 0)
                return qint64{-1};
            times.push_back(ms);
        }
        return Median(times);
    };

    const qint64 clean = median({});
    if (clean < 0)
        return 1;
    std::printf("clean run: %lld ms (median of %d)\n\n", static_cast<long long>(clean), runs);
    std::printf("%-40s %12s %16s\n", "one fault", "extra ms", "least allowed ms");

    const std::vector<Case> cases{
        {"lost reply to page 64",
         {QStringLiteral("--drop-page-reply"), QStringLiteral("%1:1").arg(Page)},
         3 * PageTimeOutMs},
        {"reply to page 64 late by 6000 ms",
         {QStringLiteral("--late-page-reply"), QStringLiteral("%1:%2").arg(Page).arg(LatePageMs)},
         LatePageMs},
        {"page 64's frame lost", {QStringLiteral("--lose-frame"), QString::number(PageFrame)}, 3 * PageTimeOutMs},
        {"no reply to the device search", {QStringLiteral("--silent-search"), QStringLiteral("1")}, 3 * ShortTimeOutMs},
    };
    for (const Case& c : cases) {
        const qint64 ms = median(c.faults);
        if (ms < 0)
            return 1;
        std::printf("%-40s %12lld %16d\n", c.name, static_cast<long long>(ms - clean), c.leastExtraMs);
    }
    return 0;
}
