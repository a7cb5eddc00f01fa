// A device's programming run or font operation for the console, reporting
// every step and failure.

#include "cli/session.h"

#include "fontlib/fontlib.h"
#include "platform/serialport.h"
#include "platform/statusbar.h"
#include "run/reach.h"
#include "run/run.h"
#include "run/windowview.h"

#include <QStringList>

namespace modburn::cli {

namespace {

QString PageList(const std::vector<int>& pages)
{
    QStringList shown;
    for (int page : pages)
        shown << QString::number(page);
    return QStringLiteral("%1 %2 refused")
        .arg(pages.size() == 1 ? QStringLiteral("page") : QStringLiteral("pages"), shown.join(QStringLiteral(", ")));
}

// Why a connect did not come up, in a few words.
QString Unconnected(const ConnectFailure& failure)
{
    switch (failure.why) {
    case ConnectFailure::Why::Refused:
        return QStringLiteral("connection refused");
    case ConnectFailure::Why::HostNotFound:
        return QStringLiteral("host not found");
    case ConnectFailure::Why::Other:
        return QStringLiteral("connection failed: ") + failure.words;
    default:
        return QStringLiteral("no connection within the connect wait");
    }
}

QString Coded(const char* words, err::Number error)
{
    return QStringLiteral("%1 (error %2)").arg(QLatin1String(words)).arg(static_cast<int>(error));
}

}  // namespace

struct Session::State : run::IRunObserver, fontlib::IFontObserver {
    State(SessionParts p, Target t, EventSink s)
        : parts(std::move(p)), target(std::move(t)), sink(std::move(s)),
          run(OperationParts{parts.link, parts.control, serialPort, parts.files}),
          font(OperationParts{parts.link, parts.control, serialPort, parts.files})
    {
    }

    Event Make(EventKind kind, const QString& message = QString()) const
    {
        Event event;
        event.kind = kind;
        event.device = target.label;
        event.elapsedMs = parts.nowMs() - startedAt;
        event.message = message;
        return event;
    }
    // The window's status bar starts empty here, so the words are the panel.
    void Panel(const QString& words)
    {
        if (words == panel)
            return;
        panel = words;
        sink(Make(EventKind::Panel, words));
    }
    QString Unreachable(const ConnectFailure& failure, err::Number error) const
    {
        return QStringLiteral("unreachable: not connected to %1 port %2: %3 (error %4 at the first send)")
            .arg(target.address)
            .arg(target.port)
            .arg(Unconnected(failure))
            .arg(static_cast<int>(error));
    }
    static QString Dropped(std::int64_t bytesSent, err::Number error)
    {
        return QStringLiteral("link dropped after %1 bytes sent (error %2)")
            .arg(bytesSent)
            .arg(static_cast<int>(error));
    }

    void OnStep(const run::RunEvent& event) override;
    void OnEnd(const run::Outcome& outcome) override;
    void OnFontStep(const fontlib::FontEvent& event) override;
    Event Program(const QString& imagePath);
    Event Reach();
    Event Font(const Job& job);

    SessionParts parts;
    Target target;
    EventSink sink;
    SerialPortModel serialPort;
    run::ProgrammingRun run;
    fontlib::FontTransfer font;

    std::int64_t startedAt = 0;
    QString text;     // the designed status text
    QString panel;    // the designed status-bar text
    QString caption;  // the designed option caption
    int first = 0;
    std::optional<run::Step> lastPhase;  // of the last status line
};

void Session::State::OnStep(const run::RunEvent& event)
{
    if (event.step == run::Step::PageDone) {
        Event progress = Make(EventKind::Progress);
        progress.page = event.page;
        progress.percent = event.Percent();
        sink(progress);
        return;
    }
    const auto designed = run::StatusTextAfter(event, text);
    if (!designed)
        return;
    text = *designed;
    Event status = Make(EventKind::Status, text);
    status.phase = event.step;
    lastPhase = event.step;
    if (const auto percent = event.Percent()) {
        status.page = event.page;
        status.percent = percent;
    }
    sink(status);
}

void Session::State::OnEnd(const run::Outcome& outcome)
{
    if (const auto words = run::PanelWords(outcome.error))
        Panel(*words);
}

Event Session::State::Program(const QString& imagePath)
{
    using run::Ending;
    const run::Outcome outcome = run.Run({target.address, QString::number(target.port), imagePath}, *this);
    Event end = Make(EventKind::End);
    end.locks = outcome.locks;
    end.verdict = Verdict::Error;
    QStringList words;
    bool locksSaid = false;
    switch (outcome.ending) {
    case Ending::Programmed:
        end.verdict = Verdict::Programmed;
        break;
    case Ending::PagesRefused:
    case Ending::LocksMissing:
    case Ending::LocksWrong:
        end.verdict = Verdict::Failed;
        if (!outcome.refusedPages.empty())
            words << PageList(outcome.refusedPages);
        if (outcome.locksMissing) {
            words << QStringLiteral("no lock bytes after page 127");
        } else if (!outcome.wrongLocks.empty()) {
            words << QStringLiteral("lock bytes %1, expected %2")
                         .arg(LocksText(*outcome.locks), LocksText(run::ExpectedLocks));
            locksSaid = true;
        }
        break;
    case Ending::Busy:
    case Ending::StoppedByExit:
        end.verdict = Verdict::Stopped;
        words << QStringLiteral("stopped");
        break;
    case Ending::StoppedByOwner:
        end.verdict = Verdict::Stopped;
        words << QStringLiteral("last step: %1").arg(PhaseName(lastPhase));
        break;
    case Ending::Unreachable:
        words << Unreachable(outcome.connectFailure, outcome.error);
        break;
    case Ending::LinkDropped:
        words << Dropped(outcome.bytesSent, outcome.error);
        break;
    default:
        words << Coded(outcome.ending == Ending::ImageMissing      ? "file not found"
                       : outcome.ending == Ending::ImageUnreadable ? "file cannot be read"
                       : outcome.ending == Ending::ImageTooLarge   ? "image file larger than 8192 bytes"
                       : outcome.ending == Ending::BadPort         ? "invalid value (port or setting)"
                                                                   : "run-time error",
                       outcome.error);
        break;
    }
    if (outcome.ending != Ending::StoppedByOwner) {
        if (outcome.locks && !locksSaid)
            words << QStringLiteral("lock bytes %1").arg(LocksText(*outcome.locks));
        // The window keeps serial and link errors in its status bar; here they are said.
        if (!panel.isEmpty())
            words << QStringLiteral("status bar: ") + panel.trimmed();
    }
    end.message = words.join(QStringLiteral("; "));
    return end;
}

Event Session::State::Reach()
{
    using run::ReachEnding;
    const run::ReachOutcome outcome = run::Reach(OperationParts{parts.link, parts.control, serialPort, parts.files},
                                                 target.address, QString::number(target.port));
    Event end = Make(EventKind::End);
    end.verdict = Verdict::Unreachable;
    switch (outcome.ending) {
    case ReachEnding::Reachable:
        end.verdict = Verdict::Reachable;
        end.message = QStringLiteral("connected, and closed without sending a byte");
        break;
    case ReachEnding::Unreachable:
        end.message = Unconnected(outcome.failure);
        break;
    case ReachEnding::Busy:
    case ReachEnding::StoppedByOwner:
        end.verdict = Verdict::Stopped;
        end.message = QStringLiteral("stopped");
        break;
    default:
        end.verdict = Verdict::Error;
        end.message =
            Coded(outcome.ending == ReachEnding::BadPort ? "invalid value (port or setting)" : "run-time error",
                  outcome.error);
        break;
    }
    return end;
}

void Session::State::OnFontStep(const fontlib::FontEvent& event)
{
    switch (event.step) {
    case fontlib::FontStep::PageStored: {
        Event progress = Make(EventKind::Progress);
        progress.page = first + event.index;
        progress.percent = event.Percent();
        sink(progress);
        break;
    }
    case fontlib::FontStep::PageRefused:
        Panel(fontlib::PageRefused);
        return;
    case fontlib::FontStep::NoAnswer:
        Panel(fontlib::NoAnswer);
        return;
    default:
        break;
    }
    const auto designed = fontlib::CaptionAfter(event);
    if (designed && *designed != caption) {
        caption = *designed;
        sink(Make(EventKind::Caption, caption));
    }
}

Event Session::State::Font(const Job& job)
{
    using fontlib::FontEnding;
    first = job.firstPage;
    // As a run opens it: the settling wait, then the connect wait.
    const fontlib::Endpoint endpoint{target.address, QString::number(target.port)};
    const bool download = job.kind == Job::Kind::FontDownload;
    const fontlib::FontOutcome outcome =
        download ? font.DownChar(job.fontName, job.firstPage, job.lastPage, *this, &endpoint)
                 : font.CheckChar(job.checksum, job.firstPage, job.lastPage, *this, &endpoint);
    Event end = Make(EventKind::End);
    end.verdict = Verdict::Error;
    switch (outcome.ending) {
    case FontEnding::Verified:
        end.verdict = download ? Verdict::Verified : Verdict::Match;
        end.message = QStringLiteral("the device's sum matches");
        break;
    case FontEnding::SumDiffers:
    case FontEnding::PageRefused:
    case FontEnding::NoAnswer:
        end.verdict = download ? Verdict::Failed : Verdict::Mismatch;
        end.message = outcome.ending == FontEnding::PageRefused
                          ? QStringLiteral("a page was refused (status bar:%1)").arg(fontlib::PageRefused)
                      : outcome.ending == FontEnding::NoAnswer
                          ? QStringLiteral("the device did not answer in time (status bar:%1)").arg(fontlib::NoAnswer)
                          : QStringLiteral("the device's sum differs");
        break;
    case FontEnding::Busy:
        end.verdict = Verdict::Stopped;
        end.message = QStringLiteral("stopped");
        break;
    case FontEnding::StoppedByOwner:
        end.verdict = Verdict::Stopped;
        end.message = outcome.lastPage ? QStringLiteral("last page: %1").arg(*outcome.lastPage)
                                       : QStringLiteral("before any page");
        break;
    case FontEnding::Unreachable:
        end.message = Unreachable(outcome.connectFailure, outcome.error);
        break;
    case FontEnding::LinkDropped:
        end.message = Dropped(outcome.bytesSent, outcome.error);
        break;
    default:
        end.message = Coded(outcome.ending == FontEnding::FileMissing      ? "file not found"
                            : outcome.ending == FontEnding::FileUnreadable ? "file cannot be read"
                            : outcome.ending == FontEnding::OutOfRange     ? "value out of range"
                                                                           : "run-time error",
                            outcome.error);
        break;
    }
    return end;
}

Session::Session(SessionParts parts, Target target, EventSink sink)
    : s_(std::make_unique<State>(std::move(parts), std::move(target), std::move(sink)))
{
}

Session::~Session() = default;

Event Session::Perform(const Job& job)
{
    State& s = *s_;
    s.startedAt = s.parts.nowMs();
    const QString where = QStringLiteral("%1 port %2").arg(s.target.address).arg(s.target.port);
    const QString pages = QStringLiteral("pages %1..%2 at ").arg(job.firstPage).arg(job.lastPage) + where;
    switch (job.kind) {
    case Job::Kind::Program:
    case Job::Kind::Reach:
        s.sink(s.Make(EventKind::Start, where));
        break;
    case Job::Kind::FontDownload:
        s.sink(s.Make(EventKind::Start, QStringLiteral("download %1.bin into ").arg(job.fontName) + pages));
        break;
    case Job::Kind::FontCheck:
        s.sink(s.Make(EventKind::Start, QStringLiteral("check sum %1 of ").arg(job.checksum) + pages));
        break;
    }
    // Unlike the window, a link that closes under the job ends it at once.
    s.parts.control.SetEndOnDroppedLink(true);
    Event end = job.kind == Job::Kind::Program ? s.Program(job.imagePath)
                : job.kind == Job::Kind::Reach ? s.Reach()
                                               : s.Font(job);
    s.sink(end);
    return end;
}

}  // namespace modburn::cli
