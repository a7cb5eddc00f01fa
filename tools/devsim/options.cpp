// The simulator's options. The table in Table() is the one list of them:
// parsing, the help text and the order in which values are checked follow it.

#include "options.h"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "frame/frame.h"

namespace modburn::devsim {

namespace {

constexpr long long MaxDelayMs = 600000;
constexpr long long MaxCount = 1000000;
constexpr std::size_t HelpWidth = 79;
constexpr std::size_t MaxNameColumn = 50;

// Typical times of the real device, taken by --realistic unless given on their own.
struct RealisticTimes {
    int pageWriteMs = 5;
    int eraseMs = 10;
    int fontPageWriteMs = 3;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every value an option was given, in order; a flag has one empty value per use.
using Values = std::vector<std::string>;

// Appends instead of chaining operator+, which GCC 12 at -O3 warns about falsely (-Wrestrict).
std::string Join(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (std::string_view p : parts)
        out.append(p);
    return out;
}

std::string Str(long long value)
{
    return std::to_string(value);
}

std::string Range(long long lo, long long hi)
{
    return Join({"(", Str(lo), "..", Str(hi), ")"});
}

[[noreturn]] void Fail(std::string_view option, std::string_view value, std::string_view expected)
{
    throw UsageError(Join({"--", option, ": '", value, "' is not ", expected}));
}

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view Trimmed(std::string_view t)
{
    while (!t.empty() && IsSpace(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && IsSpace(t.back()))
        t.remove_suffix(1);
    return t;
}

bool HasHexPrefix(std::string_view t)
{
    return t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
}

int DigitValue(char c, int base)
{
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// Unsigned digits in `base`; nothing when empty, not all digits or too large.
std::optional<long long> Digits(std::string_view t, int base)
{
    if (t.empty())
        return std::nullopt;
    long long v = 0;
    for (char c : t) {
        const int d = DigitValue(c, base);
        if (d < 0 || v > (std::numeric_limits<long long>::max() - d) / base)
            return std::nullopt;
        v = v * base + d;
    }
    return v;
}

// Decimal with an optional sign, or hex with a 0x prefix; a leading 0 is not octal.
std::optional<long long> ParseNumber(std::string_view text)
{
    std::string_view t = Trimmed(text);
    if (HasHexPrefix(t))
        return Digits(t.substr(2), 16);
    const bool negative = !t.empty() && t.front() == '-';
    if (!t.empty() && (t.front() == '-' || t.front() == '+'))
        t.remove_prefix(1);
    const auto v = Digits(t, 10);
    if (!v)
        return std::nullopt;
    return negative ? -*v : *v;
}

long long Number(std::string_view option, std::string_view value, long long lo, long long hi, std::string_view expected)
{
    const auto v = ParseNumber(value);
    if (!v || *v < lo || *v > hi)
        Fail(option, value, expected);
    return *v;
}

std::vector<std::string> Split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        const std::size_t at = text.find(separator, from);
        parts.emplace_back(text.substr(from, at - from));
        if (at == std::string_view::npos)
            return parts;
        from = at + 1;
    }
}

std::string LockList(const std::array<std::uint8_t, 3>& locks)
{
    std::string out;
    for (std::uint8_t b : locks) {
        if (!out.empty())
            out += ',';
        out += frame::Hex(b, 2);
    }
    return out;
}

std::array<std::uint8_t, 3> LockBytes(std::string_view option, std::string_view value)
{
    const std::string expected = Join({"three hex bytes like ", LockList(Options{}.lockBytes)});
    const std::vector<std::string> parts = Split(value, ',');
    if (parts.size() != 3)
        Fail(option, value, expected);
    std::array<std::uint8_t, 3> locks{};
    for (std::size_t i = 0; i < locks.size(); ++i) {
        std::string_view part = Trimmed(parts[i]);
        if (HasHexPrefix(part))
            part.remove_prefix(2);
        const auto v = part.size() <= 2 ? Digits(part, 16) : std::nullopt;
        if (!v)
            Fail(option, value, expected);
        locks[i] = static_cast<std::uint8_t>(*v);
    }
    return locks;
}

// What an option does to the command line when given; `option` is its name for messages.
using Apply = std::function<void(CommandLine&, const std::string& option, const Values&)>;

// One option: the names it answers to, its value's name (empty for a flag),
// its help, and what it does.
struct OptionEntry {
    std::vector<std::string> names;
    std::string valueName;
    std::string help;
    Apply apply;  // empty for the help options
};

const std::vector<OptionEntry>& Table()
{
    static const std::vector<OptionEntry> table = [] {
        const Options defaults;
        const RealisticTimes realistic;
        const std::string modulePage = Join({"a module page ", Range(0, LastModulePage)});
        const std::string fontPage = Join({"a font page ", Range(0, MaxFontPage)});

        // Single-valued options take their last value, as repeating one overrides it.
        const auto delay = [](int Options::*field) -> Apply {
            return [field](CommandLine& c, const std::string& option, const Values& v) {
                c.options.*field = static_cast<int>(
                    Number(option, v.back(), 0, MaxDelayMs, Join({"a time in ms ", Range(0, MaxDelayMs)})));
            };
        };
        const auto count = [](int Options::*field) -> Apply {
            return [field](CommandLine& c, const std::string& option, const Values& v) {
                c.options.*field =
                    static_cast<int>(Number(option, v.back(), 0, MaxCount, Join({"a count ", Range(0, MaxCount)})));
            };
        };
        const auto flag = [](bool Options::*field) -> Apply {
            return [field](CommandLine& c, const std::string&, const Values&) { c.options.*field = true; };
        };
        const auto numbers = [](std::set<int> Options::*field, int first, int last,
                                const std::string& expected) -> Apply {
            return [=](CommandLine& c, const std::string& option, const Values& v) {
                for (const std::string& value : v)
                    (c.options.*field).insert(static_cast<int>(Number(option, value, first, last, expected)));
            };
        };
        // K:M pairs of a module page and a number, the last one for a page winning.
        const auto pagePairs = [](std::map<int, int> Options::*field, long long max,
                                  const std::string& expected) -> Apply {
            return [=](CommandLine& c, const std::string& option, const Values& v) {
                for (const std::string& value : v) {
                    const std::vector<std::string> kv = Split(value, ':');
                    if (kv.size() != 2)
                        Fail(option, value, expected);
                    const int k = static_cast<int>(Number(option, kv[0], 0, LastModulePage, expected));
                    (c.options.*field)[k] = static_cast<int>(Number(option, kv[1], 0, max, expected));
                }
            };
        };
        const Apply transcript = [](CommandLine& c, const std::string&, const Values&) { c.transcript = true; };

        std::vector<OptionEntry> t;
        t.push_back({{"h", "help"}, "", "Displays help on commandline options.", {}});
        t.push_back({{"help-all"}, "", "Displays help including Qt specific options.", {}});
        t.push_back({{"port"},
                     "N",
                     Join({"TCP port on 127.0.0.1 (default ", Str(CommandLine{}.port), "; 0 picks a free one)."}),
                     [](CommandLine& c, const std::string& option, const Values& v) {
                         constexpr long long maxPort = std::numeric_limits<std::uint16_t>::max();
                         c.port = static_cast<std::uint16_t>(
                             Number(option, v.back(), 0, maxPort, Join({"a port number ", Range(0, maxPort)})));
                     }});
        t.push_back({{"devices"},
                     "N",
                     Join({"Serve N independent devices, each with its own flash and faults: ",
                           "on the port and the next N-1, or on N free ones with port 0 (default ",
                           Str(CommandLine{}.devices), ", at most ", Str(MaxDevices), "). ",
                           "With more than one, --flash-out FILE writes FILE.<port> for each device ",
                           "and --transcript lines start with the port."}),
                     [](CommandLine& c, const std::string& option, const Values& v) {
                         // --port comes earlier in this table, so its value is known here.
                         constexpr long long maxPort = std::numeric_limits<std::uint16_t>::max();
                         const long long most =
                             c.port == 0 ? MaxDevices : std::min<long long>(MaxDevices, maxPort - c.port + 1);
                         const std::string expected =
                             c.port == 0 || most == MaxDevices
                                 ? Join({"a number of devices ", Range(1, MaxDevices)})
                                 : Join({"a number of devices ", Range(1, most), " from port ", Str(c.port)});
                         c.devices = static_cast<int>(Number(option, v.back(), 1, most, expected));
                     }});
        t.push_back({{"lock"},
                     "B1,B2,B3",
                     Join({"The module's three lock bytes in hex (default ", LockList(defaults.lockBytes), ")."}),
                     [](CommandLine& c, const std::string& option, const Values& v) {
                         c.options.lockBytes = LockBytes(option, v.back());
                     }});
        t.push_back({{"silent-burn-enable"},
                     "N",
                     "Leave the first N burn-enable frames unanswered.",
                     count(&Options::silentBurnEnables)});
        t.push_back({{"silent-search"},
                     "N",
                     "Leave the first N device-search frames unanswered.",
                     count(&Options::silentSearches)});
        t.push_back({{"withhold-lock"}, "", "Never send the lock bytes.", flag(&Options::withholdLocks)});
        t.push_back({{"reject-page"},
                     "K",
                     "Answer module page K with 0x15 every time, storing nothing (repeatable).",
                     numbers(&Options::rejectPages, 0, LastModulePage, modulePage)});
        t.push_back({{"drop-page-reply"},
                     "K:M",
                     "Drop the reply (and lock bytes) to module page K the first M times; "
                     "the data is still stored (repeatable).",
                     pagePairs(&Options::dropPageReplies, MaxCount,
                               Join({"K:M with a module page K ", Range(0, LastModulePage), " and a count M"}))});
        t.push_back({{"close-after-page"},
                     "K",
                     "Close the connection right after answering module page K "
                     "(and its lock bytes), the first time only.",
                     [modulePage](CommandLine& c, const std::string& option, const Values& v) {
                         c.options.closeAfterPage =
                             static_cast<int>(Number(option, v.back(), 0, LastModulePage, modulePage));
                     }});
        t.push_back({{"reply-delay"}, "MS", "Extra delay before every reply.", delay(&Options::replyDelayMs)});
        t.push_back({{"realistic"},
                     "",
                     Join({"Typical device times: page write ", Str(realistic.pageWriteMs), " ms, erase ",
                           Str(realistic.eraseMs), " ms, font page ", Str(realistic.fontPageWriteMs),
                           " ms, unless given on their own."}),
                     [realistic](CommandLine& c, const std::string&, const Values&) {
                         // The options for each time come later in this table, so they win.
                         c.options.pageWriteMs = realistic.pageWriteMs;
                         c.options.eraseMs = realistic.eraseMs;
                         c.options.fontPageWriteMs = realistic.fontPageWriteMs;
                     }});
        t.push_back({{"page-write-ms"},
                     "MS",
                     Join({"Module page write time (default ", Str(defaults.pageWriteMs), ")."}),
                     delay(&Options::pageWriteMs)});
        t.push_back({{"erase-ms"},
                     "MS",
                     Join({"Module erase time (default ", Str(defaults.eraseMs), ")."}),
                     delay(&Options::eraseMs)});
        t.push_back({{"font-page-write-ms"},
                     "MS",
                     Join({"Font page write time (default ", Str(defaults.fontPageWriteMs), ")."}),
                     delay(&Options::fontPageWriteMs)});
        t.push_back({{"lock-delay"},
                     "MS",
                     Join({"Gap between a page reply and the lock bytes (default ", Str(defaults.lockDelayMs), ")."}),
                     delay(&Options::lockDelayMs)});
        t.push_back({{"coalesce-lock"},
                     "",
                     "Send the lock bytes in the same write as the page reply.",
                     flag(&Options::coalesceLock)});
        t.push_back({{"flash-out"},
                     "FILE",
                     Join({"Write the ", Str(ModuleFlashSize), "-byte module flash to FILE after page ",
                           Str(LastModulePage), "."}),
                     [](CommandLine& c, const std::string& option, const Values& v) {
                         if (v.back().empty())
                             Fail(option, v.back(), "a file name");
                         c.options.flashOut = v.back();
                     }});
        t.push_back({{"corrupt-font-page"},
                     "P",
                     "Store font page P with one byte altered, so a check over it fails (repeatable).",
                     numbers(&Options::corruptFontPages, 0, MaxFontPage, fontPage)});
        t.push_back({{"reject-font-page"},
                     "P",
                     "Answer a valid write of font page P with ER every time, storing nothing (repeatable).",
                     numbers(&Options::rejectFontPages, 0, MaxFontPage, fontPage)});
        t.push_back({{"drop-font-page-reply"},
                     "P",
                     "Store font page P but never answer its write (repeatable).",
                     numbers(&Options::dropFontPageReplies, 0, MaxFontPage, fontPage)});
        t.push_back({{"silent-check"},
                     "N",
                     "Leave the first N download and checksum checks (together) unanswered.",
                     count(&Options::silentChecks)});
        t.push_back({{"lower-case-check"},
                     "",
                     "Send the eight sum digits of a check reply in lower-case hex.",
                     flag(&Options::lowerCaseCheckDigits)});
        t.push_back({{"late-page-reply"},
                     "P:MS",
                     "Answer the first frame of module page P MS ms late, later ones on time; "
                     "the data is stored as usual (repeatable).",
                     pagePairs(&Options::latePageReplies, MaxDelayMs,
                               Join({"P:MS with a module page P ", Range(0, LastModulePage), " and a time in ms ",
                                     Range(0, MaxDelayMs)}))});
        t.push_back({{"lose-frame"},
                     "N",
                     "Ignore the Nth frame received, counted from 1 over all kinds and connections, "
                     "as if lost on the way (repeatable).",
                     numbers(&Options::loseFrames, 1, static_cast<int>(MaxCount),
                             Join({"a frame number ", Range(1, MaxCount)}))});
        t.push_back({{"transcript"}, "", "Print one line per received frame to stdout.", transcript});
        return t;
    }();
    return table;
}

const OptionEntry* Find(std::string_view name)
{
    for (const OptionEntry& entry : Table()) {
        if (std::find(entry.names.begin(), entry.names.end(), name) != entry.names.end())
            return &entry;
    }
    return nullptr;
}

// The arguments read as options and plain arguments, before any value is checked.
struct Scan {
    std::map<const OptionEntry*, Values> given;
    std::vector<std::string> plain;
    std::vector<std::string> unknown;
    std::string valueError;  // the last one wins, and it wins over unknown names
};

// Where an option written as `argument` carries no value of its own, the value is the next argument.
void TakeValue(Scan& scan, const OptionEntry& entry, const std::string& argument, std::size_t& i,
               const std::vector<std::string>& args)
{
    const std::size_t assign = argument.find('=');
    if (entry.valueName.empty()) {
        if (assign != std::string::npos)
            scan.valueError = Join({"Unexpected value after '", std::string_view(argument).substr(0, assign), "'."});
        else
            scan.given[&entry].emplace_back();
    } else if (assign != std::string::npos) {
        scan.given[&entry].push_back(argument.substr(assign + 1));
    } else if (i + 1 < args.size()) {
        scan.given[&entry].push_back(args[++i]);
    } else {
        scan.valueError = Join({"Missing value after '", argument, "'."});
    }
}

// A single dash starts letters, each a short option of its own ("-h").
void ScanShort(Scan& scan, const std::string& argument, std::size_t& i, const std::vector<std::string>& args)
{
    const OptionEntry* last = nullptr;
    for (std::size_t pos = 1; pos < argument.size();) {
        std::size_t end = pos + 1;  // one character, all of its UTF-8 bytes
        while (end < argument.size() && (static_cast<unsigned char>(argument[end]) & 0xC0) == 0x80)
            ++end;
        const std::string name = argument.substr(pos, end - pos);
        last = Find(name);
        if (!last) {
            scan.unknown.push_back(name);
        } else if (!last->valueName.empty()) {
            // The rest of the argument, after an optional '=', is the value.
            if (end < argument.size()) {
                scan.given[last].push_back(argument.substr(argument[end] == '=' ? end + 1 : end));
                return;
            }
            break;
        } else if (end < argument.size() && argument[end] == '=') {
            break;
        }
        pos = end;
    }
    if (last)
        TakeValue(scan, *last, argument, i, args);
}

Scan ScanArguments(const std::vector<std::string>& args)
{
    Scan scan;
    bool plainOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (plainOnly || argument.size() < 2 || argument[0] != '-') {
            scan.plain.push_back(argument);
        } else if (argument == "--") {
            plainOnly = true;
        } else if (argument[1] == '-') {
            const std::string name = argument.substr(2, argument.find('=') - 2);
            if (const OptionEntry* entry = Find(name))
                TakeValue(scan, *entry, argument, i, args);
            else
                scan.unknown.push_back(name);
        } else {
            ScanShort(scan, argument, i, args);
        }
    }
    return scan;
}

std::string UnknownText(const std::vector<std::string>& names)
{
    if (names.size() == 1)
        return Join({"Unknown option '", names.front(), "'."});
    std::string list;
    for (const std::string& name : names) {
        if (!list.empty())
            list += ", ";
        list += name;
    }
    return Join({"Unknown options: ", list, "."});
}

std::string NamesText(const OptionEntry& entry)
{
    std::string text;
    for (const std::string& name : entry.names) {
        if (!text.empty())
            text += ", ";
        text += name.size() == 1 ? "-" : "--";
        text += name;
    }
    if (!entry.valueName.empty())
        text += Join({" <", entry.valueName, ">"});
    return text;
}

// `help` in lines of at most `width` characters, broken at spaces.
std::vector<std::string> Wrap(std::string_view help, std::size_t width)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t from = 0; from < help.size();) {
        std::size_t end = help.find(' ', from);
        if (end == std::string_view::npos)
            end = help.size();
        std::string_view word = help.substr(from, end - from);
        from = end + 1;
        while (!word.empty()) {
            if (!line.empty() && line.size() + 1 + word.size() > width) {
                lines.push_back(std::move(line));
                line.clear();
            }
            if (!line.empty())
                line += ' ';
            const std::size_t take = std::min(word.size(), width);  // a word too long for a line is cut
            line.append(word.substr(0, take));
            word.remove_prefix(take);
        }
    }
    if (!line.empty() || lines.empty())
        lines.push_back(std::move(line));
    return lines;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args)
{
    ParseResult result;
    const Scan scan = ScanArguments(args);
    if (!scan.valueError.empty()) {
        result.error = scan.valueError;
        return result;
    }
    if (!scan.unknown.empty()) {
        result.error = UnknownText(scan.unknown);
        return result;
    }
    for (const auto& [entry, values] : scan.given) {
        if (!entry->apply)
            result.commandLine.help = true;
    }
    if (result.commandLine.help)
        return result;
    if (!scan.plain.empty()) {
        result.error = Join({"unexpected argument '", scan.plain.front(), "'"});
        return result;
    }
    try {
        for (const OptionEntry& entry : Table()) {
            const auto it = scan.given.find(&entry);
            if (it != scan.given.end())
                entry.apply(result.commandLine, entry.names.front(), it->second);
        }
    } catch (const UsageError& e) {
        result.commandLine = {};
        result.error = e.what();
    }
    return result;
}

std::string HelpText(const std::string& program)
{
    std::string text = Join({"Usage: ", program, " [options]\n"});
    text += "Simulates the print-driver module for modburn on 127.0.0.1.\n";
    text += Join({"Numbers are decimal, or hex with a 0x prefix. Module pages are 0..", Str(LastModulePage), ",\n"});
    text += Join({"font pages 0..", Str(MaxFontPage), ". Prints 'modburn-devsim listening on 127.0.0.1:<port>'\n"});
    text += "once ready, a line per device, then runs until terminated.\n\nOptions:\n";
    std::size_t column = 0;
    for (const OptionEntry& entry : Table())
        column = std::max(column, NamesText(entry).size() + 1);
    column = std::min(column, MaxNameColumn);
    const std::size_t helpWidth = HelpWidth - (2 + column + 1);
    for (const OptionEntry& entry : Table()) {
        std::string names = NamesText(entry);
        for (const std::string& line : Wrap(entry.help, helpWidth)) {
            names.resize(std::max(names.size(), column), ' ');
            text += Join({"  ", names, " ", line, "\n"});
            names.clear();
        }
    }
    return text;
}

}  // namespace modburn::devsim
