// Names of events, verdicts and phases, and the reading of the run's status
// texts, built from the run's own message functions so the two cannot drift.

#include "cli/events.h"

#include "frame/frame.h"
#include "run/run.h"

#include <QStringList>

#include <cmath>

namespace modburn::cli {

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString FirstLine(const QString& text)
{
    return text.section(CrLf, 0, 0);
}

// The text of a lock message up to its first lock value: the part that does
// not depend on the bytes.
QString LockPrefix(const QString& text)
{
    return text.left(text.indexOf(QLatin1String("Lock1:")) + 6);
}

struct Templates {
    QString started = QStringLiteral(" ");
    QString pageAcceptedLine = FirstLine(run::msg::PageAccepted(0));
    QString locksGoodLine = FirstLine(run::msg::LocksGood({}));
    QString locksBadPrefix = LockPrefix(run::msg::LocksBad({}));
    QString locksAfterRejectionPrefix = LockPrefix(run::msg::LocksAfterRejection({}));
    QString lockTimedOut = run::msg::LockTimedOut();
};

const Templates& Texts()
{
    static const Templates templates;
    return templates;
}

}  // namespace

QString EventName(EventKind kind)
{
    switch (kind) {
    case EventKind::Start:
        return QStringLiteral("start");
    case EventKind::Status:
        return QStringLiteral("status");
    case EventKind::Progress:
        return QStringLiteral("progress");
    case EventKind::Panel:
        return QStringLiteral("panel");
    case EventKind::Caption:
        return QStringLiteral("caption");
    case EventKind::End:
        return QStringLiteral("end");
    case EventKind::Summary:
        return QStringLiteral("summary");
    }
    return {};
}

QString VerdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::None:
        return {};
    case Verdict::Programmed:
        return QStringLiteral("programmed");
    case Verdict::Failed:
        return QStringLiteral("failed");
    case Verdict::Error:
        return QStringLiteral("error");
    case Verdict::Stopped:
        return QStringLiteral("stopped");
    case Verdict::GaveUp:
        return QStringLiteral("gave-up");
    case Verdict::Interrupted:
        return QStringLiteral("interrupted");
    case Verdict::Verified:
        return QStringLiteral("verified");
    case Verdict::Match:
        return QStringLiteral("match");
    case Verdict::Mismatch:
        return QStringLiteral("mismatch");
    }
    return {};
}

QString PhaseName(Phase phase)
{
    switch (phase) {
    case Phase::None:
        return QStringLiteral("waiting");
    case Phase::Starting:
        return QStringLiteral("connecting");
    case Phase::BurnEnabled:
        return QStringLiteral("burn enabled");
    case Phase::Searching:
        return QStringLiteral("searching");
    case Phase::Found:
        return QStringLiteral("found");
    case Phase::EraseEnabled:
        return QStringLiteral("erase enabled");
    case Phase::Erased:
        return QStringLiteral("erased");
    case Phase::PageAccepted:
        return QStringLiteral("programming");
    case Phase::PageRejected:
        return QStringLiteral("page refused");
    case Phase::Resending:
        return QStringLiteral("resending");
    case Phase::LocksGood:
        return QStringLiteral("lock bytes good");
    case Phase::LocksBad:
        return QStringLiteral("lock bytes bad");
    case Phase::LocksAfterRejection:
        return QStringLiteral("lock bytes read");
    case Phase::NoLockBytes:
        return QStringLiteral("no lock bytes");
    case Phase::Other:
        return QStringLiteral("working");
    }
    return {};
}

Step ClassifyStatus(const QString& text, int nextPage)
{
    const Templates& t = Texts();
    // The page messages first: they are the most frequent.
    if (text == run::msg::PageAccepted(nextPage))
        return {Phase::PageAccepted, nextPage};
    if (text == run::msg::PageRejected(nextPage))
        return {Phase::PageRejected, nextPage};
    if (text == run::msg::CommError)
        return {Phase::Resending, nextPage};
    if (text == t.started)
        return {Phase::Starting, std::nullopt};
    if (text == run::msg::Searching)
        return {Phase::Searching, std::nullopt};
    if (text == run::msg::Found)
        return {Phase::Found, std::nullopt};
    if (text == run::msg::Erased)
        return {Phase::Erased, std::nullopt};
    // Appended messages end the text they were added to.
    if (text.endsWith(CrLf + run::msg::BurnEnabled))
        return {Phase::BurnEnabled, std::nullopt};
    if (text.endsWith(CrLf + run::msg::EraseEnabled))
        return {Phase::EraseEnabled, std::nullopt};
    if (text == t.lockTimedOut)
        return {Phase::NoLockBytes, frame::ModulePages - 1};
    if (FirstLine(text) == t.locksGoodLine)
        return {Phase::LocksGood, std::nullopt};
    if (text.startsWith(t.locksBadPrefix))
        return {Phase::LocksBad, std::nullopt};
    if (text.startsWith(t.locksAfterRejectionPrefix))
        return {Phase::LocksAfterRejection, std::nullopt};
    if (FirstLine(text) == t.pageAcceptedLine)
        return {Phase::PageAccepted, std::nullopt};
    return {Phase::Other, std::nullopt};
}

QString OneLine(const QString& designed)
{
    QStringList parts;
    QString text = designed;
    text.replace(CrLf, QStringLiteral("\n")).replace(u'\r', u'\n');
    for (const QString& line : text.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            parts << trimmed;
    }
    return parts.join(QStringLiteral(" / "));
}

QString LocksText(const Locks& locks)
{
    return QStringLiteral("%1 %2 %3")
        .arg(int{locks[0]}, 2, 16, QLatin1Char('0'))
        .arg(int{locks[1]}, 2, 16, QLatin1Char('0'))
        .arg(int{locks[2]}, 2, 16, QLatin1Char('0'))
        .toUpper();
}

int PageOfBar(float value, float span, int pages)
{
    if (!(span > 0))
        return 0;
    return static_cast<int>(std::lround(double{value} * pages / double{span}));
}

}  // namespace modburn::cli
