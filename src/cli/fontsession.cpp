// The font operations on one link, reporting captions, pages and failures.

#include "cli/fontsession.h"

#include "fontlib/fontlib.h"
#include "link/link.h"
#include "platform/serialport.h"
#include "ui/windowrules.h"

#include <functional>

namespace modburn::cli {

struct FontSession::State : fontlib::IFontWindow {
    State(SessionParts p, Target t, EventSink s)
        : parts(std::move(p)), target(std::move(t)), sink(std::move(s)), socket(parts.tcp),
          link(socket, parts.udp, parts.timer1, parts.timer4, parts.events),
          statusBar([this](const QString& text) { Report(EventKind::Panel, text); }),
          progressBar([this](float value) { OnProgress(value); }), rules(link, serialPort, statusBar),
          transfer(fontlib::FontParts{link, serialPort, statusBar, progressBar, parts.files, *this})
    {
    }

    void SetOptionCaption(const QString&, const QString& text) override
    {
        if (text == caption)
            return;
        caption = text;
        Report(EventKind::Caption, text);
    }

    Event Make(EventKind kind) const
    {
        Event event;
        event.kind = kind;
        event.device = target.label;
        event.elapsedMs = parts.nowMs() - startedAt;
        return event;
    }
    void Report(EventKind kind, const QString& message)
    {
        Event event = Make(kind);
        event.message = message;
        sink(event);
    }
    void OnProgress(float value)
    {
        const float span = progressBar.Max() - progressBar.Min();
        Event event = Make(EventKind::Progress);
        event.page = first + PageOfBar(value - progressBar.Min(), span, last - first);
        event.percent = static_cast<int>((value - progressBar.Min()) * 100 / span);
        sink(event);
    }

    // Opens the link and runs `operation`; true/false is its result, and a
    // run-time error ends in the Error verdict.
    Event Perform(const QString& what, const std::function<bool()>& operation, Verdict yes, Verdict no);

    SessionParts parts;
    Target target;
    EventSink sink;
    WatchedSocket socket;
    Link link;
    SerialPortModel serialPort;
    PanelBar statusBar;
    ReportingBar progressBar;
    WindowRules rules;
    fontlib::FontTransfer transfer;

    std::int64_t startedAt = 0;
    int first = 0;
    int last = 0;
    QString caption;
    bool stopped = false;
};

Event FontSession::State::Perform(const QString& what, const std::function<bool()>& operation, Verdict yes, Verdict no)
{
    startedAt = parts.nowMs();
    Report(EventKind::Start, QStringLiteral("%1 pages %2..%3 at %4 port %5")
                                 .arg(what)
                                 .arg(first)
                                 .arg(last)
                                 .arg(target.address)
                                 .arg(target.port));
    rules.Load();
    Event end;
    try {
        if (stopped)
            throw RuntimeError(err::WindowClosed, "stopped");
        // As a run opens it: the settling wait, then the connect wait.
        link.Open(target.address, QString::number(target.port));
        const bool result = operation();
        end = Make(EventKind::End);
        end.verdict = result ? yes : no;
        const QString panel = statusBar.PanelText(IStatusBar::FirstPanel);
        if (panel.endsWith(fontlib::PageRefused))
            end.message = QStringLiteral("a page was refused (status bar:%1)").arg(fontlib::PageRefused);
        else if (panel.endsWith(fontlib::NoAnswer))
            end.message = QStringLiteral("the device did not answer in time (status bar:%1)").arg(fontlib::NoAnswer);
        else if (!result)
            end.message = QStringLiteral("the device's sum differs");
        else
            end.message = QStringLiteral("the device's sum matches");
    } catch (const RuntimeError& error) {
        end = Make(EventKind::End);
        end.verdict = error.Number() == err::WindowClosed ? Verdict::Stopped : Verdict::Error;
        end.message = DescribeError(error.Number(), socket.BytesSent(), target);
    }
    sink(end);
    return end;
}

FontSession::FontSession(SessionParts parts, Target target, EventSink sink)
    : s_(std::make_unique<State>(std::move(parts), std::move(target), std::move(sink)))
{
}

FontSession::~FontSession() = default;

Event FontSession::Download(const QString& name, std::int16_t first, std::int16_t last)
{
    s_->first = first;
    s_->last = last;
    return s_->Perform(
        QStringLiteral("download %1.bin into").arg(name), [&] { return s_->transfer.DownChar(name, first, last); },
        Verdict::Verified, Verdict::Failed);
}

Event FontSession::Check(std::int32_t checksum, std::int16_t first, std::int16_t last)
{
    s_->first = first;
    s_->last = last;
    const double sum = checksum;
    return s_->Perform(
        QStringLiteral("check sum %1 of").arg(checksum), [&] { return s_->transfer.CheckChar(sum, first, last); },
        Verdict::Match, Verdict::Mismatch);
}

void FontSession::Stop()
{
    s_->stopped = true;
    s_->rules.Unload();
}

}  // namespace modburn::cli
