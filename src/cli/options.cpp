// modburn-cli's arguments on QCommandLineParser: one table declares every
// option, the commands it applies to, its help and how its value lands in the
// CommandLine, and the help is made from it. Ours are only the device
// addresses, the numbers and what each command's operands must be.

#include "cli/options.h"

#include "cli/files.h"
#include "platform/errors.h"
#include "platform/text.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>

namespace modburn::cli {

namespace {

constexpr double MaxSeconds = 1e6;
constexpr qint64 MaxDeviceListBytes = qint64{4} * 1024 * 1024;  // more is not a list a person wrote
constexpr int QuoteLength = 40;  // enough for any real argument; longer text is quoted in part
constexpr const char* PageKind = "a page number (0..32767)";
constexpr QChar NoBreak = u'\u00A0';  // keeps a usage unit such as "[--port N]" on one line of the help

// Qt takes every "-..." for an option, but a negative number is a checksum or
// a value for our checks to refuse, and no option of ours starts with a digit.
// Such an argument passes Qt behind a mark no argument can hold (argv has no
// NUL), taken off again from whatever Qt hands back.
constexpr QChar Mark = u'\0';

QString Unmarked(const QString& text)
{
    return text.startsWith(Mark) ? text.mid(1) : text;
}

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

std::optional<QString> FileName(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

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

struct Failure {
    QString message;
};

// `error` is read once `value` is there, so the call that made `value` may have set it.
template <typename T>
T Need(const std::optional<T>& value, const QString& error, const QString& prefix = {})
{
    if (!value)
        throw Failure{prefix + error};
    return *value;
}

// An argument as given, with what it is (an option, an operand) for the messages.
struct Given {
    QString what;
    QString text;
    template <typename Parse>
    auto As(Parse parse, const char* kind) const
    {
        return Need(parse(text), QStringLiteral("%1: %2 is not %3").arg(what, Quote(text), QLatin1String(kind)));
    }
};

struct CommandDeclaration {
    Command command;
    const char* name;
    const char* operands;
    const char* help;
};

constexpr std::array Commands{
    CommandDeclaration{Command::Program, "program", "ADDRESS[:PORT]...", "programs every device's module at once"},
    CommandDeclaration{Command::FontDownload, "font-download", "ADDRESS[:PORT] NAME FIRST_PAGE LAST_PAGE",
                       "sends NAME.bin into the font pages and has the device verify them"},
    CommandDeclaration{Command::FontCheck, "font-check", "ADDRESS[:PORT] CHECKSUM FIRST_PAGE LAST_PAGE",
                       "asks the device whether the pages sum to CHECKSUM"},
};

struct OptionDeclaration {
    const char* name;
    const char* valueName;  // empty for a flag
    std::vector<Command> commands;
    const char* help;
    void (*apply)(CommandLine& line, const Given& value);

    bool AppliesTo(Command command) const { return std::ranges::find(commands, command) != commands.end(); }
    // U+00A0 (NoBreak) between name and value, which trimmed() takes off after a flag.
    QString Synopsis() const { return QStringLiteral("--%1\u00A0%2").arg(name, valueName).trimmed(); }
};

const std::vector<Command> ForProgram{Command::Program};
const std::vector<Command> ForEvery{Command::Program, Command::FontDownload, Command::FontCheck};

// Every option, once: a new one is a row here and its field in CommandLine.
const std::vector<OptionDeclaration> Options{
    {"image", "FILE", ForProgram,
     "the firmware image: raw bytes, Intel HEX, S-record or AVR ELF, for at most 8192 bytes of flash; - reads "
     "it from standard input (default TavimorkAVRMODavr.bin)",
     [](CommandLine& line, const Given& value) { line.image = value.As(FileName, "a file name"); }},
    {"format", "NAME", ForProgram, "the image's format, bin, ihex, srec or elf (default: told by its content)",
     [](CommandLine& line, const Given& value) {
         line.format = value.As(image::ParseFormat, "a format (bin, ihex, srec or elf)");
     }},
    {"port", "N", ForEvery, "the TCP port of devices without their own (default 4001)",
     [](CommandLine& line, const Given& value) { line.port = value.As(ParsePortText, "a port number (1..65535)"); }},
    {"give-up-after", "S", ForProgram, "stop every run still going after S seconds (exit 3)",
     [](CommandLine& line, const Given& value) {
         line.giveUpAfterS = value.As(ParseSecondsText, "a number of seconds greater than 0");
     }},
    {"devices-from", "FILE", ForProgram, "more devices, one a line as on the command line (# starts a comment)",
     [](CommandLine& line, const Given& value) { line.devicesFrom = value.As(FileName, "a file name"); }},
    {"dry-run", "", ForProgram,
     "check the image, then connect to every device and close again without sending a byte; each is reachable "
     "or unreachable (exit 1 if one is not)",
     [](CommandLine& line, const Given&) { line.dryRun = true; }},
    {"json", "", ForEvery, "one JSON object per line and event on stdout",
     [](CommandLine& line, const Given&) { line.json = true; }},
};

const OptionDeclaration* OptionNamed(const QString& name)
{
    const auto found =
        std::ranges::find_if(Options, [&](const OptionDeclaration& option) { return name == option.name; });
    return found == Options.end() ? nullptr : &*found;
}

void ApplyOperands(CommandLine& line, const CommandDeclaration& command, const QStringList& operands,
                   const TextReader& read)
{
    QString error;
    const auto device = [&](const QString& text) { return Need(ParseDeviceText(text, line.port, &error), error); };
    if (line.command == Command::Program) {
        std::vector<DeviceEntry> listed;
        if (line.devicesFrom) {
            const QString text = Need(read(*line.devicesFrom, &error), error, QStringLiteral("--devices-from: "));
            listed = Need(ParseDeviceList(text, *line.devicesFrom, line.port, &error), error);
        }
        const qsizetype count = operands.size() + static_cast<qsizetype>(listed.size());
        if (count == 0)
            throw Failure{QStringLiteral("program: no device address given") +
                          (line.devicesFrom ? QStringLiteral(", and none in ") + Quote(*line.devicesFrom) : QString())};
        if (count > MaxDevices)
            throw Failure{QStringLiteral("program: %1 devices given, at most %2 at once").arg(count).arg(MaxDevices)};
        std::ranges::transform(operands, std::back_inserter(line.devices), device);
        line.devices.insert(line.devices.end(), listed.begin(), listed.end());
        return;
    }
    if (operands.size() != 4)
        throw Failure{QStringLiteral("%1 takes %2").arg(command.name, command.operands)};
    line.devices.push_back(device(operands[0]));
    if (line.command == Command::FontDownload) {
        // As given: the download trims it for the file name, but matches a
        // library's captions on the exact name, as the window's caller would.
        line.fontName = operands[1];
        if (TrimBlanks(line.fontName).isEmpty())
            throw Failure{QStringLiteral("font-download: NAME is empty")};
    } else {
        line.checksum = Given{QStringLiteral("CHECKSUM"), operands[1]}.As(
            ParseChecksumText, "a whole number from -2147483648 to 2147483647");
    }
    line.firstPage = Given{QStringLiteral("FIRST_PAGE"), operands[2]}.As(ParsePageText, PageKind);
    line.lastPage = Given{QStringLiteral("LAST_PAGE"), operands[3]}.As(ParsePageText, PageKind);
    if (line.lastPage < line.firstPage)
        throw Failure{QStringLiteral("LAST_PAGE %1 is before FIRST_PAGE %2").arg(line.lastPage).arg(line.firstPage)};
}

// `head` padded to `indent`, then `text` filled up to 79 columns, going on under `indent`.
QString Block(const QString& head, QString text, qsizetype indent)
{
    text.replace(QRegularExpression(QStringLiteral("(.{1,%1})( +|$)").arg(79 - indent)), QStringLiteral("\\1\n"));
    text.chop(1);
    return head.leftJustified(indent - 1) + u' ' + text.replace(u'\n', u'\n' + QString(indent, u' ')) + u'\n';
}

}  // namespace

QString DeviceEntry::Label() const
{
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

std::optional<std::int16_t> ParsePageText(const QString& text)
{
    const qlonglong page = text.toLongLong();
    if (!Matches(text, "[0-9]{1,10}") || page > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(page);
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
    const double seconds = text.toDouble();
    if (text.size() > 20 || !Matches(text, "[0-9]+(\\.[0-9]+)?") || !(seconds > 0) || seconds > MaxSeconds)
        return std::nullopt;
    return seconds;
}

std::optional<DeviceEntry> ParseDeviceText(const QString& text, int defaultPort, QString* error)
{
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("device %1: %2").arg(Quote(text), why);
        return std::nullopt;
    };
    // More than one colon outside brackets can only be a bare IPv6 address, which has no port.
    if (!text.startsWith(u'[') && text.count(u':') > 1) {
        if (!IsIPv6(text))
            return fail(QStringLiteral("not an address (write an IPv6 address with a port as [address]:port)"));
        return DeviceEntry{text, defaultPort};
    }
    // [IPv6] or a name: letters, digits and hyphens in dot-separated labels of up
    // to 63, none starting or ending with a hyphen, at most 253 in all before an
    // optional final dot; then an optional :PORT. Nothing else is looked up.
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("(?:\\[([^\\]]*)\\]|((?=[^:]{1,253}\\.?(?::|\\z))[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?))(?::(.*))?")));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch() || (text.startsWith(u'[') && !IsIPv6(match.captured(1))))
        return fail(text.startsWith(u'[') ? QStringLiteral("not an IPv6 address in brackets ([address]:port)")
                                          : QStringLiteral("not an IPv4 address or host name"));
    const auto port = match.hasCaptured(3) ? ParsePortText(match.captured(3)) : defaultPort;
    if (!port)
        return fail(QStringLiteral("port %1 is not a number from 1 to 65535").arg(Quote(match.captured(3))));
    return DeviceEntry{text.startsWith(u'[') ? match.captured(1) : match.captured(2), *port};
}

std::optional<std::vector<DeviceEntry>> ParseDeviceList(const QString& text, const QString& source, int defaultPort,
                                                        QString* error)
{
    std::vector<DeviceEntry> entries;
    // Some editors start UTF-8 with a byte order mark; it is not part of the first device.
    const QStringList lines = (text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // No device text holds a '#', so a comment may follow one on its line.
        const QString item = lines[i].section(u'#', 0, 0).trimmed();
        if (item.isEmpty())
            continue;
        // The limit is refused at the line past it, so a huge list is not read to
        // the end first; `why` says so unless the device itself is refused.
        QString why = QStringLiteral("more than %1 devices").arg(MaxDevices);
        const auto entry = ParseDeviceText(item, defaultPort, &why);
        if (!entry || static_cast<int>(entries.size()) == MaxDevices) {
            *error = QStringLiteral("%1:%2: ").arg(source).arg(i + 1) + why;
            return std::nullopt;
        }
        entries.push_back(*entry);
    }
    return entries;
}

std::optional<QString> ReadDeviceListFile(const QString& path, QString* error)
{
    QByteArray bytes;
    const auto why = CheckReadableFile(path, MaxDeviceListBytes, &bytes);
    *error = why.value_or(QString());
    return why ? std::nullopt : std::optional(QString::fromUtf8(bytes));
}

ParseResult ParseCommandLine(const QStringList& args, const TextReader& read)
{
    ParseResult result;
    CommandLine& line = result.line;
    QStringList argv{QStringLiteral("modburn-cli")};
    for (const QString& arg : args)
        argv << (arg.size() > 1 && arg[0] == u'-' && arg[1] >= u'0' && arg[1] <= u'9' ? Mark + arg : arg);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({help, version});
    // Asked after both parses, as the second may take a "--" for a value: help
    // and version win wherever they stand before "--", whatever else is wrong.
    const auto helpOrVersion = [&] {
        line.command = parser.isSet(help) ? Command::Help : parser.isSet(version) ? Command::Version : line.command;
        return parser.isSet(help) || parser.isSet(version);
    };
    try {
        // First the command, the first operand; then again with its options.
        parser.parse(argv);
        if (helpOrVersion())
            return result;
        const QString name = Unmarked(parser.positionalArguments().value(0));
        const auto command =
            std::ranges::find_if(Commands, [&](const CommandDeclaration& declared) { return name == declared.name; });
        if (command == Commands.end())
            throw Failure{name.isEmpty() ? QStringLiteral("no command given")
                                         : QStringLiteral("unknown command %1").arg(Quote(name))};
        line.command = command->command;
        for (const OptionDeclaration& option : Options) {
            if (option.AppliesTo(line.command))
                parser.addOption(QCommandLineOption(QLatin1String(option.name), {}, QLatin1String(option.valueName)));
        }
        const bool parsed = parser.parse(argv);
        if (helpOrVersion())
            return result;
        if (const OptionDeclaration* other = OptionNamed(parser.unknownOptionNames().value(0)))
            throw Failure{QStringLiteral("--%1 does not apply to %2").arg(other->name, command->name)};
        // Otherwise Qt's own words ("Unknown option 'x'."), lower-case and without the stop, as ours are.
        if (const QString why = parser.errorText(); !parsed)
            throw Failure{why.left(1).toLower() + why.mid(1).chopped(why.endsWith(u'.') ? 1 : 0)};
        // Every option before the operands, so --port applies to every device wherever it stands.
        for (const QString& option : parser.optionNames()) {
            if (parser.optionNames().count(option) > 1)
                throw Failure{QStringLiteral("--%1 given twice").arg(option)};
            OptionNamed(option)->apply(line, Given{QStringLiteral("--") + option, Unmarked(parser.value(option))});
        }
        QStringList operands = parser.positionalArguments().mid(1);
        std::ranges::transform(operands, operands.begin(), Unmarked);
        ApplyOperands(line, *command, operands, read);
    } catch (const Failure& failure) {
        result.error = failure.message;
    }
    return result;
}

QString HelpText()
{
    QString out = QStringLiteral("Usage:\n");
    for (const CommandDeclaration& command : Commands) {
        QString units;
        for (const OptionDeclaration& option : Options)
            units += option.AppliesTo(command.command) ? u'[' + option.Synopsis() + QStringLiteral("] ") : QString();
        out += Block(QStringLiteral("  modburn-cli ") + command.name,
                     units + QString::fromLatin1(command.operands).replace(u' ', NoBreak), 28);
    }
    out += QStringLiteral("  modburn-cli --help | --version\n\n");
    for (const CommandDeclaration& command : Commands)
        out += Block(QString::fromLatin1(command.name), QString::fromLatin1(command.help), 15);
    out += QStringLiteral("\nADDRESS is an IPv4 address, a host name or an IPv6 address; a port of its own\n"
                          "is written ADDRESS:PORT or [IPv6]:PORT. Numbers are decimal digits, without a\n"
                          "sign (but CHECKSUM's minus); an option may be given only once.\n\nOptions:\n");
    for (const OptionDeclaration& option : Options)
        out += Block(QStringLiteral("  ") + option.Synopsis(), QString::fromLatin1(option.help), 22);
    out += QStringLiteral("\nExit status: 0 all done, 1 a device not programmed (with --dry-run: not\n"
                          "reachable) or an operation failed, 2 bad usage or input (nothing sent),\n"
                          "3 --give-up-after ran out, 130 interrupted (Ctrl-C or SIGTERM).\n");
    return out.replace(NoBreak, u' ');
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
