#pragma once

// The simulator's command line: every option with its help text and checks,
// in plain C++ so tests can parse arguments without starting the process.

#include <cstdint>
#include <string>
#include <vector>

#include "device.h"

namespace modburn::devsim {

// One process serves at most this many devices, each with two or three descriptors.
inline constexpr int MaxDevices = 1024;

// Everything the command line decides; each default is given here or in Options.
struct CommandLine {
    Options options;
    std::uint16_t port = 4001;  // on 127.0.0.1; 0 picks a free one
    int devices = 1;            // served on port, port + 1, ... (free ones for port 0)
    bool transcript = false;    // one line per received frame on stdout
    bool help = false;          // print HelpText() and do nothing else
};

struct ParseResult {
    CommandLine commandLine;  // meaningful only when error is empty
    std::string error;        // one line, without the program name
};

// Applies `args`, the arguments after the program name, to the defaults.
// Accepts what the command line always has: --name value, --name=value, -h,
// "--" before plain arguments (which are then refused as unexpected).
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// What --help prints; `program` is the name the simulator was started by.
std::string HelpText(const std::string& program);

}  // namespace modburn::devsim
