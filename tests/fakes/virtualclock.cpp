#include "virtualclock.h"

namespace modburn::fake {

VirtualClock::EventId VirtualClock::Schedule(std::int64_t at, std::function<void()> action)
{
    const EventId id = next_++;
    events_.emplace(Key{at < now_ ? now_ : at, id}, std::move(action));
    when_.emplace(id, at < now_ ? now_ : at);
    return id;
}

void VirtualClock::Cancel(EventId id)
{
    const auto it = when_.find(id);
    if (it == when_.end())
        return;
    events_.erase(Key{it->second, id});
    when_.erase(it);
}

bool VirtualClock::RunDue()
{
    bool ran = false;
    while (!events_.empty() && events_.begin()->first.at <= now_) {
        auto node = events_.extract(events_.begin());
        when_.erase(node.key().id);
        node.mapped()();
        ran = true;
    }
    return ran;
}

bool VirtualClock::AdvanceToNext()
{
    if (events_.empty())
        return false;
    now_ = events_.begin()->first.at;
    RunDue();
    return true;
}

void VirtualClock::AdvanceTo(std::int64_t at)
{
    while (!events_.empty() && events_.begin()->first.at <= at) {
        now_ = events_.begin()->first.at;
        RunDue();
    }
    if (at > now_)
        now_ = at;
}

}  // namespace modburn::fake
