// The command dispatch: parse, check, resolve, then do the job on every
// device at once, reporting as chosen.

#include "cli/app.h"

#include "cli/files.h"
#include "cli/fleet.h"
#include "cli/options.h"
#include "cli/render.h"
#include "cli/targets.h"
#include "platform/qt/process.h"
#include "platform/qt/qtfile.h"
#include "platform/text.h"
#include "run/run.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

namespace modburn::cli {

namespace {

constexpr std::chrono::milliseconds RedrawInterval{100};

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
        redraw.start(RedrawInterval);
    }
    Reporter reporter;
    QTimer redraw;
};

// What a signal does: nothing until there is work to stop. A second signal
// while the work winds down ends the program outright.
struct Interrupts {
    bool signalled = false;
    Fleet* fleet = nullptr;  // the work, while it lives

    void Signal()
    {
        if (signalled)
            std::_Exit(ExitInterrupted);
        signalled = true;
        if (fleet)
            fleet->Interrupt();
    }
};

int ExitStatusFor(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Programmed:
    case Verdict::Reachable:
    case Verdict::Verified:
    case Verdict::Match:
        return ExitDone;
    case Verdict::GaveUp:
        return ExitGaveUp;
    case Verdict::Interrupted:
        return ExitInterrupted;
    default:
        return ExitFailed;
    }
}

// Checks the job's file, then does the job on every device at once.
int Perform(const CommandLine& line, const std::vector<Target>& targets, Interrupts& interrupts)
{
    Job job{Job::Kind::Program, {}, {}, line.fontName, line.checksum, line.firstPage, line.lastPage};
    RunRecord record{ToolVersion(), {}, {}, {}, {}};
    switch (line.command) {
    case Command::Program: {
        job.kind = line.dryRun ? Job::Kind::Reach : Job::Kind::Program;
        const bool fromStdin = line.image == QStringLiteral("-");
        job.imagePath =
            fromStdin ? QStringLiteral("standard input")
                      : QFileInfo(line.image.value_or(QDir::current().filePath(run::ImageFileName))).absoluteFilePath();
        // Read once, here: the runs send these bytes, so a report matches what went out.
        QByteArray file;
        if (const auto why = fromStdin ? ReadStandardInput(image::MaxFileBytes, &file)
                                       : CheckReadableFile(job.imagePath, image::MaxFileBytes, &file))
            return Refuse(QStringLiteral("image ") + *why);
        // A Ctrl-C that ended the pipe's writer ends the command rather than leave a short image.
        QCoreApplication::processEvents();
        if (interrupts.signalled) {
            Write(stderr, "modburn-cli: interrupted; nothing was sent\n");
            return ExitInterrupted;
        }
        const image::LoadResult loaded = image::Load(file, line.format);
        if (!loaded.image)
            return Refuse(QStringLiteral("image %1: %2").arg(job.imagePath, loaded.error));
        job.image = QByteArray(reinterpret_cast<const char*>(loaded.image->flash.data()), loaded.image->length);
        record.imageSha256 = loaded.image->sha256;
        record.imageBytes = loaded.image->length;
        record.imageFormat = image::FormatName(loaded.image->format);
        record.fileSha256 = QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
        break;
    }
    case Command::FontDownload: {
        job.kind = Job::Kind::FontDownload;
        // Where the download will look for it: the working folder.
        const QString path = QtFileSystem().InCurrentDir(TrimBlanks(line.fontName) + QStringLiteral(".bin"));
        if (const auto why = CheckReadableFile(path, -1))
            return Refuse(QStringLiteral("font library ") + *why);
        break;
    }
    default:
        job.kind = Job::Kind::FontCheck;
        break;
    }
    RaiseDescriptorLimit();

    Output output(line.json, record);
    Fleet fleet(targets, job, output.reporter);
    interrupts.fleet = &fleet;
    const auto forget = qScopeGuard([&interrupts] { interrupts.fleet = nullptr; });
    QObject::connect(
        &fleet, &Fleet::Finished, &fleet, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    fleet.Start(line.giveUpAfterS);
    if (!fleet.Done())
        QCoreApplication::exec();
    return ExitStatusFor(fleet.Outcome());
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

    // The preflight reports a name that does not resolve, as it reports any device it cannot reach.
    const Targets resolved = ResolveDevices(line.devices, SystemResolve, line.dryRun);
    if (!resolved.error.isEmpty())
        return Refuse(resolved.error);
    return Perform(line, resolved.targets, interrupts);
}

}  // namespace modburn::cli
