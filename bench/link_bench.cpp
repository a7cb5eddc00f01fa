// Figures for the real link against the device simulator on loopback:
// short-frame round trips, a full 128-page write, and the CPU that a silent
// wait costs (it should sleep, not spin).
//
// Usage: link_bench [extra simulator options, e.g. --realistic]

#include "cputime.h"
#include "launcher.h"
#include "link/qt/qtlinkparts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace modburn;
using bench::CpuMs;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    devsim::Launcher devsim;
    QString error;
    if (!devsim.Start(QStringLiteral(MODBURN_DEVSIM_PATH), app.arguments().mid(1), &error)) {
        std::fprintf(stderr, "simulator did not start: %s\n", qPrintable(error));
        return 1;
    }
    const QString port = QString::number(devsim.Port());

    QtLinkParts device;
    LoadLink(device.link, device.control);
    Link& link = device.link;
    link.Open(QStringLiteral("127.0.0.1"), port);
    if (!device.tcp.Connected()) {
        std::fprintf(stderr, "no connection to the simulator\n");
        return 1;
    }

    // Short-frame round trips.
    constexpr int RoundTrips = 500;
    std::vector<double> trips;
    for (int i = 0; i < RoundTrips; ++i) {
        QElapsedTimer t;
        t.start();
        if (link.Exchange([&](frame::SendBuffer& SendBuf,
                              std::uint8_t&) { return frame::BuildShortFrame(SendBuf, frame::CmdSearch); },
                          frame::ShortReply) != Reply::Answered) {
            std::fprintf(stderr, "search frame %d timed out\n", i);
            return 1;
        }
        trips.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(trips.begin(), trips.end());
    std::printf("short frame round trip: median %.3f ms, p99 %.3f ms, max %.3f ms (%d trips)\n",
                trips[trips.size() / 2], trips[trips.size() * 99 / 100], trips.back(), RoundTrips);

    // A whole module: erase, 128 page frames, lock bytes.
    QElapsedTimer whole;
    whole.start();
    const double cpuBefore = CpuMs();
    link.Exchange(
        [&](frame::SendBuffer& SendBuf, std::uint8_t&) { return frame::BuildShortFrame(SendBuf, frame::CmdErase); },
        frame::ShortReply);
    std::array<std::uint8_t, frame::ModulePageSize> data{};
    for (int page = 0; page < frame::ModulePages; ++page) {
        data.fill(static_cast<std::uint8_t>(page));
        if (link.Exchange([&](frame::SendBuffer& SendBuf,
                              std::uint8_t& FrameXor) { return frame::BuildPageFrame(SendBuf, FrameXor, page, data); },
                          frame::PageReply) != Reply::Answered ||
            !frame::PageAccepted(link.RecBuf()[0])) {
            std::fprintf(stderr, "page %d not accepted\n", page);
            return 1;
        }
    }
    const bool locks = link.AwaitReply(frame::LockReply) == Reply::Answered;
    std::printf("erase + 128 pages + lock bytes: %.1f ms wall, %.1f ms CPU, lock bytes %s\n",
                static_cast<double>(whole.nsecsElapsed()) / 1e6, CpuMs() - cpuBefore, locks ? "received" : "missing");

    // A silent wait: nothing is sent, so nothing comes back.
    constexpr std::int16_t SilentMs = 3000;
    const double cpuSilent = CpuMs();
    QElapsedTimer silent;
    silent.start();
    link.AwaitReply({1, SilentMs});
    std::printf("silent %d ms wait: %.1f ms wall, %.2f ms CPU\n", SilentMs,
                static_cast<double>(silent.nsecsElapsed()) / 1e6, CpuMs() - cpuSilent);

    return 0;
}
