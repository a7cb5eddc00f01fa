#pragma once

// The simulator's command line on QCommandLineParser, apart from the device
// core so that the core stays free of Qt; tests parse arguments in-process.

#include <QString>
#include <QStringList>

#include "device.h"

namespace modburn::devsim {

// One process serves at most this many devices, each with two or three descriptors.
inline constexpr int MaxDevices = 1024;

// Everything the command line decides; each default is given here or in Options.
struct CommandLine {
    Options options;
    int port = 4001;          // on 127.0.0.1; 0 picks a free one
    int devices = 1;          // served on port, port + 1, ... (free ones for port 0)
    bool transcript = false;  // one line per received frame on stdout
    bool help = false;        // print HelpText() and do nothing else
};

struct ParseResult {
    CommandLine commandLine;  // meaningful only when error is empty
    QString error;            // one line, without the program name
};

// Applies `args`, the arguments after the program name, to the defaults.
ParseResult ParseCommandLine(const QStringList& args);

// What --help prints, generated from the same declarations as the parser.
QString HelpText();

}  // namespace modburn::devsim
