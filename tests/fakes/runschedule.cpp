// Drawing a run's faults and judging its verdict against the device.

#include "runschedule.h"

#include <algorithm>

namespace modburn::fake {

namespace {

constexpr int ModuleBytes = devsim::ModuleFlashSize;
constexpr int PageTimeOutMs = 5000;
constexpr int ShortTimeOutMs = 500;
const QString Programmed = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
constexpr std::array<std::uint8_t, 3> GoodLocks{0xAF, 0xDC, 0xCC};

}  // namespace

RunSchedule::RunSchedule(Decisions& decide)
{
    lineSeed = decide.Seed();
    const int size = decide.Chance(0.1) ? 0 : decide.Chance(0.1) ? ModuleBytes : decide.Between(0, ModuleBytes);
    std::uint64_t fill = decide.Seed();
    image.resize(static_cast<std::size_t>(size));
    for (auto& b : image) {
        fill = fill * 6364136223846793005ULL + 1442695040888963407ULL;
        b = static_cast<std::uint8_t>(fill >> 56);
    }

    device.pageWriteMs = decide.Between(0, 5);
    device.eraseMs = decide.Between(0, 50);
    device.replyDelayMs = decide.Between(0, 3);
    device.lockDelayMs = decide.Between(0, 30);
    device.coalesceLock = decide.Chance(0.3);
    if (decide.Chance(0.2))
        device.silentBurnEnables = decide.Between(0, 3);
    if (decide.Chance(0.2))
        device.silentSearches = decide.Between(0, 3);

    // What spoils the module.
    if (decide.Chance(0.15))
        device.rejectPages.insert(decide.Chance(0.3) ? devsim::LastModulePage : decide.Between(0, 127));
    if (decide.Chance(0.1))
        device.lockBytes[static_cast<std::size_t>(decide.Between(0, 2))] ^=
            static_cast<std::uint8_t>(decide.Between(1, 255));
    if (decide.Chance(0.05))
        device.withholdLocks = true;
    if (decide.Chance(0.05))
        device.closeAfterPage = decide.Between(0, devsim::LastModulePage);

    // What only the way there and back loses or delays.
    if (decide.Chance(0.1))
        device.dropPageReplies[decide.Between(0, devsim::LastModulePage)] = decide.Between(1, 2);
    if (decide.Chance(0.1))
        device.latePageReplies[decide.Between(0, devsim::LastModulePage)] = decide.Between(1, 2 * PageTimeOutMs - 100);
    if (decide.Chance(0.1))
        device.loseFrames.insert(decide.Between(1, 150));

    line.replySlow = decide.Rate(0.2);
    line.replySplit = decide.Rate(0.3);
    line.garbageAtConnect = decide.Rate(0.6);
    if (decide.Chance(0.5)) {
        line.frameLost = decide.Rate(0.05);
        line.replyLost = decide.Rate(0.05);
        line.replyLate = decide.Rate(0.08);
        line.replyAtTimeOut = decide.Rate(0.03);
    }
    if (decide.Chance(0.1))
        line.garbageInHandshake = 1.0;
    const int scripted = decide.Chance(0.3) ? decide.Between(1, 4) : 0;
    for (int i = 0; i < scripted; ++i) {
        FrameScript fate;
        const int what = decide.Between(0, 2);
        fate.lost = what == 0;
        fate.replyLost = what == 1;
        // Late, but within twice the shortest time-out: the frame may be a short one.
        fate.extraDelayMs = what == 2 ? decide.Between(0, 2 * ShortTimeOutMs - 50) : 0;
        script[decide.Between(1, 150)] = fate;
    }
}

std::string BrokenPromise(const RunSchedule& schedule, const FaultyLine& line, const RunSeen& seen)
{
    if (seen.hung)
        return "a wait never ended";
    // Every wait ends within its bound: the settling and connect waits, then
    // per frame its time-out and the two time-outs its owed replies may take,
    // and the lock-byte waits.
    constexpr std::int64_t OpeningMs = 2 * PageTimeOutMs + PageTimeOutMs;
    constexpr std::int64_t PerFrameMs = 3 * PageTimeOutMs;
    constexpr std::int64_t LockWaitsMs = 2 * PageTimeOutMs;
    if (seen.elapsedMs > OpeningMs + PerFrameMs * line.framesCarried + LockWaitsMs)
        return "a wait went past its bound";
    if (seen.outcomeStopped)
        return "the run stopped though nobody pressed Exit";

    std::vector<std::uint8_t> padded = schedule.image;
    padded.resize(ModuleBytes, 0);
    const auto& flash = line.device.Flash();
    const bool storedWholeImage = std::equal(padded.begin(), padded.end(), flash.begin());
    const bool refusedAPage = line.device.Stats().pagesRejected > 0;
    const bool sentGoodLocks = !schedule.device.withholdLocks && schedule.device.lockBytes == GoodLocks;
    const bool saysProgrammed = seen.statusText.startsWith(QStringLiteral("       模块编程完毕!"));

    if (saysProgrammed != seen.outcomeProgrammed)
        return "the status text and the outcome disagree";
    if (saysProgrammed) {
        if (seen.statusText != Programmed)
            return "success shown with lock bytes other than AF DC CC";
        if (!storedWholeImage)
            return "success shown, but the device does not hold the image";
        if (refusedAPage)
            return "success shown, but the device refused a page";
        if (!sentGoodLocks)
            return "success shown, but the device never sent AF DC CC";
        return {};
    }
    const bool locksReachedTheTool = line.lastPageAcceptancesDelivered > 0;
    if (storedWholeImage && !refusedAPage && sentGoodLocks && locksReachedTheTool && !line.garbageAnsweredAFrame)
        return "a programmed module was not called programmed";
    return {};
}

}  // namespace modburn::fake
