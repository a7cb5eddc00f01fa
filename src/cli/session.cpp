// The per-device worker: the window's programming run with console stand-ins
// for the window, reporting every step and failure.

#include "cli/session.h"

#include "frame/frame.h"
#include "link/link.h"
#include "platform/serialport.h"
#include "run/run.h"
#include "ui/windowrules.h"

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

}  // namespace

struct DeviceSession::State : run::IRunWindow {
    State(SessionParts p, Target t, EventSink s)
        : parts(std::move(p)), target(std::move(t)), sink(std::move(s)), socket(parts.tcp),
          link(socket, parts.udp, parts.timer1, parts.timer4, parts.events),
          statusBar([this](const QString& text) { OnPanel(text); }),
          progressBar([this](float value) { OnProgress(value); }), rules(link, serialPort, statusBar),
          run(run::RunParts{link, serialPort, statusBar, progressBar, parts.files, *this})
    {
    }

    // The window as the run sees it.
    QString StatusText() const override { return text; }
    void SetStatusText(const QString& newText) override;
    void SetPrintDevCheck(int) override {}
    QString IPaddrText() const override { return target.address; }
    QString PortText() const override { return QString::number(target.port); }
    void SetRunButtonEnabled(bool) override {}
    void Unload() override { rules.Unload(); }

    Event Make(EventKind kind) const
    {
        Event event;
        event.kind = kind;
        event.device = target.label;
        event.elapsedMs = parts.nowMs() - startedAt;
        return event;
    }
    void OnPanel(const QString& panelText);
    void OnProgress(float value);
    Event Finish();

    SessionParts parts;
    Target target;
    EventSink sink;
    WatchedSocket socket;
    Link link;
    SerialPortModel serialPort;
    PanelBar statusBar;
    ReportingBar progressBar;
    WindowRules rules;
    run::ProgrammingRun run;

    std::int64_t startedAt = 0;
    QString text;
    int nextPage = 0;
    Phase lastPhase = Phase::None;
    std::vector<int> refusedPages;
    bool stopped = false;
    bool ran = false;
};

void DeviceSession::State::SetStatusText(const QString& newText)
{
    text = newText;
    const Step step = ClassifyStatus(text, nextPage);
    lastPhase = step.phase;
    if (step.phase == Phase::PageRejected && step.page)
        refusedPages.push_back(*step.page);
    Event event = Make(EventKind::Status);
    event.phase = step.phase;
    event.page = step.page;
    if (step.page)
        event.percent = *step.page * 100 / frame::ModulePages;
    event.message = text;
    sink(event);
}

void DeviceSession::State::OnPanel(const QString& panelText)
{
    Event event = Make(EventKind::Panel);
    event.message = panelText;
    sink(event);
}

void DeviceSession::State::OnProgress(float value)
{
    const int page = PageOfBar(value - progressBar.Min(), progressBar.Max() - progressBar.Min(), frame::ModulePages);
    nextPage = page + 1;
    Event event = Make(EventKind::Progress);
    event.page = page;
    event.percent = static_cast<int>((value - progressBar.Min()) * 100 / (progressBar.Max() - progressBar.Min()));
    sink(event);
}

Event DeviceSession::State::Finish()
{
    const run::Outcome& outcome = run.LastOutcome();
    Event end = Make(EventKind::End);
    end.locks = outcome.locks;
    QStringList words;
    bool locksSaid = false;
    switch (ran ? outcome.verdict : run::Verdict::Stopped) {
    case run::Verdict::Programmed:
        end.verdict = Verdict::Programmed;
        break;
    case run::Verdict::Failed:
        end.verdict = Verdict::Failed;
        if (!refusedPages.empty())
            words << PageList(refusedPages);
        if (lastPhase == Phase::NoLockBytes) {
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
        words << DescribeError(outcome.error, socket.BytesSent(), target);
        break;
    }
    if (outcome.locks && !locksSaid)
        words << QStringLiteral("lock bytes %1").arg(LocksText(*outcome.locks));
    // The window keeps serial and link errors in its status bar; here they are said.
    if (!statusBar.PanelText(IStatusBar::FirstPanel).isEmpty())
        words << QStringLiteral("status bar: ") + statusBar.PanelText(IStatusBar::FirstPanel).trimmed();
    end.message = words.join(QStringLiteral("; "));
    return end;
}

DeviceSession::DeviceSession(SessionParts parts, Target target, EventSink sink)
    : s_(std::make_unique<State>(std::move(parts), std::move(target), std::move(sink)))
{
}

DeviceSession::~DeviceSession() = default;

Event DeviceSession::Run()
{
    State& s = *s_;
    s.startedAt = s.parts.nowMs();
    Event start = s.Make(EventKind::Start);
    start.message = QStringLiteral("%1 port %2").arg(s.target.address).arg(s.target.port);
    s.sink(start);

    // What the window does when it loads: runs allowed, sockets set up, timers on.
    s.rules.Load();
    if (!s.stopped) {
        s.ran = true;
        s.run.Run();
    }
    Event end = s.Finish();
    s.sink(end);
    return end;
}

void DeviceSession::Stop()
{
    // What closing the window does: the serial port closes and every wait unwinds.
    s_->stopped = true;
    s_->rules.Unload();
}

}  // namespace modburn::cli
