#pragma once

// modburn-cli from its arguments to its exit status: checks every input
// before anything is sent, then runs the command with its reporter.

namespace modburn::cli {

inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitGaveUp = 3;
inline constexpr int ExitInterrupted = 130;

// The whole program; makes its own QCoreApplication.
int Main(int argc, char* argv[]);

}  // namespace modburn::cli
