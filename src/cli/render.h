#pragma once

// Turning events into output: JSON lines, plain lines, the in-place progress
// lines of a terminal and the summary table. The formatting is pure; the
// reporters only keep what each output needs to remember between events.

#include "cli/events.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace modburn::cli {

enum class OutputMode {
    Terminal,  // stdout is a terminal: one line per device, redrawn in place
    Plain,     // one line per message, prefixed with the device
    Json,      // one JSON object per line and event
};

// What went where: the image and the tool that sent it, for the start and
// summary records and the summary table.
struct RunRecord {
    QString version;                   // the tool's; empty when unknown
    QString imageSha256;               // lower-case hex; empty when no image is sent (font operations)
    std::optional<qint64> imageBytes;  // the image's size
};

// The wall clock, in UTC; a parameter so tests can fix it.
using WallClock = std::function<QDateTime()>;

// UTC, ISO 8601 to the millisecond: 2026-12-08T18:53:18.123Z.
QString IsoTime(const QDateTime& time);

// One JSON object, without the line break. Every key is always present:
// device, event, page, percent, message, verdict, locks, elapsed_ms, and
// version, image_sha256, image_bytes, started_at, finished_at, which are null
// except on start (all but finished_at) and summary lines. `at` is when the
// event was seen: started_at is `at` less elapsed_ms, finished_at `at`.
QByteArray JsonLine(const Event& event, const RunRecord& record = {}, const QDateTime& at = {});

// The plain line for an event, or an empty string when it has none.
QString PlainLine(const Event& event);

// The table printed at the end: device, verdict, lock bytes, time, detail;
// then the image's size and SHA-256 when one was sent.
QString SummaryTable(const std::vector<Event>& ends, const RunRecord& record = {});

// Terminal cells a text takes: East Asian wide characters take two.
int DisplayWidth(const QString& text);
// The longest start of `text` that fits in `width` cells.
QString FitWidth(const QString& text, int width);

// The state of every device as the terminal shows it, one line each.
class ProgressBoard {
public:
    // A line for the device before its first event, so lines keep the given order.
    void Add(const QString& label) { RowFor(label); }
    void Apply(const Event& event);
    // At most `rows` - 1 lines, each at most `columns` - 1 cells wide; when
    // the devices do not fit, the last line counts the ones left out.
    QStringList Lines(int columns, int rows) const;

private:
    struct Row {
        QString label;
        QString activity = PhaseName(std::nullopt);
        bool fromStatus = false;  // the activity comes from the run's status texts
        QString caption;
        std::optional<int> page;
        std::optional<int> percent;
        bool ended = false;
        Event end;
    };
    Row& RowFor(const QString& label);

    std::vector<Row> rows_;
    QHash<QString, int> index_;
};

// Escape sequences that replace the `previous` lines just printed with `lines`.
QByteArray RedrawSequence(int previous, const QStringList& lines);

using Writer = std::function<void(const QByteArray&)>;

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

// Writes events as they come and the end of the command, in one of the modes.
// `out` is stdout; `err` takes the table in JSON mode, so stdout stays JSON.
// `size` is asked at every redraw; `clock` defaults to the system's.
class Reporter {
public:
    Reporter(OutputMode mode, Writer out, Writer err = {}, std::function<TerminalSize()> size = {},
             RunRecord record = {}, WallClock clock = {});

    // The devices, in the order given, before any of their events.
    void Begin(const QStringList& devices);
    void OnEvent(const Event& event);
    // Called about ten times a second; a terminal redraws here when something changed.
    void Tick();
    // The end: every device's End event and the Summary event.
    void Finish(const std::vector<Event>& ends, const Event& summary);

private:
    void Draw();

    struct Seen {
        bool status = false;
        int step = -1;
    };

    OutputMode mode_;
    Writer out_;
    Writer err_;
    std::function<TerminalSize()> size_;
    RunRecord record_;
    WallClock clock_;
    ProgressBoard board_;        // terminal: the lines drawn
    bool dirty_ = false;         // terminal: something changed since the last drawing
    int shown_ = 0;              // terminal: lines drawn last time
    QHash<QString, Seen> seen_;  // plain: what each device has shown
};

}  // namespace modburn::cli
