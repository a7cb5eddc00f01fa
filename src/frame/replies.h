#pragma once

// The replies owed to one frame, cut from the arriving bytes by the device's
// own grammar: each send of a frame is answered at most once, in order, by
// `length` bytes, and a module page's reply may be followed by the three lock
// bytes. Counting replies rather than bytes keeps a lock byte from being
// judged as a page reply, and a page reply as a lock byte.
// Pure code: no time, no I/O.

#include "frame/frame.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace modburn::frame {

// One send's reply, and the lock bytes that follow it when they come.
struct Answer {
    std::array<std::uint8_t, LongestReply> bytes{};
    int length = 0;  // reply bytes received so far
    std::array<std::uint8_t, LockBytes> locks{};
    int lockCount = 0;
    bool locksDue = false;  // the reply is whole and the lock bytes follow it

    std::span<const std::uint8_t> Reply() const { return {bytes.data(), static_cast<std::size_t>(length)}; }
    bool HasLocks() const { return lockCount == LockBytes; }
};

class ReplyLedger {
public:
    // A new frame: whatever the last one was still owed is written off.
    void Begin(ReplyRule rule);
    // One more send of the frame. A frame goes again only after a silent
    // wait of one time-out, and a reply comes within two time-outs of its
    // send or never: so while nothing has come, only the previous send and
    // this one can still be answered.
    void Sent();
    // Every arriving byte, in order. False when nothing owed it.
    bool Take(std::uint8_t byte);
    // The sends still unanswered never will be; lock bytes due still count.
    void ExpireUnanswered();

    bool Answered() const { return !answers_.empty() && Whole(answers_.front()); }
    // Every send that can still be answered has its whole reply.
    bool AllIn() const;
    bool LocksPending() const { return !answers_.empty() && answers_.back().locksDue && !answers_.back().HasLocks(); }
    std::span<const Answer> Answers() const { return answers_; }
    ReplyRule Rule() const { return rule_; }

private:
    bool Whole(const Answer& answer) const { return answer.length >= rule_.length; }

    ReplyRule rule_{0, 0};
    std::vector<Answer> answers_;
    int live_ = 0;
};

}  // namespace modburn::frame
