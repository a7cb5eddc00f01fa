#pragma once

// The run-time error an action raises, for tests.

#include "platform/errors.h"

#include <functional>

namespace modburn {

// The number of the run-time error that `action` raises, or 0 when none.
inline int ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

}  // namespace modburn
