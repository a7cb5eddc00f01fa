// JSON lines, plain lines, the terminal's progress lines and the summary table.

#include "cli/render.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <span>

namespace modburn::cli {

namespace {

constexpr int BarWidth = 20;
constexpr int MaxLabelWidth = 40;
constexpr int ActivityWidth = 15;

template <typename T>
QJsonValue OrNull(const std::optional<T>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonValue OrNull(const QString& text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

QString Seconds(std::int64_t ms)
{
    return QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 1);
}

// Terminal cells a character takes: East Asian wide characters take two.
int Cells(char32_t c)
{
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
                      (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

int DisplayWidth(const QString& text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += Cells(c);
    return width;
}

// The longest start of `text` that fits in `width` cells.
QString FitWidth(const QString& text, int width)
{
    QString out;
    for (const char32_t c : text.toUcs4()) {
        width -= Cells(c);
        if (width < 0)
            break;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QString Pad(const QString& text, int width)
{
    return text + QString(std::max(0, width - DisplayWidth(text)), u' ');
}

}  // namespace

QString IsoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray JsonLine(const Event& event, const RunRecord& record, const QDateTime& at)
{
    const bool summary = event.kind == EventKind::Summary;
    const bool recorded = summary || event.kind == EventKind::Start;
    const bool timed = recorded && at.isValid();
    // Empty record texts (no version, no image) are null as well.
    const auto fromRecord = [&](const QString& text) { return recorded && !text.isEmpty() ? text : QString(); };
    const QJsonObject object{
        {QStringLiteral("device"), summary ? QJsonValue() : QJsonValue(event.device)},
        {QStringLiteral("event"), EventName(event.kind)},
        {QStringLiteral("page"), OrNull(event.page)},
        {QStringLiteral("percent"), OrNull(event.percent)},
        {QStringLiteral("message"), OrNull(event.message)},
        {QStringLiteral("verdict"), OrNull(VerdictName(event.verdict))},
        {QStringLiteral("locks"), event.locks ? QJsonValue(LocksText(*event.locks)) : QJsonValue()},
        {QStringLiteral("elapsed_ms"), qint64{event.elapsedMs}},
        {QStringLiteral("version"), OrNull(fromRecord(record.version))},
        {QStringLiteral("image_sha256"), OrNull(fromRecord(record.imageSha256))},
        {QStringLiteral("image_bytes"), recorded ? OrNull(record.imageBytes) : QJsonValue()},
        {QStringLiteral("image_format"), OrNull(fromRecord(record.imageFormat))},
        {QStringLiteral("file_sha256"), OrNull(fromRecord(record.fileSha256))},
        {QStringLiteral("started_at"), timed ? QJsonValue(IsoTime(at.addMSecs(-event.elapsedMs))) : QJsonValue()},
        {QStringLiteral("finished_at"), timed && summary ? QJsonValue(IsoTime(at)) : QJsonValue()},
    };
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
    case EventKind::End:
        return QStringLiteral("%1 %2%3 (%4)")
            .arg(event.device, VerdictName(event.verdict),
                 event.message.isEmpty() ? QString() : QStringLiteral(": ") + event.message, Seconds(event.elapsedMs));
    case EventKind::Summary:
        break;
    }
    return {};
}

QString SummaryTable(const std::vector<Event>& ends, const RunRecord& record)
{
    std::vector<QStringList> rows{{QStringLiteral("DEVICE"), QStringLiteral("VERDICT"), QStringLiteral("LOCKS"),
                                   QStringLiteral("TIME"), QStringLiteral("DETAIL")}};
    for (const Event& end : ends) {
        rows.push_back({end.device, VerdictName(end.verdict), end.locks ? LocksText(*end.locks) : QStringLiteral("-"),
                        Seconds(end.elapsedMs), end.message.isEmpty() ? QStringLiteral("-") : end.message});
    }
    // Every column but the last is padded to its widest cell.
    QList<int> widths(rows.front().size() - 1, 0);
    for (const QStringList& row : rows) {
        for (qsizetype c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    QString table;
    for (const QStringList& row : rows) {
        for (qsizetype c = 0; c < widths.size(); ++c)
            table += Pad(row[c], widths[c]) + QStringLiteral("  ");
        table += row.last() + u'\n';
    }
    if (!record.imageSha256.isEmpty()) {
        table +=
            QStringLiteral("image: %1 bytes, sha256 %2\n")
                .arg(record.imageBytes ? QString::number(*record.imageBytes) : QStringLiteral("?"), record.imageSha256);
    }
    return table;
}

Reporter::Reporter(OutputMode mode, Writer out, Writer err, std::function<TerminalSize()> size, RunRecord record,
                   std::function<QDateTime()> clock)
    : mode_(mode), out_(std::move(out)), err_(std::move(err)), size_(std::move(size)), record_(std::move(record)),
      clock_(clock ? std::move(clock) : [] { return QDateTime::currentDateTimeUtc(); })
{
}

void Reporter::Begin(const QStringList& devices)
{
    for (const QString& device : devices)
        DeviceFor(device);
    if (mode_ == OutputMode::Terminal)
        Draw();
}

void Reporter::OnEvent(const Event& event)
{
    if (mode_ == OutputMode::Json) {
        // Only the lines that carry a time ask the clock.
        out_(JsonLine(event, record_, event.kind == EventKind::Start ? clock_() : QDateTime()) + '\n');
        return;
    }
    dirty_ = true;
    if (event.kind == EventKind::Summary)
        return;
    Device& device = DeviceFor(event.device);
    switch (event.kind) {
    case EventKind::Start:
        device.activity = PhaseName(run::Step::Started);
        break;
    case EventKind::Status:
        device.activity = PhaseName(event.phase);
        device.fromStatus = true;
        if (event.page)
            device.page = event.page;
        break;
    case EventKind::Progress: {
        device.page = event.page;
        device.percent = event.percent;
        if (device.fromStatus)
            return;  // the run's status texts say it
        device.activity = QStringLiteral("sending pages");
        // Font operations have no status texts: every tenth of the way gets a line.
        const int tenth = event.percent.value_or(0) / 10;
        if (mode_ == OutputMode::Plain && tenth == device.tenth)
            return;
        device.tenth = tenth;
        break;
    }
    case EventKind::Caption:
        device.caption = event.message.trimmed();
        break;
    case EventKind::End:
        device.end = event;
        break;
    case EventKind::Panel:
    case EventKind::Summary:
        break;
    }
    if (mode_ == OutputMode::Plain) {
        if (const QString line = PlainLine(event); !line.isEmpty())
            out_((line + u'\n').toUtf8());
    }
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

Reporter::Device& Reporter::DeviceFor(const QString& label)
{
    const auto [at, added] = index_.try_emplace(label, devices_.size());
    if (added)
        devices_.emplace_back().label = label;
    return devices_[at->second];
}

QStringList Reporter::Lines(TerminalSize size) const
{
    int labelWidth = 0;
    for (const Device& device : devices_)
        labelWidth = std::max(labelWidth, DisplayWidth(device.label));
    labelWidth = std::min(labelWidth, MaxLabelWidth);
    // When the devices do not fit, the last line counts the ones left out.
    const auto room = static_cast<std::size_t>(std::max(1, size.rows - 1));
    const std::size_t shown = devices_.size() > room ? room - 1 : devices_.size();
    const int width = std::max(1, size.columns - 1);

    QStringList lines;
    for (const Device& device : std::span(devices_).first(shown)) {
        QString line = Pad(FitWidth(device.label, labelWidth), labelWidth) + QStringLiteral("  ");
        if (const std::optional<Event>& end = device.end) {
            line += Pad(VerdictName(end->verdict), ActivityWidth) +
                    (end->locks ? LocksText(*end->locks) : QStringLiteral("--------")) + QStringLiteral("  ") +
                    Seconds(end->elapsedMs);
            if (end->verdict != Verdict::Programmed)
                line += QStringLiteral("  ") + end->message;
        } else {
            line += Pad(device.activity, ActivityWidth);
            if (device.page)
                line += QStringLiteral("page %1  ").arg(*device.page, 5);
            if (device.percent) {
                const int filled = std::clamp(*device.percent, 0, 100) * BarWidth / 100;
                line += QStringLiteral("%1% [").arg(*device.percent, 3) + QString(filled, u'#') +
                        QString(BarWidth - filled, u'.') + u']';
            }
            line += QStringLiteral("  ") + device.caption;
        }
        // Cut to the terminal, without the blanks that padded what is left out.
        line = FitWidth(line, width);
        while (line.endsWith(u' '))
            line.chop(1);
        lines << line;
    }
    if (shown < devices_.size()) {
        const std::size_t left = devices_.size() - shown;
        const auto ended = std::count_if(devices_.begin() + static_cast<std::ptrdiff_t>(shown), devices_.end(),
                                         [](const Device& device) { return device.end.has_value(); });
        lines << FitWidth(
            QStringLiteral("... and %1 more devices: %2 done, %3 running").arg(left).arg(ended).arg(left - ended),
            width);
    }
    return lines;
}

void Reporter::Draw()
{
    const QStringList lines = Lines(size_ ? size_() : TerminalSize{});
    // Back to the first line drawn last time, then each line cleared and written.
    QByteArray out;
    if (shown_ > 0)
        out += "\r\x1b[" + QByteArray::number(shown_) + 'A';
    for (const QString& line : lines)
        out += "\x1b[2K" + line.toUtf8() + '\n';
    if (lines.size() < shown_)
        out += "\x1b[J";
    out_(out);
    shown_ = lines.size();
    dirty_ = false;
}

}  // namespace modburn::cli
