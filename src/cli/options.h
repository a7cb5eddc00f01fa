#pragma once

// The command line of modburn-cli parsed into a plain struct, without side
// effects, so every accepted and refused argument can be tested directly. The
// one file it reads (--devices-from) comes through a reader the caller gives.

#include "image/image.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace modburn::cli {

inline constexpr int DefaultPort = 4001;
// Each device is a thread with a few descriptors (the soft limit is raised to
// the hard one first); beyond this an operator should split the fleet rather
// than meet the descriptor limit mid-run.
inline constexpr int MaxDevices = 1024;

enum class Command { Help, Version, Program, FontDownload, FontCheck };

// A device as written on the command line, before its host is resolved.
struct DeviceEntry {
    QString host;  // an IPv4 or IPv6 address, or a host name (IPv6 without brackets)
    int port = DefaultPort;
    // How reports name the device: host:port, [v6]:port for IPv6.
    QString Label() const;
};

struct CommandLine {
    Command command = Command::Help;
    bool json = false;
    bool dryRun = false;                         // --dry-run (program): connect and close, send nothing
    std::optional<QString> image;                // --image FILE (program); "-" is standard input
    image::Format format = image::Format::Auto;  // --format NAME (program)
    int port = DefaultPort;                      // --port N, for devices without their own
    std::optional<double> giveUpAfterS;          // --give-up-after S (program)
    std::optional<QString> devicesFrom;          // --devices-from FILE (program)
    std::vector<DeviceEntry> devices;            // the command line's, then the file's; one for the font operations
    QString fontName;                            // font-download: NAME as given; the file is NAME.bin, blanks trimmed
    std::int32_t checksum = 0;                   // font-check
    std::int16_t firstPage = 0;
    std::int16_t lastPage = 0;
};

struct ParseResult {
    CommandLine line;  // meaningful only when error is empty
    QString error;     // one line, without the program name
};

// The text of a file, or nothing with `error` saying why it cannot be had.
using TextReader = std::function<std::optional<QString>(const QString& path, QString* error)>;

// From disk: UTF-8, at most 4 MiB.
std::optional<QString> ReadDeviceListFile(const QString& path, QString* error);

// `args` are the arguments after the program name.
ParseResult ParseCommandLine(const QStringList& args, const TextReader& read = ReadDeviceListFile);

// The pieces, for the parser and its tests. Each returns nothing for text it
// refuses; none of them trims or accepts hex, non-ASCII digits or a sign
// (but the checksum's minus).
std::optional<std::int16_t> ParsePageText(const QString& text);      // 0..32767
std::optional<std::int32_t> ParseChecksumText(const QString& text);  // signed 32-bit decimal
std::optional<double> ParseSecondsText(const QString& text);         // > 0, decimal, e.g. 2.5
// ADDRESS[:PORT], [v6]:PORT, or a bare IPv6 address; `error` says what is wrong.
std::optional<DeviceEntry> ParseDeviceText(const QString& text, int defaultPort, QString* error);
// A device list: one device a line as on the command line; blanks around it,
// blank lines and everything from '#' on are skipped. `error` names `source`
// and the line ("devices.txt:3: device ...").
std::optional<std::vector<DeviceEntry>> ParseDeviceList(const QString& text, const QString& source, int defaultPort,
                                                        QString* error);

QString ToolVersion();

QString HelpText();
QString VersionText();

}  // namespace modburn::cli
