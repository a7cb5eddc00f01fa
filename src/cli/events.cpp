// Names of events, verdicts and phases, and the designed texts on one line.

#include "cli/events.h"

#include <QStringList>

namespace modburn::cli {

namespace {
const QString CrLf = QStringLiteral("\r\n");
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

QString PhaseName(std::optional<run::Step> phase)
{
    if (!phase)
        return QStringLiteral("waiting");
    switch (*phase) {
    case run::Step::Started:
        return QStringLiteral("connecting");
    case run::Step::BurnEnabled:
        return QStringLiteral("burn enabled");
    case run::Step::Searching:
        return QStringLiteral("searching");
    case run::Step::Found:
        return QStringLiteral("found");
    case run::Step::EraseEnabled:
        return QStringLiteral("erase enabled");
    case run::Step::Erased:
        return QStringLiteral("erased");
    case run::Step::PageAccepted:
    case run::Step::PageDone:
        return QStringLiteral("programming");
    case run::Step::PageRefused:
        return QStringLiteral("page refused");
    case run::Step::PageSentAgain:
        return QStringLiteral("resending");
    case run::Step::LocksGood:
        return QStringLiteral("lock bytes good");
    case run::Step::LocksBad:
        return QStringLiteral("lock bytes bad");
    case run::Step::LocksAfterRefusal:
        return QStringLiteral("lock bytes read");
    case run::Step::LocksMissing:
        return QStringLiteral("no lock bytes");
    case run::Step::LinkClosed:
    case run::Step::CloseAsked:
        break;
    }
    return QStringLiteral("working");
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

}  // namespace modburn::cli
