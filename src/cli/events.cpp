// Names of events, verdicts and phases, and the designed texts on one line.

#include "cli/events.h"

#include <QStringList>

#include <array>

namespace modburn::cli {

namespace {

constexpr std::array<const char*, 7> EventNames{"start", "status", "progress", "panel", "caption", "end", "summary"};
constexpr std::array<const char*, 12> VerdictNames{"",        "programmed", "failed",      "error",
                                                   "stopped", "gave-up",    "interrupted", "verified",
                                                   "match",   "mismatch",   "reachable",   "unreachable"};
// Page done, link closed and close asked never name a status line of their own.
constexpr std::array<const char*, 16> PhaseNames{
    "connecting",    "burn enabled",    "searching",    "found",       "erase enabled",   "erased",
    "resending",     "programming",     "page refused", "programming", "lock bytes good", "lock bytes bad",
    "no lock bytes", "lock bytes read", "working",      "working"};

// Indexed by the enum's value: a new enumerator without a name fails to compile.
static_assert(EventNames.size() == static_cast<std::size_t>(EventKind::Summary) + 1);
static_assert(VerdictNames.size() == static_cast<std::size_t>(Verdict::Unreachable) + 1);
static_assert(PhaseNames.size() == static_cast<std::size_t>(run::Step::CloseAsked) + 1);

}  // namespace

QString EventName(EventKind kind)
{
    return QString::fromLatin1(EventNames.at(static_cast<std::size_t>(kind)));
}

QString VerdictName(Verdict verdict)
{
    return verdict == Verdict::None ? QString()
                                    : QString::fromLatin1(VerdictNames.at(static_cast<std::size_t>(verdict)));
}

QString PhaseName(std::optional<run::Step> phase)
{
    return phase ? QString::fromLatin1(PhaseNames.at(static_cast<std::size_t>(*phase))) : QStringLiteral("waiting");
}

QString OneLine(const QString& designed)
{
    QStringList kept;
    // A CR LF leaves an empty line between, dropped with the blank ones.
    for (const QString& line : QString(designed).replace(u'\r', u'\n').split(u'\n')) {
        if (const QString trimmed = line.trimmed(); !trimmed.isEmpty())
            kept << trimmed;
    }
    return kept.join(QStringLiteral(" / "));
}

QString LocksText(const Locks& locks)
{
    const QByteArray bytes(reinterpret_cast<const char*>(locks.data()), static_cast<qsizetype>(locks.size()));
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

}  // namespace modburn::cli
