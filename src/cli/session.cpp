// A device's programming run or font operation for the console, reporting
// every step and failure.

#include "cli/session.h"

#include "fontlib/fontlib.h"
#include "frame/frame.h"
#include "platform/statusbar.h"
#include "run/run.h"
#include "run/windowview.h"

#include <QStringList>

#include <map>

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

int Percent(int done, int of)
{
    return of == 0 ? 100 : done * 100 / of;
}

}  // namespace

struct Session::State : run::IRunObserver, fontlib::IFontObserver {
    State(SessionParts p, Target t, EventSink s)
        : parts(std::move(p)), target(std::move(t)), sink(std::move(s)),
          run(run::RunParts{parts.link, parts.control, serialPort, parts.files}),
          font(fontlib::FontParts{parts.link, parts.control, serialPort, parts.files})
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
    void Begin(const QString& what)
    {
        startedAt = parts.nowMs();
        sink(Make(EventKind::Start, what));
        // What the window does when it loads: runs allowed, timers on.
        LoadLink(parts.link, parts.control);
    }
    // The window's status bar starts empty here, so the words are the panel.
    void Panel(const QString& words)
    {
        if (words == panel)
            return;
        panel = words;
        sink(Make(EventKind::Panel, words));
    }

    void OnStep(const run::RunEvent& event) override;
    void OnEnd(const run::Outcome& outcome) override;
    void OnFontStep(const fontlib::FontEvent& event) override;
    Event Finish(const run::Outcome& outcome);
    // A stop asked for with a reason: the end names it and how far the work got.
    void SayWhyStopped(Event& end) const;
    // Starts a font operation on pages first..last, `what` saying which, and
    // ends it with `yes` or `no` as it answers.
    Event PerformFont(const QString& what, int firstPage, int lastPage, const std::function<bool(State&)>& operation,
                      Verdict yes, Verdict no);

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
    std::optional<fontlib::FontStep> fontFailure;
    bool stopped = false;
    Verdict stopReason = Verdict::Stopped;
    bool fontOperation = false;
    std::optional<run::Step> lastPhase;  // of the last status line
    std::optional<int> lastPage;         // of the last progress
};

void Session::State::SayWhyStopped(Event& end) const
{
    if (end.verdict != Verdict::Stopped || stopReason == Verdict::Stopped)
        return;
    end.verdict = stopReason;
    if (!fontOperation)
        end.message = QStringLiteral("last step: %1").arg(PhaseName(lastPhase));
    else
        end.message = lastPage ? QStringLiteral("last page: %1").arg(*lastPage) : QStringLiteral("before any page");
}

void Session::State::OnStep(const run::RunEvent& event)
{
    switch (event.step) {
    case run::Step::PageDone: {
        Event progress = Make(EventKind::Progress);
        progress.page = event.page;
        progress.percent = event.page * 100 / frame::ModulePages;
        lastPage = event.page;
        sink(progress);
        return;
    }
    case run::Step::LinkClosed:
        // The window waits out its time-out and fails on the next send; a
        // fleet is told at once.
        parts.control.Shutdown(err::SocketBadState);
        return;
    default:
        break;
    }
    const auto designed = run::StatusTextAfter(event, text);
    if (!designed)
        return;
    text = *designed;
    Event status = Make(EventKind::Status, text);
    status.phase = event.step;
    lastPhase = event.step;
    const bool paged = event.step == run::Step::PageAccepted || event.step == run::Step::PageRefused ||
                       event.step == run::Step::PageSentAgain || event.step == run::Step::LocksMissing;
    if (paged) {
        status.page = event.page;
        status.percent = event.page * 100 / frame::ModulePages;
    }
    sink(status);
}

void Session::State::OnEnd(const run::Outcome& outcome)
{
    if (const auto words = run::PanelWords(outcome.error))
        Panel(*words);
}

Event Session::State::Finish(const run::Outcome& outcome)
{
    Event end = Make(EventKind::End);
    end.locks = outcome.locks;
    QStringList words;
    bool locksSaid = false;
    switch (outcome.verdict) {
    case run::Verdict::Programmed:
        end.verdict = Verdict::Programmed;
        break;
    case run::Verdict::Failed:
        end.verdict = Verdict::Failed;
        if (!outcome.refusedPages.empty())
            words << PageList(outcome.refusedPages);
        if (outcome.locksMissing) {
            words << QStringLiteral("no lock bytes after page %1").arg(frame::ModulePages - 1);
        } else if (outcome.locks &&
                   !frame::LocksExpected((*outcome.locks)[0], (*outcome.locks)[1], (*outcome.locks)[2])) {
            words << QStringLiteral("lock bytes %1, expected %2")
                         .arg(LocksText(*outcome.locks), LocksText(frame::ExpectedLocks));
            locksSaid = true;
        }
        break;
    case run::Verdict::Stopped:
    case run::Verdict::NotRun:
        end.verdict = Verdict::Stopped;
        words << QStringLiteral("stopped");
        break;
    case run::Verdict::Error:
        end.verdict = outcome.error == err::WindowClosed ? Verdict::Stopped : Verdict::Error;
        words << DescribeError(outcome.error, outcome.connected, outcome.bytesSent, target);
        break;
    }
    if (outcome.locks && !locksSaid)
        words << QStringLiteral("lock bytes %1").arg(LocksText(*outcome.locks));
    // The window keeps serial and link errors in its status bar; here they are said.
    if (!panel.isEmpty())
        words << QStringLiteral("status bar: ") + panel.trimmed();
    end.message = words.join(QStringLiteral("; "));
    SayWhyStopped(end);
    return end;
}

void Session::State::OnFontStep(const fontlib::FontEvent& event)
{
    switch (event.step) {
    case fontlib::FontStep::PageStored: {
        Event progress = Make(EventKind::Progress);
        progress.page = first + event.index;
        progress.percent = Percent(event.index, event.pagesAfterFirst);
        lastPage = progress.page;
        sink(progress);
        break;
    }
    case fontlib::FontStep::PageRefused:
        fontFailure = event.step;
        Panel(fontlib::PageRefused);
        return;
    case fontlib::FontStep::NoAnswer:
        fontFailure = event.step;
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

Event Session::State::PerformFont(const QString& what, int firstPage, int lastPage,
                                  const std::function<bool(State&)>& operation, Verdict yes, Verdict no)
{
    first = firstPage;
    fontOperation = true;
    Begin(QStringLiteral("%1 pages %2..%3 at %4 port %5")
              .arg(what)
              .arg(firstPage)
              .arg(lastPage)
              .arg(target.address)
              .arg(target.port));
    Event end;
    try {
        if (stopped)
            throw RuntimeError(err::WindowClosed, "stopped");
        // As a run opens it: the settling wait, then the connect wait.
        parts.link.Open(target.address, QString::number(target.port));
        const bool result = operation(*this);
        end = Make(EventKind::End);
        end.verdict = result ? yes : no;
        if (fontFailure == fontlib::FontStep::PageRefused)
            end.message = QStringLiteral("a page was refused (status bar:%1)").arg(fontlib::PageRefused);
        else if (fontFailure == fontlib::FontStep::NoAnswer)
            end.message = QStringLiteral("the device did not answer in time (status bar:%1)").arg(fontlib::NoAnswer);
        else if (!result)
            end.message = QStringLiteral("the device's sum differs");
        else
            end.message = QStringLiteral("the device's sum matches");
    } catch (const RuntimeError& error) {
        end = Make(EventKind::End);
        end.verdict = error.Number() == err::WindowClosed ? Verdict::Stopped : Verdict::Error;
        end.message = DescribeError(error.Number(), parts.link.EverConnected(), parts.link.BytesSent(), target);
    }
    SayWhyStopped(end);
    sink(end);
    return end;
}

Session::Session(SessionParts parts, Target target, EventSink sink)
    : s_(std::make_unique<State>(std::move(parts), std::move(target), std::move(sink)))
{
}

Session::~Session() = default;

Event Session::Program(const QString& imagePath)
{
    State& s = *s_;
    s.Begin(QStringLiteral("%1 port %2").arg(s.target.address).arg(s.target.port));
    const run::Outcome outcome =
        s.stopped ? run::Outcome{} : s.run.Run({s.target.address, QString::number(s.target.port), imagePath}, s);
    Event end = s.Finish(outcome);
    s.sink(end);
    return end;
}

Event Session::Download(const QString& name, std::int16_t first, std::int16_t last)
{
    return s_->PerformFont(
        QStringLiteral("download %1.bin into").arg(name), first, last,
        [&](State& s) { return s.font.DownChar(name, first, last, s); }, Verdict::Verified, Verdict::Failed);
}

Event Session::Check(std::int32_t checksum, std::int16_t first, std::int16_t last)
{
    const double sum = checksum;
    return s_->PerformFont(
        QStringLiteral("check sum %1 of").arg(checksum), first, last,
        [&](State& s) { return s.font.CheckChar(sum, first, last, s); }, Verdict::Match, Verdict::Mismatch);
}

void Session::Stop(Verdict reason)
{
    s_->stopReason = reason;
    // What closing the window does: every wait unwinds.
    s_->stopped = true;
    s_->parts.control.Shutdown();
}

QString DescribeError(err::Number number, bool connected, std::int64_t bytesSent, const Target& target)
{
    const QString code = QStringLiteral(" (error %1)").arg(static_cast<int>(number));
    switch (number) {
    case err::None:
        return {};
    case err::WindowClosed:
        return QStringLiteral("stopped");
    case err::SocketBadState:
        if (!connected)
            return QStringLiteral(
                       "unreachable: not connected to %1 port %2 after the connect wait (error %3 at the first send)")
                .arg(target.address)
                .arg(target.port)
                .arg(static_cast<int>(number));
        return QStringLiteral("link dropped after %1 bytes sent").arg(bytesSent) + code;
    case err::SubscriptOutOfRange:
        // Nothing sent yet: the image read is what ran past its end.
        return (bytesSent == 0 ? QStringLiteral("image file larger than 8192 bytes")
                               : QStringLiteral("subscript out of range")) +
               code;
    default:
        break;
    }
    static const std::map<err::Number, const char*> words{
        {err::SocketInvalidOperation, "socket refused the operation"},
        {err::FileNotFound, "file not found"},
        {err::FileAccess, "file cannot be read"},
        {err::TypeMismatch, "invalid value (port or setting)"},
        {err::InvalidPropertyValue, "invalid value (port or setting)"},
        {err::Overflow, "value out of range"},
        {err::CommInvalidPort, "serial port: invalid port number"},
        {err::CommPortOpen, "serial port: already open"},
        {err::LinkBusy, "link busy with another operation"},
    };
    // Numbers added later still get reported.
    const auto found = words.find(number);
    return QString::fromLatin1(found == words.end() ? "run-time error" : found->second) + code;
}

}  // namespace modburn::cli
