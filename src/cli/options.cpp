// Parsing modburn-cli's arguments: commands, options, device addresses and
// the numbers the font operations take.

#include "cli/options.h"

#include "cli/files.h"
#include "platform/errors.h"
#include "platform/text.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>
#include <limits>
#include <map>

#ifndef MODBURN_VERSION
#define MODBURN_VERSION "unknown"
#endif

namespace modburn::cli {

namespace {

constexpr double MaxSeconds = 1e6;
// Long enough for any real argument; longer text is only quoted in part.
constexpr int QuoteLength = 40;

// The whole text matches `pattern`, which spells digits as [0-9]: never
// trimmed, and no other script's digits.
bool Matches(const QString& text, const char* pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern))).match(text).hasMatch();
}

std::optional<int> ParsePortText(const QString& text)
{
    // The link's own rule: whole decimal numbers 1..65535, never wrapped.
    try {
        return ParsePort(text);
    } catch (const RuntimeError&) {
        return std::nullopt;
    }
}

// An argument as error messages show it: quoted, and cut when very long.
QString Quote(const QString& text)
{
    if (text.size() > QuoteLength)
        return QStringLiteral("'%1...' (%2 characters)").arg(text.left(QuoteLength)).arg(text.size());
    return QStringLiteral("'%1'").arg(text);
}

bool IsIPv6(const QString& text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

// Letters, digits and hyphens in dot-separated labels of up to 63, no label
// starting or ending with a hyphen, at most 253 in all before an optional
// final dot: anything else is refused before any lookup is made.
bool IsHostName(const QString& text)
{
    return Matches(text, "(?=.{1,253}\\.?\\z)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                         "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?");
}

enum class Takes { Flag, Value };

struct OptionRule {
    Takes takes;
    std::vector<Command> commands;
};

const std::map<QString, OptionRule>& Rules()
{
    static const std::map<QString, OptionRule> rules{
        {QStringLiteral("--image"), {Takes::Value, {Command::Program}}},
        {QStringLiteral("--give-up-after"), {Takes::Value, {Command::Program}}},
        {QStringLiteral("--devices-from"), {Takes::Value, {Command::Program}}},
        {QStringLiteral("--port"), {Takes::Value, {Command::Program, Command::FontDownload, Command::FontCheck}}},
        {QStringLiteral("--json"), {Takes::Flag, {Command::Program, Command::FontDownload, Command::FontCheck}}},
    };
    return rules;
}

std::optional<Command> CommandNamed(const QString& name)
{
    if (name == QLatin1String("program"))
        return Command::Program;
    if (name == QLatin1String("font-download"))
        return Command::FontDownload;
    if (name == QLatin1String("font-check"))
        return Command::FontCheck;
    return std::nullopt;
}

struct Failure {
    QString message;
};

void ApplyOption(CommandLine& line, const QString& name, const QString& value)
{
    if (name == QLatin1String("--json")) {
        line.json = true;
    } else if (name == QLatin1String("--image")) {
        if (value.isEmpty())
            throw Failure{QStringLiteral("--image: the file name is empty")};
        line.image = value;
    } else if (name == QLatin1String("--port")) {
        const auto port = ParsePortText(value);
        if (!port)
            throw Failure{QStringLiteral("--port: %1 is not a port number (1..65535)").arg(Quote(value))};
        line.port = *port;
    } else if (name == QLatin1String("--give-up-after")) {
        const auto seconds = ParseSecondsText(value);
        if (!seconds)
            throw Failure{
                QStringLiteral("--give-up-after: %1 is not a number of seconds greater than 0").arg(Quote(value))};
        line.giveUpAfterS = seconds;
    } else if (name == QLatin1String("--devices-from")) {
        if (value.isEmpty())
            throw Failure{QStringLiteral("--devices-from: the file name is empty")};
        line.devicesFrom = value;
    }
}

std::int16_t Page(const QString& what, const QString& text)
{
    const auto page = ParsePageText(text);
    if (!page)
        throw Failure{QStringLiteral("%1: %2 is not a page number (0..32767)").arg(what, Quote(text))};
    return *page;
}

void ApplyPositionals(CommandLine& line, const QStringList& positionals, const TextReader& read)
{
    const auto device = [&line](const QString& text) {
        QString error;
        const auto entry = ParseDeviceText(text, line.port, &error);
        if (!entry)
            throw Failure{error};
        return *entry;
    };
    const auto pages = [&line](const QString& first, const QString& last) {
        line.firstPage = Page(QStringLiteral("FIRST_PAGE"), first);
        line.lastPage = Page(QStringLiteral("LAST_PAGE"), last);
        if (line.lastPage < line.firstPage)
            throw Failure{
                QStringLiteral("LAST_PAGE %1 is before FIRST_PAGE %2").arg(line.lastPage).arg(line.firstPage)};
    };

    switch (line.command) {
    case Command::Program: {
        std::vector<DeviceEntry> listed;
        if (line.devicesFrom) {
            QString error;
            const auto text = read(*line.devicesFrom, &error);
            if (!text)
                throw Failure{QStringLiteral("--devices-from: %1").arg(error)};
            const auto entries = ParseDeviceList(*text, *line.devicesFrom, line.port, &error);
            if (!entries)
                throw Failure{error};
            listed = *entries;
        }
        const qsizetype count = positionals.size() + static_cast<qsizetype>(listed.size());
        if (count == 0)
            throw Failure{
                line.devicesFrom
                    ? QStringLiteral("program: no device address given, and none in %1").arg(Quote(*line.devicesFrom))
                    : QStringLiteral("program: no device address given")};
        if (count > MaxDevices)
            throw Failure{QStringLiteral("program: %1 devices given, at most %2 at once").arg(count).arg(MaxDevices)};
        for (const QString& text : positionals)
            line.devices.push_back(device(text));
        line.devices.insert(line.devices.end(), listed.begin(), listed.end());
        break;
    }
    case Command::FontDownload:
        if (positionals.size() != 4)
            throw Failure{QStringLiteral("font-download takes ADDRESS[:PORT] NAME FIRST_PAGE LAST_PAGE")};
        line.devices.push_back(device(positionals[0]));
        // As given: the download trims it for the file name, but matches a
        // library's captions on the exact name, as the window's caller would.
        line.fontName = positionals[1];
        if (TrimBlanks(line.fontName).isEmpty())
            throw Failure{QStringLiteral("font-download: NAME is empty")};
        pages(positionals[2], positionals[3]);
        break;
    case Command::FontCheck: {
        if (positionals.size() != 4)
            throw Failure{QStringLiteral("font-check takes ADDRESS[:PORT] CHECKSUM FIRST_PAGE LAST_PAGE")};
        line.devices.push_back(device(positionals[0]));
        const auto checksum = ParseChecksumText(positionals[1]);
        if (!checksum)
            throw Failure{QStringLiteral("CHECKSUM: %1 is not a whole number from -2147483648 to 2147483647")
                              .arg(Quote(positionals[1]))};
        line.checksum = *checksum;
        pages(positionals[2], positionals[3]);
        break;
    }
    case Command::Help:
    case Command::Version:
        break;
    }
}

}  // namespace

QString DeviceEntry::Label() const
{
    const QString shown = host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
    return shown + u':' + QString::number(port);
}

std::optional<std::int16_t> ParsePageText(const QString& text)
{
    if (!Matches(text, "[0-9]{1,10}") || text.toLongLong() > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(text.toLongLong());
}

std::optional<std::int32_t> ParseChecksumText(const QString& text)
{
    const qlonglong value = text.toLongLong();
    if (!Matches(text, "-?[0-9]{1,12}") || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> ParseSecondsText(const QString& text)
{
    if (text.size() > 20 || !Matches(text, "[0-9]+(\\.[0-9]+)?"))
        return std::nullopt;
    const double seconds = text.toDouble();
    if (!(seconds > 0) || seconds > MaxSeconds)
        return std::nullopt;
    return seconds;
}

std::optional<DeviceEntry> ParseDeviceText(const QString& text, int defaultPort, QString* error)
{
    const auto fail = [&](const QString& why) -> std::optional<DeviceEntry> {
        *error = QStringLiteral("device %1: %2").arg(Quote(text), why);
        return std::nullopt;
    };
    if (text.isEmpty())
        return fail(QStringLiteral("empty address"));

    QString host;
    std::optional<QString> portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return fail(QStringLiteral("'[' without ']'"));
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return fail(QStringLiteral("expected ':PORT' after ']'"));
            portText = rest.mid(1);
        }
        if (!IsIPv6(host))
            return fail(QStringLiteral("not an IPv6 address in brackets"));
    } else if (text.count(u':') > 1) {
        // More than one colon can only be a bare IPv6 address, which has no port.
        if (!IsIPv6(text))
            return fail(QStringLiteral("not an address (write an IPv6 address with a port as [address]:port)"));
        host = text;
    } else {
        const qsizetype colon = text.indexOf(u':');
        host = colon < 0 ? text : text.left(colon);
        if (colon >= 0)
            portText = text.mid(colon + 1);
        if (!IsHostName(host))
            return fail(QStringLiteral("not an IPv4 address or host name"));
    }

    DeviceEntry entry{host, defaultPort};
    if (portText) {
        const auto port = ParsePortText(*portText);
        if (!port)
            return fail(QStringLiteral("port %1 is not a number from 1 to 65535").arg(Quote(*portText)));
        entry.port = *port;
    }
    return entry;
}

std::optional<std::vector<DeviceEntry>> ParseDeviceList(const QString& text, const QString& source, int defaultPort,
                                                        QString* error)
{
    std::vector<DeviceEntry> entries;
    int number = 0;
    // Some editors start UTF-8 with a byte order mark; it is not part of the first device.
    const QStringView body = text.startsWith(QChar(0xFEFF)) ? QStringView(text).mid(1) : QStringView(text);
    for (const QStringView raw : body.split(u'\n')) {
        ++number;
        // No device text holds a '#', so a comment may follow one on its line.
        const qsizetype hash = raw.indexOf(u'#');
        const QString item = (hash < 0 ? raw : raw.left(hash)).trimmed().toString();
        if (item.isEmpty())
            continue;
        QString why;
        const auto entry = ParseDeviceText(item, defaultPort, &why);
        if (!entry) {
            *error = QStringLiteral("%1:%2: %3").arg(source).arg(number).arg(why);
            return std::nullopt;
        }
        entries.push_back(*entry);
        // Refused here already, so a huge list is not parsed to the end first.
        if (static_cast<qsizetype>(entries.size()) > MaxDevices) {
            *error = QStringLiteral("%1:%2: more than %3 devices").arg(source).arg(number).arg(MaxDevices);
            return std::nullopt;
        }
    }
    return entries;
}

std::optional<QString> ReadDeviceListFile(const QString& path, QString* error)
{
    QByteArray bytes;
    if (const auto why = CheckReadableFile(path, MaxDeviceListBytes, &bytes)) {
        *error = *why;
        return std::nullopt;
    }
    return QString::fromUtf8(bytes);
}

ParseResult ParseCommandLine(const QStringList& args, const TextReader& read)
{
    ParseResult result;
    CommandLine& line = result.line;
    try {
        // Help and version win wherever they stand, as long as options are still read.
        for (const QString& arg : args) {
            if (arg == QLatin1String("--"))
                break;
            if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
                line.command = Command::Help;
                return result;
            }
            if (arg == QLatin1String("--version")) {
                line.command = Command::Version;
                return result;
            }
        }
        if (args.isEmpty())
            throw Failure{QStringLiteral("no command given")};
        const auto command = CommandNamed(args.front());
        if (!command)
            throw Failure{QStringLiteral("unknown command %1").arg(Quote(args.front()))};
        line.command = *command;

        // Options first, so --port applies to every device wherever it stands.
        QStringList positionals;
        QStringList seen;
        bool optionsEnded = false;
        for (qsizetype i = 1; i < args.size(); ++i) {
            const QString& arg = args[i];
            if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
                positionals << arg;
                continue;
            }
            if (arg == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            const qsizetype equals = arg.indexOf(u'=');
            const QString name = equals < 0 ? arg : arg.left(equals);
            const auto rule = Rules().find(name);
            if (rule == Rules().end())
                throw Failure{QStringLiteral("unknown option %1").arg(Quote(name))};
            const auto& commands = rule->second.commands;
            if (std::find(commands.begin(), commands.end(), line.command) == commands.end())
                throw Failure{QStringLiteral("%1 does not apply to %2").arg(name, args.front())};
            if (seen.contains(name))
                throw Failure{QStringLiteral("%1 given twice").arg(name)};
            seen << name;
            QString value;
            if (rule->second.takes == Takes::Flag) {
                if (equals >= 0)
                    throw Failure{QStringLiteral("%1 takes no value").arg(name)};
            } else if (equals >= 0) {
                value = arg.mid(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                throw Failure{QStringLiteral("%1 needs a value").arg(name)};
            }
            ApplyOption(line, name, value);
        }
        ApplyPositionals(line, positionals, read);
    } catch (const Failure& failure) {
        result.error = failure.message;
    }
    return result;
}

QString HelpText()
{
    return QStringLiteral(
        "Usage:\n"
        "  modburn-cli program       [--image FILE] [--port N] [--give-up-after S] [--json]\n"
        "                            [--devices-from FILE] ADDRESS[:PORT]...\n"
        "  modburn-cli font-download [--port N] [--json] ADDRESS[:PORT] NAME FIRST_PAGE LAST_PAGE\n"
        "  modburn-cli font-check    [--port N] [--json] ADDRESS[:PORT] CHECKSUM FIRST_PAGE LAST_PAGE\n"
        "  modburn-cli --help | --version\n"
        "\n"
        "program        programs the print-driver module of every device at once,\n"
        "               each on its own link, and prints a summary at the end.\n"
        "font-download  sends NAME.bin from the working folder into the font pages\n"
        "               FIRST_PAGE..LAST_PAGE and has the device verify them.\n"
        "font-check     asks the device whether those pages sum to CHECKSUM.\n"
        "\n"
        "ADDRESS is an IPv4 address, a host name or an IPv6 address; a port of its\n"
        "own is written ADDRESS:PORT or [IPv6]:PORT.\n"
        "\n"
        "Options:\n"
        "  --image FILE        the firmware image (default TavimorkAVRMODavr.bin in the\n"
        "                      working folder; at most 8192 bytes)\n"
        "  --port N            the TCP port of devices without their own (default 4001)\n"
        "  --give-up-after S   stop every run still going after S seconds (exit 3)\n"
        "  --devices-from FILE more devices, one a line as on the command line\n"
        "                      (blank lines and # comments skipped)\n"
        "  --json              one JSON object per line and event on stdout\n"
        "\n"
        "Exit status: 0 all done, 1 a device not programmed or an operation failed,\n"
        "2 bad usage or input (nothing sent), 3 --give-up-after ran out,\n"
        "130 interrupted (Ctrl-C or SIGTERM).\n");
}

QString ToolVersion()
{
    return QStringLiteral(MODBURN_VERSION);
}

QString VersionText()
{
    return QStringLiteral("modburn-cli %1\n").arg(ToolVersion());
}

}  // namespace modburn::cli
