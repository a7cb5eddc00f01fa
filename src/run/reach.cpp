// The preflight's connect-and-close.

#include "run/reach.h"

#include "link/link.h"
#include "link/runcontrol.h"

namespace modburn::run {

ReachOutcome Reach(OperationParts parts, const QString& address, const QString& port)
{
    const LinkHold hold(parts.control);
    if (!hold.Held())
        return {};
    ReachOutcome outcome;
    if (parts.control.Stopped()) {
        outcome.ending = ReachEnding::StoppedByOwner;
        return outcome;
    }
    try {
        const Reachability reached = parts.link.Reach(address, port);
        outcome.ending = reached.connected ? ReachEnding::Reachable : ReachEnding::Unreachable;
        outcome.failure = reached.failure;
    } catch (const RuntimeError& error) {
        outcome.error = error.Number();
        outcome.ending = error.Number() == err::WindowClosed ? ReachEnding::StoppedByOwner
                         : error.Number() == err::TypeMismatch || error.Number() == err::InvalidPropertyValue
                             ? ReachEnding::BadPort
                             : ReachEnding::Error;
    }
    return outcome;
}

}  // namespace modburn::run
