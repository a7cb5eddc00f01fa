// Whole runs against a device and a line that combine faults at random, each
// judged from the device's side: the verdict shown must match what the device
// actually stored and answered, and no run may hang. A failing schedule
// prints its seed; `--seed S` replays it, `--count N` searches longer.

#include "fakelink.h"
#include "fakeplatform.h"
#include "faultyline.h"
#include "runrig.h"
#include "schedules.h"

#include "run/run.h"
#include "ui/windowrules.h"

#include <QtTest>

#include <random>

using namespace modburn;
using namespace modburn::fake;

namespace {

Schedules schedules;

const QString Programmed = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
constexpr std::array<std::uint8_t, 3> GoodLocks{0xAF, 0xDC, 0xCC};
constexpr int ModuleBytes = 8192;

// One schedule: the image, the device's own faults and the line's.
struct Schedule {
    std::vector<std::uint8_t> image;
    devsim::Options device;
    LineFaults line;
    bool benign = false;  // nothing that should keep a good module from passing

    explicit Schedule(std::uint64_t seed)
    {
        std::mt19937_64 rng(seed);
        const auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
        const auto upTo = [&](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
        const auto rate = [&](double most) { return std::uniform_real_distribution<double>(0, most)(rng); };

        const int size = chance(0.1) ? 0 : chance(0.1) ? ModuleBytes : upTo(ModuleBytes);
        image.resize(static_cast<std::size_t>(size));
        for (auto& b : image)
            b = static_cast<std::uint8_t>(rng());

        device.pageWriteMs = upTo(5);
        device.eraseMs = upTo(50);
        device.replyDelayMs = upTo(3);
        device.lockDelayMs = upTo(30);
        device.coalesceLock = chance(0.3);
        if (chance(0.2))
            device.silentBurnEnables = upTo(3);
        if (chance(0.2))
            device.silentSearches = upTo(3);

        bool spoiled = false;
        if (chance(0.15)) {
            device.rejectPages.insert(chance(0.3) ? 127 : upTo(127));
            spoiled = true;
        }
        if (chance(0.1)) {
            device.lockBytes[static_cast<std::size_t>(upTo(2))] ^= static_cast<std::uint8_t>(1 + upTo(254));
            spoiled = true;
        }
        if (chance(0.05)) {
            device.withholdLocks = true;
            spoiled = true;
        }
        if (chance(0.05)) {
            device.closeAfterPage = upTo(126);
            spoiled = true;
        }

        line.replySlow = rate(0.2);
        line.replySplit = rate(0.3);
        line.garbageAtConnect = 0.3;
        const bool lossy = chance(0.5);
        if (lossy) {
            line.frameLost = rate(0.03);
            line.replyLost = rate(0.03);
            line.replyLate = rate(0.05);
            line.replyAtTimeOut = rate(0.02);
            line.garbageInHandshake = 0.2;
        }
        benign = !spoiled && !lossy;
    }
};

struct Rig : RunRig<FaultyLine> {
    Rig(const Schedule& schedule, std::uint64_t seed) : RunRig(schedule.device, schedule.line, seed)
    {
        // Hours of virtual time: far past any bounded run, so only a hang reaches it.
        events.limitMs = 6LL * 3600 * 1000;
        files.Put(run::ImageFileName, schedule.image);
    }
};

// What the device says about itself, without the run's code.
struct DeviceSide {
    bool storedWholeImage = false;
    bool refusedAPage = false;
    bool sentGoodLocks = false;
    bool closedTheLink = false;
};

DeviceSide Judge(const Rig& rig, const Schedule& schedule)
{
    std::vector<std::uint8_t> padded = schedule.image;
    padded.resize(ModuleBytes, 0);
    const auto& flash = rig.peer.device.Flash();
    const devsim::Counters& stats = rig.peer.device.Stats();
    DeviceSide side;
    side.storedWholeImage = std::equal(padded.begin(), padded.end(), flash.begin());
    side.refusedAPage = stats.pagesRejected > 0;
    side.sentGoodLocks = !schedule.device.withholdLocks && schedule.device.lockBytes == GoodLocks;
    side.closedTheLink = rig.peer.hungUp;
    return side;
}

}  // namespace

class RunPropertyTest : public QObject {
    Q_OBJECT
private slots:
    void verdictMatchesTheDevice();
};

void RunPropertyTest::verdictMatchesTheDevice()
{
    int programmed = 0;
    int failed = 0;
    int errors = 0;
    for (const std::uint64_t seed : schedules.seeds) {
        const Schedule schedule(seed);
        Rig rig(schedule, seed);
        const auto fail = [&](const char* what) {
            QFAIL(qPrintable(QStringLiteral("seed %1: %2; replay with --seed %1\nstatus text: %3")
                                 .arg(seed)
                                 .arg(QString::fromLatin1(what), rig.window.text)));
        };
        try {
            rig.run.Run();
        } catch (const std::exception& e) {
            fail(e.what());  // the fake event queue's verdict on a wait that never ends
            return;
        }
        // Every wait ends within its bound: the settling and connect waits,
        // then per frame its time-out and the two time-outs its owed replies may take.
        constexpr std::int64_t OpeningMs = 2 * 5000 + 5000;
        constexpr std::int64_t PerFrameMs = 3 * 5000;
        constexpr std::int64_t LockWaitsMs = 2 * 5000;
        if (rig.clock.Now() > OpeningMs + PerFrameMs * rig.peer.framesCarried + LockWaitsMs)
            return fail("a wait went past its bound");
        const DeviceSide device = Judge(rig, schedule);
        const run::Outcome& outcome = rig.run.LastOutcome();
        const bool saysProgrammed = rig.window.text.startsWith(QStringLiteral("       模块编程完毕!"));

        if (saysProgrammed != (outcome.verdict == run::Verdict::Programmed))
            return fail("the status text and the outcome disagree");
        if (saysProgrammed) {
            if (rig.window.text != Programmed)
                return fail("success shown with lock bytes other than AF DC CC");
            if (!device.storedWholeImage)
                return fail("success shown, but the device does not hold the image");
            if (device.refusedAPage)
                return fail("success shown, but the device refused a page");
            if (!device.sentGoodLocks)
                return fail("success shown, but the device never sent AF DC CC");
            if (device.closedTheLink)
                return fail("success shown after the device closed the link");
        }
        if (schedule.benign && !saysProgrammed)
            return fail("a good module on a clean line was not called programmed");
        if (outcome.verdict == run::Verdict::Stopped)
            return fail("the run stopped though nobody pressed Exit");
        (outcome.verdict == run::Verdict::Programmed ? programmed
         : outcome.verdict == run::Verdict::Failed   ? failed
                                                     : errors)++;
    }
    qInfo("%zu schedules: %d programmed, %d failed, %d ended by an error", schedules.seeds.size(), programmed, failed,
          errors);
}

int main(int argc, char* argv[])
{
    schedules = Schedules::FromArguments(argc, argv, 2000);
    RunPropertyTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_run_property.moc"
