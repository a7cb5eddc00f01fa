// JSON lines, plain lines, the terminal's progress lines and the summary table.

#include "cli/render.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace modburn::cli {

namespace {

constexpr int BarWidth = 20;
constexpr int MaxLabelWidth = 40;
constexpr int ActivityWidth = 15;

QJsonValue Optional(const std::optional<int>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue Text(const QString& text)
{
    return text.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString Seconds(std::int64_t ms)
{
    return QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 1);
}

QString Pad(const QString& text, int width)
{
    return text + QString(std::max(0, width - DisplayWidth(text)), u' ');
}

bool Wide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

QString Bar(int percent)
{
    const int filled = std::clamp(percent, 0, 100) * BarWidth / 100;
    return u'[' + QString(filled, u'#') + QString(BarWidth - filled, u'.') + u']';
}

}  // namespace

QString IsoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray JsonLine(const Event& event, const RunRecord& record, const QDateTime& at)
{
    QJsonObject object;
    object.insert(QStringLiteral("device"),
                  event.kind == EventKind::Summary ? QJsonValue(QJsonValue::Null) : QJsonValue(event.device));
    object.insert(QStringLiteral("event"), EventName(event.kind));
    object.insert(QStringLiteral("page"), Optional(event.page));
    object.insert(QStringLiteral("percent"), Optional(event.percent));
    object.insert(QStringLiteral("message"), Text(event.message));
    object.insert(QStringLiteral("verdict"), Text(VerdictName(event.verdict)));
    object.insert(QStringLiteral("locks"),
                  event.locks ? QJsonValue(LocksText(*event.locks)) : QJsonValue(QJsonValue::Null));
    object.insert(QStringLiteral("elapsed_ms"), static_cast<qint64>(event.elapsedMs));

    const bool start = event.kind == EventKind::Start;
    const bool summary = event.kind == EventKind::Summary;
    const QJsonValue null(QJsonValue::Null);
    const auto recorded = [&](const QString& text) {
        return (start || summary) && !text.isEmpty() ? QJsonValue(text) : null;
    };
    object.insert(QStringLiteral("version"), recorded(record.version));
    object.insert(QStringLiteral("image_sha256"), recorded(record.imageSha256));
    object.insert(QStringLiteral("image_bytes"),
                  (start || summary) && record.imageBytes ? QJsonValue(*record.imageBytes) : null);
    const bool timed = (start || summary) && at.isValid();
    object.insert(QStringLiteral("started_at"), timed ? QJsonValue(IsoTime(at.addMSecs(-event.elapsedMs))) : null);
    object.insert(QStringLiteral("finished_at"), timed && summary ? QJsonValue(IsoTime(at)) : null);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString PlainLine(const Event& event)
{
    switch (event.kind) {
    case EventKind::Start:
        return QStringLiteral("%1 start: %2").arg(event.device, event.message);
    case EventKind::Status:
    case EventKind::Caption: {
        const QString text = OneLine(event.message);
        return text.isEmpty() ? QString() : event.device + u' ' + text;
    }
    case EventKind::Panel:
        return QStringLiteral("%1 status bar: %2").arg(event.device, event.message.trimmed());
    case EventKind::Progress:
        return QStringLiteral("%1 page %2 %3%")
            .arg(event.device)
            .arg(event.page.value_or(0))
            .arg(event.percent.value_or(0));
    case EventKind::End: {
        QString line = QStringLiteral("%1 %2").arg(event.device, VerdictName(event.verdict));
        if (!event.message.isEmpty())
            line += QStringLiteral(": ") + event.message;
        return line + QStringLiteral(" (%1)").arg(Seconds(event.elapsedMs));
    }
    case EventKind::Summary:
        return {};
    }
    return {};
}

QString SummaryTable(const std::vector<Event>& ends, const RunRecord& record)
{
    const QStringList heads{QStringLiteral("DEVICE"), QStringLiteral("VERDICT"), QStringLiteral("LOCKS"),
                            QStringLiteral("TIME"), QStringLiteral("DETAIL")};
    std::vector<QStringList> rows;
    rows.reserve(ends.size());
    for (const Event& end : ends) {
        rows.push_back({end.device, VerdictName(end.verdict), end.locks ? LocksText(*end.locks) : QStringLiteral("-"),
                        Seconds(end.elapsedMs), end.message.isEmpty() ? QStringLiteral("-") : end.message});
    }
    std::vector<int> widths;
    for (qsizetype c = 0; c < heads.size(); ++c) {
        int width = DisplayWidth(heads[c]);
        for (const QStringList& row : rows)
            width = std::max(width, DisplayWidth(row[c]));
        widths.push_back(width);
    }
    QString table;
    const auto addRow = [&](const QStringList& cells) {
        QString line;
        for (qsizetype c = 0; c < cells.size(); ++c)
            line += c + 1 == cells.size() ? cells[c]
                                          : Pad(cells[c], widths[static_cast<std::size_t>(c)]) + QStringLiteral("  ");
        table += line + u'\n';
    };
    addRow(heads);
    for (const QStringList& row : rows)
        addRow(row);
    if (!record.imageSha256.isEmpty()) {
        table +=
            QStringLiteral("image: %1 bytes, sha256 %2\n")
                .arg(record.imageBytes ? QString::number(*record.imageBytes) : QStringLiteral("?"), record.imageSha256);
    }
    return table;
}

int DisplayWidth(const QString& text)
{
    int width = 0;
    for (char32_t c : text.toUcs4())
        width += Wide(c) ? 2 : 1;
    return width;
}

QString FitWidth(const QString& text, int width)
{
    QString out;
    int used = 0;
    for (char32_t c : text.toUcs4()) {
        const int w = Wide(c) ? 2 : 1;
        if (used + w > width)
            break;
        used += w;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

ProgressBoard::Row& ProgressBoard::RowFor(const QString& label)
{
    const auto found = index_.constFind(label);
    if (found != index_.constEnd())
        return rows_[static_cast<std::size_t>(*found)];
    index_.insert(label, static_cast<int>(rows_.size()));
    rows_.push_back(Row{});
    rows_.back().label = label;
    return rows_.back();
}

void ProgressBoard::Apply(const Event& event)
{
    if (event.kind == EventKind::Summary)
        return;
    Row& row = RowFor(event.device);
    switch (event.kind) {
    case EventKind::Start:
        row.activity = PhaseName(run::Step::Started);
        break;
    case EventKind::Status:
        row.activity = PhaseName(event.phase);
        row.fromStatus = true;
        if (event.page)
            row.page = event.page;
        break;
    case EventKind::Progress:
        row.page = event.page;
        row.percent = event.percent;
        if (!row.fromStatus)
            row.activity = QStringLiteral("sending pages");
        break;
    case EventKind::Caption:
        row.caption = event.message.trimmed();
        break;
    case EventKind::End:
        row.ended = true;
        row.end = event;
        break;
    case EventKind::Panel:
    case EventKind::Summary:
        break;
    }
}

QStringList ProgressBoard::Lines(int columns, int rows) const
{
    int labelWidth = 0;
    for (const Row& row : rows_)
        labelWidth = std::max(labelWidth, DisplayWidth(row.label));
    labelWidth = std::min(labelWidth, MaxLabelWidth);

    const int room = std::max(1, rows - 1);
    const bool overflow = static_cast<int>(rows_.size()) > room;
    const int shown = overflow ? room - 1 : static_cast<int>(rows_.size());
    const int width = std::max(1, columns - 1);

    QStringList lines;
    for (int i = 0; i < shown; ++i) {
        const Row& row = rows_[static_cast<std::size_t>(i)];
        QString line = Pad(FitWidth(row.label, labelWidth), labelWidth) + QStringLiteral("  ");
        if (row.ended) {
            line += Pad(VerdictName(row.end.verdict), ActivityWidth) +
                    (row.end.locks ? LocksText(*row.end.locks) : QStringLiteral("--------")) + QStringLiteral("  ") +
                    Seconds(row.end.elapsedMs);
            if (row.end.verdict != Verdict::Programmed && !row.end.message.isEmpty())
                line += QStringLiteral("  ") + row.end.message;
        } else {
            line += Pad(row.activity, ActivityWidth);
            if (row.page)
                line += QStringLiteral("page %1  ").arg(*row.page, 5);
            if (row.percent)
                line += QStringLiteral("%1% ").arg(*row.percent, 3) + Bar(*row.percent);
            if (!row.caption.isEmpty())
                line += QStringLiteral("  ") + row.caption;
        }
        line = FitWidth(line, width);
        while (line.endsWith(u' '))
            line.chop(1);
        lines << line;
    }
    if (overflow) {
        const auto ended = std::count_if(rows_.begin() + shown, rows_.end(), [](const Row& r) { return r.ended; });
        const qsizetype left = static_cast<qsizetype>(rows_.size()) - shown;
        lines << FitWidth(
            QStringLiteral("... and %1 more devices: %2 done, %3 running").arg(left).arg(ended).arg(left - ended),
            width);
    }
    return lines;
}

QByteArray RedrawSequence(int previous, const QStringList& lines)
{
    QByteArray out;
    // Back to the first line drawn last time, then each line cleared and written.
    if (previous > 0)
        out += "\r\x1b[" + QByteArray::number(previous) + 'A';
    for (const QString& line : lines)
        out += "\x1b[2K" + line.toUtf8() + '\n';
    if (lines.size() < previous)
        out += "\x1b[J";
    return out;
}

Reporter::Reporter(OutputMode mode, Writer out, Writer err, std::function<TerminalSize()> size, RunRecord record,
                   WallClock clock)
    : mode_(mode), out_(std::move(out)), err_(std::move(err)), size_(std::move(size)), record_(std::move(record)),
      clock_(clock ? std::move(clock) : [] { return QDateTime::currentDateTimeUtc(); })
{
}

void Reporter::Begin(const QStringList& devices)
{
    if (mode_ != OutputMode::Terminal)
        return;
    for (const QString& device : devices)
        board_.Add(device);
    Draw();
}

void Reporter::OnEvent(const Event& event)
{
    switch (mode_) {
    case OutputMode::Json:
        // Only the lines that carry a time ask the clock.
        out_(JsonLine(event, record_, event.kind == EventKind::Start ? clock_() : QDateTime()) + '\n');
        return;
    case OutputMode::Terminal:
        board_.Apply(event);
        dirty_ = true;
        return;
    case OutputMode::Plain:
        break;
    }
    Seen& seen = seen_[event.device];
    if (event.kind == EventKind::Progress) {
        // Runs say their progress in their status texts; font operations
        // have none, so every tenth of the way gets a line.
        const int step = event.percent.value_or(0) / 10;
        if (seen.status || step == seen.step)
            return;
        seen.step = step;
    } else if (event.kind == EventKind::Status) {
        seen.status = true;
    }
    if (const QString line = PlainLine(event); !line.isEmpty())
        out_((line + u'\n').toUtf8());
}

void Reporter::Tick()
{
    if (mode_ == OutputMode::Terminal && dirty_)
        Draw();
}

void Reporter::Finish(const std::vector<Event>& ends, const Event& summary)
{
    if (mode_ == OutputMode::Json) {
        out_(JsonLine(summary, record_, clock_()) + '\n');
        if (err_)
            err_(SummaryTable(ends, record_).toUtf8());
        return;
    }
    if (mode_ == OutputMode::Terminal)
        Draw();
    out_(('\n' + SummaryTable(ends, record_)).toUtf8());
}

void Reporter::Draw()
{
    const TerminalSize size = size_ ? size_() : TerminalSize{};
    const QStringList lines = board_.Lines(size.columns, size.rows);
    out_(RedrawSequence(shown_, lines));
    shown_ = static_cast<int>(lines.size());
    dirty_ = false;
}

}  // namespace modburn::cli
