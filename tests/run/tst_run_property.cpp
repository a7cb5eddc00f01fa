// Whole runs against a device and a line that combine faults at random, each
// judged from the device's side: the verdict shown must match what the device
// actually stored and answered, both ways, and no run may hang. A failing
// schedule prints its seed; `--seed S` replays it, `--count N` searches longer.

#include "faultyline.h"
#include "runrig.h"
#include "runschedule.h"
#include "schedules.h"

#include "run/run.h"

#include <QtTest>

using namespace modburn;
using namespace modburn::fake;

namespace {

Schedules schedules;

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
        SeededDecisions decide(seed);
        const RunSchedule schedule(decide);
        RunRig<FaultyLine> rig(schedule.device, schedule.line, schedule.lineSeed);
        // Hours of virtual time: far past any bounded run, so only a hang reaches it.
        rig.events.limitMs = 6LL * 3600 * 1000;
        rig.peer.script = schedule.script;
        rig.files.Put(run::ImageFileName, schedule.image);

        RunSeen seen;
        run::Outcome outcome;
        try {
            outcome = rig.Press();
        } catch (const std::exception&) {
            seen.hung = true;  // the fake event queue's verdict on a wait that never ends
        }
        seen.statusText = rig.window.text;
        seen.outcomeProgrammed = outcome.Programmed();
        seen.outcomeStopped = outcome.ending == run::Ending::StoppedByExit;
        seen.elapsedMs = rig.clock.Now();
        const std::string broken = BrokenPromise(schedule, rig.peer, seen);
        if (!broken.empty()) {
            QFAIL(qPrintable(QStringLiteral("seed %1: %2; replay with --seed %1\nstatus text: %3")
                                 .arg(seed)
                                 .arg(QString::fromStdString(broken), rig.window.text)));
        }
        // Not programmed, yet no run-time error: a page refused, or the lock bytes.
        (outcome.Programmed() ? programmed : outcome.error == err::None ? failed : errors)++;
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
