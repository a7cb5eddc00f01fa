// Fuzzes the link's receive path while a wait runs: deliveries of any size
// and timing against AwaitReply and Exchange, each wait checked against a
// small model of RecBuf and RecCount written from the documented behaviour,
// and each exchange's answer against the bytes its wait received.

#include "fakelink.h"
#include "fuzzinput.h"

#include "frame/frame.h"
#include "link/link.h"

#include <algorithm>
#include <cstdint>
#include <vector>

using namespace modburn;
using modburn::fuzz::Input;

namespace {

constexpr int MaxOps = 48;
constexpr int MaxDeliverySize = 700;  // past the buffer's end
constexpr int MaxDelayMs = 12000;
constexpr int MaxTimeOutMs = 10000;

struct Delivery {
    std::int64_t at;
    std::vector<std::uint8_t> bytes;
};

// The documented receive buffer: a wait starts from count 0 and element 0
// cleared; every arriving byte is stored at the count and counted
// until the buffer is full, and later ones are dropped. A wait ends on the
// first pass where the time-out has come (it wins) or the count has reached
// the length; a pass runs everything due at one instant.
class Model {
public:
    explicit Model(std::int64_t now) : now_(now) {}

    void Deliver(std::vector<std::uint8_t> bytes, std::int64_t delayMs)
    {
        // Stable by arrival time: equal times keep the order they were made in.
        const std::int64_t at = now_ + delayMs;
        const auto place = std::upper_bound(pending_.begin(), pending_.end(), at,
                                            [](std::int64_t t, const Delivery& d) { return t < d.at; });
        pending_.insert(place, Delivery{at, std::move(bytes)});
    }

    Reply AwaitReply(frame::ReplyRule rule)
    {
        buf_[0] = 0;
        count_ = 0;
        return Wait(rule);
    }

    const frame::RecBuffer& Buf() const { return buf_; }
    int Count() const { return count_; }
    std::int64_t Now() const { return now_; }

private:
    Reply Wait(frame::ReplyRule rule)
    {
        const std::int64_t deadline = now_ + rule.timeoutMs;
        std::int64_t pass = now_;
        for (;;) {
            while (!pending_.empty() && pending_.front().at <= pass) {
                Store(pending_.front().bytes);
                pending_.erase(pending_.begin());
            }
            now_ = pass;
            if (pass >= deadline)
                return Reply::TimedOut;
            if (count_ >= rule.length)
                return Reply::Answered;
            pass = pending_.empty() ? deadline : std::min(deadline, pending_.front().at);
        }
    }

    void Store(const std::vector<std::uint8_t>& bytes)
    {
        for (std::uint8_t b : bytes) {
            if (count_ >= frame::RecBufSize)
                continue;
            buf_[static_cast<std::size_t>(count_)] = b;
            ++count_;
        }
    }

    frame::RecBuffer buf_{};
    int count_ = 0;
    std::int64_t now_;
    std::vector<Delivery> pending_;  // by arrival time
};

std::vector<std::uint8_t> DeliveryBytes(Input& in)
{
    // A short pattern from the input, repeated to a size that may pass the
    // buffer's end without spelling out hundreds of bytes.
    const bool large = (in.Byte() & 0x0F) == 0;
    const int size = large ? in.Range(0, MaxDeliverySize) : in.Range(0, 40);
    std::vector<std::uint8_t> pattern = in.Bytes(static_cast<std::size_t>(std::min(size, 40)));
    if (pattern.empty())
        pattern.push_back(0x5A);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()] + i / pattern.size());
    return bytes;
}

frame::ReplyRule Rule(Input& in)
{
    const auto length = static_cast<std::int16_t>(in.Range(1, frame::RecBufSize));
    const bool zero = (in.Byte() & 0x1F) == 0;  // a zero time-out ticks on the first pass
    const auto timeout = static_cast<std::int16_t>(zero ? 0 : in.Range(1, MaxTimeOutMs));
    return {length, timeout};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    fake::FakeLinkParts parts;
    Link& link = parts.link;
    link.StartTimers();
    link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    FUZZ_CHECK(parts.tcp.Connected(), "the fake peer accepts the connection");

    Model model(parts.clock.Now());
    for (int op = 0; op < MaxOps && !in.Empty(); ++op) {
        const std::uint8_t kind = in.Byte() % 4;
        if (kind < 2) {
            std::vector<std::uint8_t> bytes = DeliveryBytes(in);
            const int delay = (in.Byte() & 1) != 0 ? in.Range(0, 20) : in.Range(0, MaxDelayMs);
            parts.tcp.Deliver(bytes, delay);
            model.Deliver(std::move(bytes), delay);
            continue;
        }
        const frame::ReplyRule rule = Rule(in);
        Reply got;
        Reply expected;
        if (kind == 2) {
            got = link.AwaitReply(rule);
            expected = model.AwaitReply(rule);
        } else {
            // One send, so one reply is owed: the wait is the same, but a whole
            // reply in the pass of the time-out answers the frame.
            frame::ReplyRule owed = rule;
            owed.length = std::min(rule.length, static_cast<std::int16_t>(frame::LongestReply));
            owed.locks = static_cast<frame::LocksFollow>(in.Byte() % 3);
            got = link.Exchange([](frame::SendBuffer& SendBuf,
                                   std::uint8_t&) { return frame::BuildShortFrame(SendBuf, frame::CmdSearch); },
                                owed);
            model.AwaitReply(owed);
            expected = model.Count() >= owed.length ? Reply::Answered : Reply::TimedOut;
            const auto answers = link.Answers();
            FUZZ_CHECK(answers.size() <= 1, "one send is owed one reply");
            std::vector<std::uint8_t> taken;
            for (const frame::Answer& answer : answers) {
                taken.insert(taken.end(), answer.Reply().begin(), answer.Reply().end());
                taken.insert(taken.end(), answer.locks.begin(), answer.locks.begin() + answer.lockCount);
                FUZZ_CHECK(answer.length == std::min<int>(owed.length, model.Count()),
                           "the reply holds the first bytes, up to its length");
                FUZZ_CHECK(answer.lockCount == 0 || answer.locksDue, "lock bytes only where they follow");
            }
            FUZZ_CHECK(std::ssize(taken) <= model.Count() &&
                           std::equal(taken.begin(), taken.end(), model.Buf().begin()),
                       "the answer is the wait's bytes in order, none skipped");
        }
        FUZZ_CHECK(got == expected, "the wait answered or timed out as the model says");
        FUZZ_CHECK(parts.clock.Now() == model.Now(), "the wait ended at the model's instant");
        FUZZ_CHECK(link.RecCount() == model.Count(), "RecCount matches the model");
        FUZZ_CHECK(link.RecCount() >= 0 && link.RecCount() <= frame::RecBufSize, "RecCount within the buffer");
        FUZZ_CHECK(link.RecBuf() == model.Buf(), "RecBuf matches the model, element for element");
    }
    return 0;
}
