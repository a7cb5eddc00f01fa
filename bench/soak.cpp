// Many whole runs from one real window (offscreen) against simulator processes
// that cycle through device faults: runs a minute, whether resident memory and
// open descriptors stay flat, and each fault's endings against the expected one.
//
// Usage: soak [runs] [--every N]   (default 500 runs, about an hour)
//        soak --quick              (20 runs, every fault at least once, about 2.5 minutes)

#include "launcher.h"
#include "platform/errors.h"
#include "platform/qt/progressbarwidget.h"
#include "platform/qt/qtfile.h"
#include "platform/qt/statusbarwidget.h"
#include "run/windowview.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <dirent.h>

using namespace modburn;
using run::Ending;

namespace {

const QString Good = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");

struct Fault {
    const char* name;
    QStringList options;
    Ending expected;
    bool oneShot;  // used up by one run, so every run gets a fresh simulator
};

const std::vector<Fault>& Faults()
{
    static const std::vector<Fault> faults{
        {"none", {}, Ending::Programmed, false},
        {"--reject-page 5", {"--reject-page", "5"}, Ending::PagesRefused, false},
        {"--withhold-lock", {"--withhold-lock"}, Ending::LocksMissing, false},
        {"--lock AF,DC,0C", {"--lock", "AF,DC,0C"}, Ending::LocksWrong, false},
        {"--silent-search 3", {"--silent-search", "3"}, Ending::Programmed, true},
        {"--drop-page-reply 9:1", {"--drop-page-reply", "9:1"}, Ending::Programmed, true},
        {"--late-page-reply 7:5003", {"--late-page-reply", "7:5003"}, Ending::Programmed, true},
        // The link is not reopened within a run: the next send fails.
        {"--close-after-page 40", {"--close-after-page", "40"}, Ending::LinkDropped, true},
        {"--coalesce-lock", {"--coalesce-lock"}, Ending::Programmed, false},
    };
    return faults;
}

// One cycle holds every fault; the slow ones (a dropped reply costs a 5 s
// time-out and a 10 s wait for the owed reply, a late one 5 s) come once.
constexpr std::array<int, 20> Cycle{0, 1, 2, 3, 4, 8, 7, 0, 5, 0, 1, 3, 4, 8, 0, 6, 7, 2, 0, 8};

// The report's columns: programmed, not programmed, stopped, ended by an error.
enum Column { Programmed, Failed, Stopped, Errored };

struct EndingInfo {
    const char* name;
    Column column;
};

const EndingInfo& Info(Ending e)
{
    static const std::map<Ending, EndingInfo> endings{
        {Ending::Busy, {"busy", Errored}},
        {Ending::Programmed, {"programmed", Programmed}},
        {Ending::PagesRefused, {"pages refused", Failed}},
        {Ending::LocksMissing, {"locks missing", Failed}},
        {Ending::LocksWrong, {"locks wrong", Failed}},
        {Ending::Unreachable, {"unreachable", Errored}},
        {Ending::LinkDropped, {"link dropped", Errored}},
        {Ending::ImageMissing, {"image missing", Errored}},
        {Ending::ImageUnreadable, {"image unreadable", Errored}},
        {Ending::ImageTooLarge, {"image too large", Errored}},
        {Ending::BadPort, {"bad port", Errored}},
        {Ending::StoppedByExit, {"stopped by Exit", Stopped}},
        {Ending::StoppedByOwner, {"stopped by owner", Stopped}},
        {Ending::Error, {"error", Errored}},
    };
    return endings.at(e);
}

// What a click on RUN does, with the outcome kept, which the window shows but
// hands to nobody: the window's kind of view, on the window's own parts.
run::Outcome RunAsClicked(Form1& form)
{
    run::WindowView view{form, *form.findChild<StatusBarWidget*>(QStringLiteral("StatusBar1")),
                         *form.findChild<ProgressBarWidget*>(QStringLiteral("PriProgressBar")), form.control()};
    const auto box = [&form](const char* name) {
        return form.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
    };
    return form.programmingRun().Run({box("IPaddr"), box("Port"), QtFileSystem().InCurrentDir(run::ImageFileName)},
                                     view);
}

long ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int OpenDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count - 1;  // the listing's own
}

struct Sample {
    int run;
    double seconds;
    long rssKb;
    int fds;
};

struct Tally {
    int runs = 0;
    std::array<int, 4> columns{};
    std::map<int, int> errors;  // run-time error number -> runs
    double seconds = 0;
};

class Soak {
public:
    Soak(int runs, int every) : runs_(runs), every_(every) {}

    bool Prepare()
    {
        QFile image(dir_.filePath(run::ImageFileName));
        if (!dir_.isValid() || !image.open(QIODevice::WriteOnly))
            return false;
        QByteArray bytes(8192, '\0');
        for (char& b : bytes)
            b = static_cast<char>(QRandomGenerator::global()->bounded(256));
        image.write(bytes);
        image.close();
        QDir::setCurrent(dir_.path());
        form_.show();
        form_.findChild<QLineEdit*>(QStringLiteral("IPaddr"))->setText(QStringLiteral("127.0.0.1"));
        return true;
    }

    // Each run starts from the event loop, as a click does in the program.
    void Start()
    {
        clock_.start();
        Note(0);
        QTimer::singleShot(0, [this] { Next(); });
    }

    int Report() const;

private:
    void Next()
    {
        if (done_ == runs_) {
            QApplication::exit(0);
            return;
        }
        const int index = Cycle[static_cast<std::size_t>(done_ % static_cast<int>(Cycle.size()))];
        if (!OneRun(index)) {
            QApplication::exit(1);
            return;
        }
        ++done_;
        if (done_ == 1 || done_ % every_ == 0 || done_ == runs_ || done_ == static_cast<int>(Cycle.size()))
            Note(done_);
        QTimer::singleShot(0, [this] { Next(); });
    }

    bool OneRun(int index)
    {
        const Fault& fault = Faults()[static_cast<std::size_t>(index)];
        auto& sim = simulators_[index];
        if (!sim || fault.oneShot) {
            sim = std::make_unique<devsim::Launcher>();
            QString error;
            if (!sim->Start(QStringLiteral(MODBURN_DEVSIM_PATH), fault.options, &error)) {
                std::fprintf(stderr, "simulator (%s) did not start: %s\n", fault.name, qPrintable(error));
                return false;
            }
        }
        form_.findChild<QLineEdit*>(QStringLiteral("Port"))->setText(QString::number(sim->Port()));

        QElapsedTimer took;
        took.start();
        const run::Outcome outcome = RunAsClicked(form_);  // returns when the run has ended
        const double seconds = took.elapsed() / 1e3;

        Tally& tally = tallies_[index];
        ++tally.runs;
        ++tally.columns[Info(outcome.ending).column];
        if (outcome.error != err::None)
            ++tally.errors[outcome.error];
        tally.seconds += seconds;

        const QString status = form_.StatusText();
        const bool textFits = !outcome.Programmed() || status == Good;
        if (outcome.ending != fault.expected || !textFits) {
            QString shown = status;
            shown.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
            const QString line =
                QStringLiteral("MISMATCH run %1 (%2): %3 (error %4), expected %5: \"%6\"")
                    .arg(done_ + 1)
                    .arg(QString::fromLatin1(fault.name), QString::fromLatin1(Info(outcome.ending).name))
                    .arg(static_cast<int>(outcome.error))
                    .arg(QString::fromLatin1(Info(fault.expected).name), shown);
            mismatches_ << line;
            std::printf("%s\n", qPrintable(line));
            std::fflush(stdout);
        }
        return true;
    }

    void Note(int run)
    {
        const Sample s{run, clock_.elapsed() / 1e3, ResidentKb(), OpenDescriptors()};
        samples_.push_back(s);
        const double perMinute = s.seconds > 0 ? run * 60.0 / s.seconds : 0.0;
        // Each simulator kept running holds a few pipes of ours.
        std::printf("  run %5d  %8.1f s  %6.1f runs/min  VmRSS %7ld kB  fds %4d  (%d simulators)\n", s.run, s.seconds,
                    perMinute, s.rssKb, s.fds, static_cast<int>(simulators_.size()));
        std::fflush(stdout);
    }

    const int runs_;
    const int every_;
    int done_ = 0;
    QTemporaryDir dir_;
    Form1 form_;
    std::map<int, std::unique_ptr<devsim::Launcher>> simulators_;
    std::map<int, Tally> tallies_;
    std::vector<Sample> samples_;
    QStringList mismatches_;
    QElapsedTimer clock_;
};

int Soak::Report() const
{
    std::printf("\n%-26s %5s %11s %7s %8s %6s  %-14s %7s\n", "fault", "runs", "programmed", "failed", "stopped",
                "error", "expected", "s/run");
    for (const auto& entry : tallies_) {
        const Fault& fault = Faults()[static_cast<std::size_t>(entry.first)];
        const Tally& t = entry.second;
        std::printf("%-26s %5d %11d %7d %8d %6d  %-14s %7.1f", fault.name, t.runs, t.columns[Programmed],
                    t.columns[Failed], t.columns[Stopped], t.columns[Errored], Info(fault.expected).name,
                    t.seconds / t.runs);
        for (const auto& [number, count] : t.errors)
            std::printf("  (error %d: %d)", number, count);
        std::printf("\n");
    }
    std::printf("%d mismatches\n", static_cast<int>(mismatches_.size()));
    for (const QString& line : mismatches_)
        std::printf("%s\n", qPrintable(line));

    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    std::printf("\n%d runs in %.0f s: %.1f runs/min\n", last.run, last.seconds,
                last.seconds > 0 ? last.run * 60.0 / last.seconds : 0.0);
    std::printf("VmRSS %ld kB -> %ld kB, fds %d -> %d (start -> end)\n", first.rssKb, last.rssKb, first.fds, last.fds);
    // Once every fault has had its simulator, the set of child processes and
    // their pipes stays the same: growth from there on is a leak.
    const int warm = static_cast<int>(Cycle.size());
    for (const Sample& s : samples_) {
        if (s.run == warm && last.run > warm) {
            const long grown = last.rssKb - s.rssKb;
            std::printf("since run %d: VmRSS %+ld kB (%.1f kB a run), fds %+d\n", warm, grown,
                        static_cast<double>(grown) / (last.run - warm), last.fds - s.fds);
        }
    }
    return mismatches_.isEmpty() ? 0 : 3;
}

int Usage()
{
    std::fprintf(stderr, "usage: soak [runs] [--every N] | soak --quick\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int runs = 500;
    int every = 0;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        bool ok = true;
        if (args[i] == QStringLiteral("--quick"))
            runs = static_cast<int>(Cycle.size());
        else if (args[i] == QStringLiteral("--every") && i + 1 < args.size())
            every = args[++i].toInt(&ok);
        else
            runs = args[i].toInt(&ok);
        if (!ok || runs < 1 || every < 0)
            return Usage();
    }
    if (every == 0)
        every = std::clamp(runs / 5, 10, 100);

    std::printf("soak: %d runs from one window against the simulator, %d faults in a cycle of %d\n", runs,
                static_cast<int>(Faults().size()), static_cast<int>(Cycle.size()));
    Soak soak(runs, every);
    if (!soak.Prepare()) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    soak.Start();
    if (QApplication::exec() != 0)
        return 1;
    return soak.Report();
}
