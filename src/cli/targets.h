#pragma once

// Turning the devices on the command line into addresses to connect to:
// every host name is resolved up front, before anything is sent.

#include "cli/options.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace modburn::cli {

// One device to work on: how reports name it and where its link goes.
struct Target {
    QString label;    // as DeviceEntry::Label(): the host as written, and the port
    QString address;  // an address literal, so the link itself never looks a name up
    int port = DefaultPort;
};

// The address for a host, or nothing when it cannot be resolved.
using Resolver = std::function<std::optional<QString>(const QString& host)>;

// Address literals as they are; names through the system resolver, taking
// its first IPv4 address when it has one (devices are mostly IPv4), else its first.
std::optional<QString> SystemResolve(const QString& host);

struct Targets {
    std::vector<Target> targets;  // meaningful only when error is empty
    QString error;
};

// Resolves every device; a name that does not resolve, or two entries for the
// same address and port, is an error. With `keepUnresolved` (the preflight) a
// name that does not resolve stays a name, for its link to look up and report.
Targets ResolveDevices(const std::vector<DeviceEntry>& devices, const Resolver& resolve, bool keepUnresolved = false);

}  // namespace modburn::cli
