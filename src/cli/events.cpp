// Names of events, verdicts and phases, and the designed texts on one line.

#include "cli/events.h"

#include <QStringList>

#include <array>

namespace modburn::cli {

namespace {

// Indexed by the enum's value: a new enumerator without a name fails to compile.
template <typename Enum, std::size_t N>
QString NameOf(Enum value, const std::array<const char*, N>& names)
{
    return QString::fromLatin1(names.at(static_cast<std::size_t>(value)));
}

constexpr std::array<const char*, 7> EventNames{"start", "status", "progress", "panel", "caption", "end", "summary"};
constexpr std::array<const char*, 10> VerdictNames{"",        "programmed",  "failed",   "error", "stopped",
                                                   "gave-up", "interrupted", "verified", "match", "mismatch"};
// Page done, link closed and close asked never name a status line of their own.
constexpr std::array<const char*, 16> PhaseNames{
    "connecting",    "burn enabled",    "searching",    "found",       "erase enabled",   "erased",
    "resending",     "programming",     "page refused", "programming", "lock bytes good", "lock bytes bad",
    "no lock bytes", "lock bytes read", "working",      "working"};

static_assert(EventNames.size() == static_cast<std::size_t>(EventKind::Summary) + 1);
static_assert(VerdictNames.size() == static_cast<std::size_t>(Verdict::Mismatch) + 1);
static_assert(PhaseNames.size() == static_cast<std::size_t>(run::Step::CloseAsked) + 1);

}  // namespace

QString EventName(EventKind kind)
{
    return NameOf(kind, EventNames);
}

QString VerdictName(Verdict verdict)
{
    return verdict == Verdict::None ? QString() : NameOf(verdict, VerdictNames);
}

QString PhaseName(std::optional<run::Step> phase)
{
    return phase ? NameOf(*phase, PhaseNames) : QStringLiteral("waiting");
}

QString OneLine(const QString& designed)
{
    QString text = designed;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    QStringList parts;
    for (const QString& line : text.split(u'\n')) {
        if (const QString trimmed = line.trimmed(); !trimmed.isEmpty())
            parts << trimmed;
    }
    return parts.join(QStringLiteral(" / "));
}

QString LocksText(const Locks& locks)
{
    QStringList bytes;
    for (const std::uint8_t byte : locks)
        bytes << QStringLiteral("%1").arg(int{byte}, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(u' ');
}

}  // namespace modburn::cli
