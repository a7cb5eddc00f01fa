#pragma once

// One device's link on Qt's parts, loaded as the window loads it, for an
// owner that only hands the link to the engines and never looks inside.

#include <memory>

namespace modburn {

class Link;
class RunControl;
struct QtLinkParts;

// Made on, and used by, one thread; only control().Stop() may come from another.
class QtDevice {
public:
    QtDevice();
    ~QtDevice();
    QtDevice(const QtDevice&) = delete;
    QtDevice& operator=(const QtDevice&) = delete;

    Link& link();
    RunControl& control();

private:
    std::unique_ptr<QtLinkParts> parts_;
};

}  // namespace modburn
