// Virtual time: events kept in order of when they are due, run only when asked.

#include "virtualclock.h"

namespace modburn::fake {

VirtualClock::EventId VirtualClock::Schedule(std::int64_t at, std::function<void()> action)
{
    const EventId id = next_++;
    events_.emplace(Key{at < now_ ? now_ : at, id}, std::move(action));
    when_.emplace(id, at < now_ ? now_ : at);
    return id;
}

VirtualClock::EventId VirtualClock::NextPass(std::function<void()> action)
{
    const EventId id = next_++;
    nextPass_.emplace(id, std::move(action));
    return id;
}

void VirtualClock::Cancel(EventId id)
{
    if (nextPass_.erase(id) > 0)
        return;
    const auto it = when_.find(id);
    if (it == when_.end())
        return;
    events_.erase(Key{it->second, id});
    when_.erase(it);
}

bool VirtualClock::RunDue()
{
    for (auto& [id, action] : nextPass_) {
        events_.emplace(Key{now_, id}, std::move(action));
        when_.emplace(id, now_);
    }
    nextPass_.clear();
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
    if (!nextPass_.empty())
        return RunDue();
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
