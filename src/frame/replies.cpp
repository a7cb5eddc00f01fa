// Cutting the arriving bytes into the replies owed to one frame.

#include "frame/replies.h"

#include <algorithm>

namespace modburn::frame {

void ReplyLedger::Begin(ReplyRule rule)
{
    rule_ = rule;
    answers_.clear();
    live_ = 0;
}

void ReplyLedger::Sent()
{
    live_ = (answers_.empty() ? std::min(live_, 1) : live_) + 1;
}

bool ReplyLedger::Take(std::uint8_t byte)
{
    if (!answers_.empty()) {
        Answer& last = answers_.back();
        if (!Whole(last)) {
            last.bytes[static_cast<std::size_t>(last.length++)] = byte;
            if (Whole(last)) {
                const bool refused = !PageAccepted(last.bytes[0]);
                last.locksDue = rule_.locks == LocksFollow::Any || (rule_.locks == LocksFollow::Refusal && refused);
            }
            return true;
        }
        if (last.locksDue && !last.HasLocks()) {
            last.locks[static_cast<std::size_t>(last.lockCount++)] = byte;
            return true;
        }
    }
    if (std::ssize(answers_) >= live_ || rule_.length <= 0)
        return false;
    answers_.emplace_back();
    return Take(byte);
}

void ReplyLedger::ExpireUnanswered()
{
    live_ = static_cast<int>(answers_.size());
}

bool ReplyLedger::AllIn() const
{
    return std::ssize(answers_) >= live_ && (answers_.empty() || Whole(answers_.back()));
}

}  // namespace modburn::frame
