// The simulator's options. Table() declares each one once: its names, its
// help and where its value goes, in what range. QCommandLineParser reads the
// arguments and lays out the help; the values are checked in the table's order.

#include "options.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <limits>
#include <variant>
#include <vector>

namespace modburn::devsim {

namespace {

constexpr int MaxDelayMs = 600000;
constexpr int MaxCount = 1000000;
constexpr int MaxPort = std::numeric_limits<quint16>::max();

// Typical times of the real device, taken by --realistic unless given on their own.
constexpr int RealisticPageWriteMs = 5;
constexpr int RealisticEraseMs = 10;
constexpr int RealisticFontPageWriteMs = 3;

// `text` with %1, %2, ... replaced by `values`, strings or numbers, in turn.
template <typename... Values>
QString Fill(const char* text, const Values&... values)
{
    QString out = QString::fromLatin1(text);
    ((out = out.arg(values)), ...);
    return out;
}

struct UsageError {
    QString message;
};

// A kind of number: what messages call it, and its range.
struct Kind {
    const char* what;
    int lo;
    int hi;

    QString Expected() const { return Fill("%1 (%2..%3)", QLatin1String(what), lo, hi); }
};

constexpr Kind PortNumber{"a port number", 0, MaxPort};
constexpr Kind Count{"a count", 0, MaxCount};
constexpr Kind Delay{"a time in ms", 0, MaxDelayMs};
constexpr Kind ModulePage{"a module page", 0, LastModulePage};
constexpr Kind FontPage{"a font page", 0, MaxFontPage};
constexpr Kind FrameNumber{"a frame number", 1, MaxCount};

[[noreturn]] void Fail(const QString& option, const QString& value, const QString& expected)
{
    throw UsageError{QStringLiteral("--%1: '%2' is not %3").arg(option, value, expected)};
}

bool Matches(const QString& text, const char* pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern))).match(text).hasMatch();
}

// Decimal digits only, as modburn-cli takes numbers: no sign, blanks or hex.
int Number(const QString& option, const QString& value, const Kind& kind, const QString& more = {})
{
    bool ok = false;
    const qlonglong v = value.toLongLong(&ok);
    if (!ok || !Matches(value, "[0-9]+") || v < kind.lo || v > kind.hi)
        Fail(option, value, kind.Expected() + more);
    return static_cast<int>(v);
}

QString LockList(const std::array<std::uint8_t, 3>& locks)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(locks.data()), 3).toHex(',').toUpper());
}

// What an option does that a field alone cannot say; `value` is empty for a flag.
using Apply = std::function<void(CommandLine&, const QString& option, const QString& value)>;

// Where an option's value goes. Sets and maps take every value given, so
// theirs are the repeatable options.
using Numbers = std::set<int> Options::*;
using Pairs = std::map<int, int> Options::*;
using Target =
    std::variant<int CommandLine::*, bool CommandLine::*, int Options::*, bool Options::*, Numbers, Pairs, Apply>;

struct Declaration {
    QStringList names;  // the last is the one messages use
    QString valueName;  // empty for a flag; a pair's, "K:M", names its two numbers
    QString help;       // without the last full stop
    Target target;      // an empty Apply for --help, which ends parsing first
    Kind kind = Count;  // of the number, or of a pair's second one

    bool Repeatable() const { return std::holds_alternative<Numbers>(target) || std::holds_alternative<Pairs>(target); }
};

// A declaration, written so that the table reads one option at a time.
Declaration Option(QStringList names, QString valueName, Target target, QString help, Kind kind = Count)
{
    return {std::move(names), std::move(valueName), std::move(help), std::move(target), kind};
}

// Pairs of a module page and an amount; the amounts given for one page add up.
void AddPairs(std::map<int, int>& pairs, const Declaration& d, const QString& option, const QStringList& values)
{
    for (const QString& v : values) {
        const QStringList parts = v.split(u':');
        if (parts.size() != 2)
            Fail(option, v, "of the form " + d.valueName);
        const int page = Number(option, parts[0], ModulePage);
        int& sum = pairs[page];
        sum += Number(option, parts[1], d.kind);
        if (sum > d.kind.hi)
            throw UsageError{Fill("--%1: the values for page %2 add up to more than %3", option, page, d.kind.hi)};
    }
}

// One lambda per alternative, for std::visit.
template <typename... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};
template <typename... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

void Store(CommandLine& c, const Declaration& d, const QString& option, const QStringList& values)
{
    std::visit(Overloaded{
                   [&](int CommandLine::*field) { c.*field = Number(option, values.value(0), d.kind); },
                   [&](bool CommandLine::*field) { c.*field = true; },
                   [&](int Options::*field) { c.options.*field = Number(option, values.value(0), d.kind); },
                   [&](bool Options::*field) { c.options.*field = true; },
                   [&](Numbers field) {
                       for (const QString& v : values)
                           (c.options.*field).insert(Number(option, v, d.kind));
                   },
                   [&](Pairs field) { AddPairs(c.options.*field, d, option, values); },
                   [&](const Apply& apply) { apply(c, option, values.value(0)); },
               },
               d.target);
}

const std::vector<Declaration>& Table()
{
    static const std::vector<Declaration> table = [] {
        const CommandLine line;
        const Apply devices = [](CommandLine& c, const QString& option, const QString& value) {
            // --port comes earlier in the table, so its value is known here.
            const int most = c.port == 0 ? MaxDevices : std::min(MaxDevices, MaxPort - c.port + 1);
            c.devices = Number(option, value, Kind{"a number of devices", 1, most},
                               most < MaxDevices ? Fill(" from port %1", c.port) : QString());
        };
        const Apply lock = [](CommandLine& c, const QString& option, const QString& value) {
            if (!Matches(value, "[0-9A-Fa-f]{2}(,[0-9A-Fa-f]{2}){2}"))
                Fail(option, value, "three bytes of two hex digits each, like " + LockList(Options{}.lockBytes));
            const QByteArray bytes = QByteArray::fromHex(value.toLatin1());
            std::copy(bytes.begin(), bytes.end(), c.options.lockBytes.begin());
        };
        const Apply realistically = [](CommandLine& c, const QString&, const QString&) {
            // The options for each time come later in the table, so they win.
            c.options.pageWriteMs = RealisticPageWriteMs;
            c.options.eraseMs = RealisticEraseMs;
            c.options.fontPageWriteMs = RealisticFontPageWriteMs;
        };
        const Apply flashOut = [](CommandLine& c, const QString& option, const QString& value) {
            if (value.isEmpty())
                Fail(option, value, QStringLiteral("a file name"));
            c.options.flashOut = value.toStdString();
        };
        return std::vector<Declaration>{
            Option({"h", "help"}, {}, Apply{}, "Displays this help"),
            Option({"port"}, "N", &CommandLine::port,
                   Fill("TCP port on 127.0.0.1 (default %1; 0 picks a free one)", line.port), PortNumber),
            Option({"devices"}, "N", devices,
                   Fill("Serve N independent devices, each with its own flash and faults: on the port and the next "
                        "N-1, or on N free ones with port 0 (default %1, at most %2). With more than one, --flash-out "
                        "FILE writes FILE.<port> for each device and --transcript lines start with the port",
                        line.devices, MaxDevices)),
            Option({"lock"}, "B1,B2,B3", lock,
                   Fill("The three lock bytes, two hex digits each (default %1)", LockList(line.options.lockBytes))),
            Option({"silent-burn-enable"}, "N", &Options::silentBurnEnables,
                   "Leave the first N burn-enable frames unanswered"),
            Option({"silent-search"}, "N", &Options::silentSearches,
                   "Leave the first N device-search frames unanswered"),
            Option({"withhold-lock"}, {}, &Options::withholdLocks, "Never send the lock bytes"),
            Option({"reject-page"}, "K", &Options::rejectPages,
                   "Answer module page K with 0x15 every time, storing nothing", ModulePage),
            Option({"drop-page-reply"}, "K:M", &Options::dropPageReplies,
                   "Drop the reply (and lock bytes) to module page K the first M times; the data is still stored"),
            Option({"close-after-page"}, "K", &Options::closeAfterPage,
                   "Close the connection after answering module page K (and its lock bytes), the first time only",
                   ModulePage),
            Option({"reply-delay"}, "MS", &Options::replyDelayMs, "Extra delay before every reply", Delay),
            Option({"realistic"}, {}, realistically,
                   Fill("Typical device times: page write %1 ms, erase %2 ms, font page %3 ms, unless given on "
                        "their own",
                        RealisticPageWriteMs, RealisticEraseMs, RealisticFontPageWriteMs)),
            Option({"page-write-ms"}, "MS", &Options::pageWriteMs,
                   Fill("Module page write time (default %1)", line.options.pageWriteMs), Delay),
            Option({"erase-ms"}, "MS", &Options::eraseMs, Fill("Module erase time (default %1)", line.options.eraseMs),
                   Delay),
            Option({"font-page-write-ms"}, "MS", &Options::fontPageWriteMs,
                   Fill("Font page write time (default %1)", line.options.fontPageWriteMs), Delay),
            Option({"lock-delay"}, "MS", &Options::lockDelayMs,
                   Fill("Gap between a page reply and the lock bytes (default %1)", line.options.lockDelayMs), Delay),
            Option({"coalesce-lock"}, {}, &Options::coalesceLock,
                   "Send the lock bytes in the same write as the page reply"),
            Option({"flash-out"}, "FILE", flashOut,
                   Fill("Write the %1-byte module flash to FILE after page %2", ModuleFlashSize, LastModulePage)),
            Option({"corrupt-font-page"}, "P", &Options::corruptFontPages,
                   "Store font page P with one byte altered, so a check over it fails", FontPage),
            Option({"reject-font-page"}, "P", &Options::rejectFontPages,
                   "Answer a valid write of font page P with ER every time, storing nothing", FontPage),
            Option({"drop-font-page-reply"}, "P", &Options::dropFontPageReplies,
                   "Store font page P but never answer its write", FontPage),
            Option({"silent-check"}, "N", &Options::silentChecks,
                   "Leave the first N download and checksum checks (together) unanswered"),
            Option({"lower-case-check"}, {}, &Options::lowerCaseCheckDigits,
                   "Send the eight sum digits of a check reply in lower-case hex"),
            Option({"late-page-reply"}, "P:MS", &Options::latePageReplies,
                   "Answer the first frame of module page P MS ms late, later ones on time; the data is stored", Delay),
            Option({"lose-frame"}, "N", &Options::loseFrames,
                   "Ignore the Nth frame received (from 1, all kinds and connections), as if lost", FrameNumber),
            Option({"transcript"}, {}, &CommandLine::transcript, "Print one line per received frame to stdout"),
        };
    }();
    return table;
}

void Declare(QCommandLineParser& parser)
{
    parser.setApplicationDescription(Fill("Simulates the print-driver module for modburn on 127.0.0.1. Once ready it\n"
                                          "prints 'modburn-devsim listening on 127.0.0.1:<port>', a line per device,\n"
                                          "then runs until terminated. Module pages are 0..%1, font pages 0..%2.\n"
                                          "Numbers are decimal digits, without a sign. An option marked (repeatable)\n"
                                          "may be given more than once and its values add up; any other option may be\n"
                                          "given only once.",
                                          LastModulePage, MaxFontPage));
    for (const Declaration& d : Table())
        parser.addOption(QCommandLineOption(d.names, d.help + (d.Repeatable() ? " (repeatable)." : "."), d.valueName));
}

// Every option given, in the table's order.
void StoreAll(CommandLine& c, const QCommandLineParser& parser)
{
    const QStringList given = parser.optionNames();  // a name once per use
    for (const Declaration& d : Table()) {
        const QString& name = d.names.constLast();
        if (!d.Repeatable() && given.count(name) > 1)
            throw UsageError{Fill("--%1 given twice", name)};
        if (given.contains(name))
            Store(c, d, name, parser.values(name));
    }
}

}  // namespace

ParseResult ParseCommandLine(const QStringList& args)
{
    QCommandLineParser parser;
    Declare(parser);
    ParseResult result;
    // The parser takes the first argument for the program's name; help wins
    // over every check of the values.
    if (!parser.parse(QStringList{QStringLiteral("modburn-devsim")} + args)) {
        result.error = parser.errorText();
    } else if (parser.isSet(QStringLiteral("help"))) {
        result.commandLine.help = true;
    } else if (!parser.positionalArguments().isEmpty()) {
        result.error = Fill("unexpected argument '%1'", parser.positionalArguments().constFirst());
    } else {
        try {
            StoreAll(result.commandLine, parser);
        } catch (const UsageError& e) {
            result.commandLine = {};
            result.error = e.message;
        }
    }
    return result;
}

QString HelpText()
{
    QCommandLineParser parser;
    Declare(parser);
    return parser.helpText();
}

}  // namespace modburn::devsim
