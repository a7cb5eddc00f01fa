#pragma once

// Turning events into output: JSON lines, plain lines, the in-place progress
// lines of a terminal and the summary table. The formatting is pure; the
// reporter only keeps what each output needs to remember between events.

#include "cli/events.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <unordered_map>
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
    QString imageSha256;               // of the flash bytes the image holds, lower-case hex; empty for font operations
    std::optional<qint64> imageBytes;  // how many: from address 0 to the image's last byte
    QString imageFormat;               // bin, ihex, srec or elf
    QString fileSha256;                // of the image file as given
};

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

using Writer = std::function<void(const QByteArray&)>;

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

// Writes events as they come and the end of the command, in one of the modes.
// `out` is stdout; `err` takes the table in JSON mode, so stdout stays JSON.
// `size` is asked at every redraw; `clock`, the wall clock, defaults to the
// system's (a parameter so tests can fix it).
class Reporter {
public:
    Reporter(OutputMode mode, Writer out, Writer err = {}, std::function<TerminalSize()> size = {},
             RunRecord record = {}, std::function<QDateTime()> clock = {});

    // The devices, in the order given, before any of their events.
    void Begin(const QStringList& devices);
    void OnEvent(const Event& event);
    // Called about ten times a second; a terminal redraws here when something changed.
    void Tick();
    // The end: every device's End event and the Summary event.
    void Finish(const std::vector<Event>& ends, const Event& summary);

private:
    // A device as the outputs last showed it.
    struct Device {
        QString label;
        QString activity = PhaseName(std::nullopt);
        bool fromStatus = false;  // the run says its progress in status texts
        QString caption;
        std::optional<int> page;
        std::optional<int> percent;
        std::optional<Event> end;
        int tenth = -1;  // plain: the tenth of the way that last had a line
    };
    Device& DeviceFor(const QString& label);
    // At most `rows` - 1 lines, each at most `columns` - 1 cells wide.
    QStringList Lines(TerminalSize size) const;
    void Draw();

    OutputMode mode_;
    Writer out_;
    Writer err_;
    std::function<TerminalSize()> size_;
    RunRecord record_;
    std::function<QDateTime()> clock_;
    std::vector<Device> devices_;  // in the order first seen
    std::unordered_map<QString, std::size_t> index_;
    bool dirty_ = false;   // terminal: something changed since the last drawing
    qsizetype shown_ = 0;  // terminal: lines drawn last time
};

}  // namespace modburn::cli
