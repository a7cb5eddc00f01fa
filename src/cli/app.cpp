// The command dispatch: parse, check, resolve, then program a fleet or run a
// font operation on the main thread, reporting as chosen.

#include "cli/app.h"

#include "cli/files.h"
#include "cli/fleet.h"
#include "cli/options.h"
#include "cli/render.h"
#include "cli/session.h"
#include "cli/targets.h"
#include "link/qt/qtlinkparts.h"
#include "platform/qt/process.h"
#include "platform/qt/qtfile.h"
#include "platform/text.h"
#include "run/run.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <sys/ioctl.h>
#include <unistd.h>

namespace modburn::cli {

namespace {

constexpr int RedrawMs = 100;

void Write(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int Usage(const QString& message)
{
    Write(stderr, QStringLiteral("modburn-cli: %1\nTry 'modburn-cli --help'.\n").arg(message).toUtf8());
    return ExitUsage;
}

int Refuse(const QString& message)
{
    Write(stderr, QStringLiteral("modburn-cli: %1; nothing was sent\n").arg(message).toUtf8());
    return ExitUsage;
}

TerminalSize StdoutSize()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return {};
    return {size.ws_col, size.ws_row};
}

// The reporter for the chosen output, redrawn about ten times a second while it lives.
struct Output {
    Output(bool json, RunRecord record)
        : reporter(
              json                      ? OutputMode::Json
              : ::isatty(STDOUT_FILENO) ? OutputMode::Terminal
                                        : OutputMode::Plain,
              [](const QByteArray& bytes) { Write(stdout, bytes); },
              [](const QByteArray& bytes) { Write(stderr, bytes); }, StdoutSize, std::move(record))
    {
        QObject::connect(&redraw, &QTimer::timeout, &redraw, [this] { reporter.Tick(); });
        redraw.start(RedrawMs);
    }
    Reporter reporter;
    QTimer redraw;
};

// What a signal does: nothing until there is work to stop. A second signal
// while the work winds down ends the program outright.
struct Interrupts {
    bool signalled = false;
    std::function<void()> stop;

    void Signal()
    {
        if (signalled)
            std::_Exit(ExitInterrupted);
        signalled = true;
        if (stop)
            stop();
    }

    // `stop` stops the work for as long as the returned guard lives, and not
    // after: the work it names goes with the guard's scope.
    struct Guard {
        Interrupts& interrupts;
        ~Guard() { interrupts.stop = nullptr; }
    };
    [[nodiscard]] Guard StopWith(std::function<void()> onSignal)
    {
        stop = std::move(onSignal);
        return {*this};
    }
};

int Program(const CommandLine& line, const std::vector<Target>& targets, Interrupts& interrupts)
{
    const QString imagePath =
        QFileInfo(line.image.value_or(QDir::current().filePath(run::ImageFileName))).absoluteFilePath();
    // The image as it is now, so a report can be matched to the file that went out.
    QByteArray image;
    if (const auto why = CheckReadableFile(imagePath, MaxImageBytes, &image))
        return Refuse(QStringLiteral("image ") + *why);
    const RunRecord record{ToolVersion(),
                           QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()),
                           image.size()};
    RaiseDescriptorLimit();

    Output output(line.json, record);
    Fleet fleet(targets, imagePath, output.reporter);
    const auto stopping = interrupts.StopWith([&fleet] { fleet.Interrupt(); });
    QObject::connect(
        &fleet, &Fleet::Finished, &fleet, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    fleet.Start(line.giveUpAfterS);
    if (!fleet.Done())
        QCoreApplication::exec();
    return fleet.ExitCode();
}

int FontOperation(const CommandLine& line, const Target& target, Interrupts& interrupts)
{
    QtFileSystem files;
    if (line.command == Command::FontDownload) {
        // Where the download will look for it: the working folder.
        const QString path = files.InCurrentDir(TrimBlanks(line.fontName) + QStringLiteral(".bin"));
        if (const auto why = CheckReadableFile(path, -1))
            return Refuse(QStringLiteral("font library ") + *why);
    }

    Output output(line.json, RunRecord{ToolVersion(), {}, {}});
    QtLinkParts device;
    QElapsedTimer clock;
    clock.start();
    const auto sink = [&output](const Event& event) { output.reporter.OnEvent(event); };
    Session session({device.link, device.control, files, [&clock] { return clock.elapsed(); }}, target, sink);
    // The operation runs here, on the main thread; signals and redraws come
    // in through the link's own yields.
    const auto stopping = interrupts.StopWith([&session] { session.Stop(Verdict::Interrupted); });

    output.reporter.Begin({target.label});
    Event end = line.command == Command::FontDownload ? session.Download(line.fontName, line.firstPage, line.lastPage)
                                                      : session.Check(line.checksum, line.firstPage, line.lastPage);
    Event summary = end;
    summary.kind = EventKind::Summary;
    summary.elapsedMs = clock.elapsed();
    output.reporter.Finish({end}, summary);
    if (end.verdict == Verdict::Interrupted)
        return ExitInterrupted;
    return end.verdict == Verdict::Verified || end.verdict == Verdict::Match ? ExitDone : ExitFailed;
}

}  // namespace

int Main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modburn-cli"));
    // A reader that goes away must not end runs half-way.
    std::signal(SIGPIPE, SIG_IGN);
    // From the start, so that even an early Ctrl-C ends in a summary: the
    // signal waits in the pipe until the work's first yield.
    Interrupts interrupts;
    const SignalWatch watch([&interrupts](int) { interrupts.Signal(); });

    const ParseResult parsed = ParseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.error.isEmpty())
        return Usage(parsed.error);
    const CommandLine& line = parsed.line;
    if (line.command == Command::Help) {
        Write(stdout, HelpText().toUtf8());
        return ExitDone;
    }
    if (line.command == Command::Version) {
        Write(stdout, VersionText().toUtf8());
        return ExitDone;
    }

    const Targets resolved = ResolveDevices(line.devices, SystemResolve);
    if (!resolved.error.isEmpty())
        return Refuse(resolved.error);
    if (line.command == Command::Program)
        return Program(line, resolved.targets, interrupts);
    return FontOperation(line, resolved.targets.front(), interrupts);
}

}  // namespace modburn::cli
