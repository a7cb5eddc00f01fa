// Frames cut where the link's send ends, then lost, answered, delayed, split
// or bunched on their way back.

#include "faultyline.h"

#include <algorithm>

namespace modburn::fake {

namespace {
constexpr int ShortTimeOutMs = 500;
constexpr int PageTimeOutMs = 5000;
constexpr int FontPageTimeOutMs = 2000;
constexpr int CheckTimeOutMs = 5000;
// A late reply's last byte, split a millisecond apart, still comes within
// twice the time-out.
constexpr int LateMarginMs = 50;
}  // namespace

FaultyLine::FaultyLine(VirtualClock& clock, FakeSocket& socket, devsim::Options options, LineFaults faults,
                       std::uint64_t seed)
    : device(std::move(options)), clock_(clock), socket_(socket), faults_(faults), rng_(seed)
{
    socket_.onByteSent = [this](std::uint8_t byte) { OnByte(byte); };
    socket_.onConnected = [this] {
        if (Chance(faults_.garbageAtConnect))
            socket_.Deliver(Garbage(), 0);
    };
}

std::vector<std::uint8_t> FaultyLine::Garbage()
{
    std::vector<std::uint8_t> garbage(std::uniform_int_distribution<std::size_t>(1, 40)(rng_));
    for (auto& b : garbage)
        b = static_cast<std::uint8_t>(rng_());
    return garbage;
}

bool FaultyLine::Chance(double p)
{
    return p > 0 && std::uniform_real_distribution<double>(0, 1)(rng_) < p;
}

int FaultyLine::TimeOutOf(const std::vector<std::uint8_t>& frame)
{
    if (frame.size() < 4)
        return ShortTimeOutMs;
    const char command = static_cast<char>(frame[2]);
    const char qualifier = static_cast<char>(frame[3]);
    if (command == 'W')
        return qualifier == 'Q' ? PageTimeOutMs : FontPageTimeOutMs;
    if (command == 'C' && qualifier != 'Q')
        return CheckTimeOutMs;
    return ShortTimeOutMs;
}

bool FaultyLine::IsLastModulePage(const std::vector<std::uint8_t>& frame)
{
    return frame.size() == frame::PageFrameLen && frame[2] == 'W' && frame[3] == 'Q' && frame[4] == '7' &&
           frame[5] == 'F';
}

void FaultyLine::OnConnect()
{
    connection_ = socket_.connectCalls;
    session_ = std::make_unique<devsim::Session>(device);
    busyUntil_ = 0;
    pending_.clear();
    // Garbage before the answer to the first frame: a device that accepts any
    // byte as that answer cannot tell it from one.
    if (Chance(faults_.garbageInHandshake)) {
        busyUntil_ = clock_.Now() + Send(Garbage(), 0, false);
        garbageAnsweredAFrame = true;
    }
}

void FaultyLine::OnByte(std::uint8_t byte)
{
    if (connection_ != socket_.connectCalls)
        OnConnect();
    pending_.push_back(byte);
    // The link sends a frame byte by byte without yielding: the frame is
    // whole once the clock runs again.
    if (!flushScheduled_) {
        flushScheduled_ = true;
        clock_.After(0, [this] { Flush(); });
    }
}

void FaultyLine::Flush()
{
    flushScheduled_ = false;
    std::vector<std::uint8_t> frame;
    frame.swap(pending_);
    const int number = ++framesCarried;
    const auto scripted = script.find(number);
    const FrameScript fate = scripted != script.end() ? scripted->second : FrameScript{};
    const bool chance = scripted == script.end();

    if (fate.lost || (chance && Chance(faults_.frameLost))) {
        ++framesLost;
        return;
    }
    const int timeOut = TimeOutOf(frame);
    std::vector<devsim::Action> actions = session_->Feed(frame);
    const int firstDelay = actions.empty() ? 0 : actions.front().delayMs;
    const bool lost = fate.replyLost || (chance && Chance(faults_.replyLost));
    int extra = fate.extraDelayMs;
    if (chance && Chance(faults_.replyLate)) {
        const int latest = 2 * timeOut - firstDelay - LateMarginMs;
        extra = latest > timeOut ? std::uniform_int_distribution<int>(timeOut + 1, latest)(rng_) : 0;
        ++repliesLate;
    } else if (chance && Chance(faults_.replyAtTimeOut)) {
        extra = std::max(0, timeOut - firstDelay);
    } else if (chance && Chance(faults_.replySlow)) {
        extra = std::uniform_int_distribution<int>(0, timeOut / 2)(rng_);
    }
    // Whatever the delays add up to, a reply comes within twice its frame's
    // time-out or never: the model that the link's count of owed replies rests on.
    extra = std::min(extra, std::max(0, 2 * timeOut - LateMarginMs - firstDelay));
    const bool split = chance && Chance(faults_.replySplit);
    if (!lost && IsLastModulePage(frame) && !actions.empty() && !actions.front().bytes.empty() &&
        actions.front().bytes.front() == frame::PageAcceptedByte && fate.reply.empty())
        ++lastPageAcceptancesDelivered;

    std::int64_t at = clock_.Now();
    bool first = true;
    for (devsim::Action& action : actions) {
        at += action.delayMs;
        if (lost && !action.bytes.empty()) {
            // The answer is lost on the way; the device closing the link is not.
            ++repliesLost;
            action.bytes.clear();
        }
        if (first && !fate.reply.empty() && !action.bytes.empty())
            action.bytes = fate.reply;
        first = first && action.bytes.empty();
        // One frame at a time, as a device works: an answer never overtakes the
        // one before it, and the work for this one starts once that is out.
        busyUntil_ = std::max(busyUntil_ + action.delayMs, at + extra);
        if (!action.bytes.empty())
            busyUntil_ += Send(std::move(action.bytes), busyUntil_ - clock_.Now(), split);
        if (action.close) {
            socket_.HangUp(busyUntil_ - clock_.Now());
            hungUp = true;
        }
    }
}

std::int64_t FaultyLine::Send(std::vector<std::uint8_t> bytes, std::int64_t delayMs, bool split)
{
    if (!split) {
        socket_.Deliver(std::move(bytes), delayMs);
        return 0;
    }
    // A millisecond apart, so each byte is a delivery of its own.
    const auto spread = static_cast<std::int64_t>(bytes.size()) - 1;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        socket_.Deliver({bytes[i]}, delayMs + static_cast<std::int64_t>(i));
    return spread;
}

}  // namespace modburn::fake
