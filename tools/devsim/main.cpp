// modburn-devsim: plays the print-driver module on 127.0.0.1 so the tool can
// be exercised without hardware.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <optional>
#include <set>
#include <stdexcept>

#include <sys/socket.h>
#include <unistd.h>

#include "server.h"

namespace {

using modburn::devsim::Options;

constexpr int UsageExit = 2;
constexpr long long MaxDelayMs = 600000;
constexpr long long MaxCount = 1000000;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const QString& option, const QString& value, const QString& expected)
{
    throw UsageError(QStringLiteral("--%1: '%2' is not %3").arg(option, value, expected).toStdString());
}

// Decimal, or hex with a 0x prefix; a leading 0 is not octal.
std::optional<long long> ParseNumber(const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    long long v = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = t.mid(2).toLongLong(&ok, 16);
    else
        v = t.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

long long Number(const QString& option, const QString& value, long long lo, long long hi,
                 const QString& expected)
{
    const auto v = ParseNumber(value);
    if (!v || *v < lo || *v > hi)
        Fail(option, value, expected);
    return *v;
}

int Delay(const QCommandLineParser& p, const QString& option, int fallback)
{
    if (!p.isSet(option))
        return fallback;
    return static_cast<int>(
        Number(option, p.value(option), 0, MaxDelayMs, QStringLiteral("a time in ms (0..600000)")));
}

int Count(const QCommandLineParser& p, const QString& option)
{
    if (!p.isSet(option))
        return 0;
    return static_cast<int>(Number(option, p.value(option), 0, MaxCount, QStringLiteral("a count (0..1000000)")));
}

// Every value of a repeatable font page option.
std::set<int> FontPages(const QCommandLineParser& p, const QString& option)
{
    std::set<int> pages;
    for (const QString& v : p.values(option))
        pages.insert(static_cast<int>(
            Number(option, v, 0, modburn::devsim::MaxFontPage, QStringLiteral("a font page (0..32767)"))));
    return pages;
}

std::array<std::uint8_t, 3> LockBytes(const QString& value)
{
    const QStringList parts = value.split(QLatin1Char(','));
    std::array<std::uint8_t, 3> locks{};
    if (parts.size() != 3)
        Fail(QStringLiteral("lock"), value, QStringLiteral("three hex bytes like AF,DC,CC"));
    for (int i = 0; i < 3; ++i) {
        QString part = parts[i].trimmed();
        if (part.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            part = part.mid(2);
        bool ok = false;
        const uint v = part.toUInt(&ok, 16);
        if (!ok || part.isEmpty() || part.size() > 2 || v > 0xFF)
            Fail(QStringLiteral("lock"), value, QStringLiteral("three hex bytes like AF,DC,CC"));
        locks[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    }
    return locks;
}

// The self-pipe turns SIGTERM/SIGINT into an orderly quit of the event loop.
int signalFds[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalFds[1], &byte, 1);
}

void QuitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalFds) != 0)
        return;  // default handling still ends the process
    auto* notifier = new QSocketNotifier(signalFds[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modburn-devsim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulates the print-driver module for modburn on 127.0.0.1.\n"
        "Numbers are decimal, or hex with a 0x prefix. Module pages are 0..127,\n"
        "font pages 0..32767. Prints 'modburn-devsim listening on 127.0.0.1:<port>'\n"
        "once ready, then runs until terminated."));
    p.addHelpOption();

    const auto opt = [&p](const char* name, const char* help, const char* valueName = nullptr) {
        const QString n = QString::fromLatin1(name);
        p.addOption(valueName ? QCommandLineOption(n, QString::fromLatin1(help), QString::fromLatin1(valueName))
                              : QCommandLineOption(n, QString::fromLatin1(help)));
        return n;
    };
    const QString port = opt("port", "TCP port on 127.0.0.1 (default 4001; 0 picks a free one).", "N");
    const QString lock = opt("lock", "The module's three lock bytes in hex (default AF,DC,CC).", "B1,B2,B3");
    const QString silent =
        opt("silent-burn-enable", "Leave the first N burn-enable frames unanswered.", "N");
    const QString silentSearch = opt("silent-search", "Leave the first N device-search frames unanswered.", "N");
    const QString withhold = opt("withhold-lock", "Never send the lock bytes.");
    const QString reject =
        opt("reject-page", "Answer module page K with 0x15 every time, storing nothing (repeatable).", "K");
    const QString drop = opt("drop-page-reply",
                             "Drop the reply (and lock bytes) to module page K the first M times; "
                             "the data is still stored (repeatable).",
                             "K:M");
    const QString closeAfter = opt("close-after-page",
                                   "Close the connection right after answering module page K "
                                   "(and its lock bytes), the first time only.",
                                   "K");
    const QString replyDelay = opt("reply-delay", "Extra delay before every reply.", "MS");
    const QString realistic =
        opt("realistic", "Typical device times: page write 5 ms, erase 10 ms, font page 3 ms, "
                         "unless given on their own.");
    const QString pageWrite = opt("page-write-ms", "Module page write time (default 0).", "MS");
    const QString erase = opt("erase-ms", "Module erase time (default 0).", "MS");
    const QString fontWrite = opt("font-page-write-ms", "Font page write time (default 0).", "MS");
    const QString lockDelay = opt("lock-delay", "Gap between a page reply and the lock bytes (default 20).", "MS");
    const QString coalesce = opt("coalesce-lock", "Send the lock bytes in the same write as the page reply.");
    const QString flashOut =
        opt("flash-out", "Write the 8192-byte module flash to FILE after page 127.", "FILE");
    const QString corrupt = opt("corrupt-font-page",
                                "Store font page P with one byte altered, so a check over it "
                                "fails (repeatable).",
                                "P");
    const QString rejectFont = opt("reject-font-page",
                                   "Answer a valid write of font page P with ER every time, storing nothing "
                                   "(repeatable).",
                                   "P");
    const QString dropFont =
        opt("drop-font-page-reply", "Store font page P but never answer its write (repeatable).", "P");
    const QString silentCheck =
        opt("silent-check", "Leave the first N download and checksum checks (together) unanswered.", "N");
    const QString lowerCheck =
        opt("lower-case-check", "Send the eight sum digits of a check reply in lower-case hex.");
    const QString transcript = opt("transcript", "Print one line per received frame to stdout.");

    Options options;
    quint16 listenPort = 4001;
    try {
        if (!p.parse(QCoreApplication::arguments()))
            throw UsageError(p.errorText().toStdString());
        if (p.isSet(QStringLiteral("help")))
            p.showHelp(0);
        if (!p.positionalArguments().isEmpty())
            throw UsageError("unexpected argument '" + p.positionalArguments().first().toStdString() + "'");

        if (p.isSet(port))
            listenPort = static_cast<quint16>(
                Number(port, p.value(port), 0, 65535, QStringLiteral("a port number (0..65535)")));
        if (p.isSet(lock))
            options.lockBytes = LockBytes(p.value(lock));
        options.silentBurnEnables = Count(p, silent);
        options.silentSearches = Count(p, silentSearch);
        options.withholdLocks = p.isSet(withhold);
        for (const QString& v : p.values(reject))
            options.rejectPages.insert(
                static_cast<int>(Number(reject, v, 0, 127, QStringLiteral("a module page (0..127)"))));
        for (const QString& v : p.values(drop)) {
            const QStringList kv = v.split(QLatin1Char(':'));
            const QString expected = QStringLiteral("K:M with a module page K (0..127) and a count M");
            if (kv.size() != 2)
                Fail(drop, v, expected);
            const int k = static_cast<int>(Number(drop, kv[0], 0, 127, expected));
            options.dropPageReplies[k] = static_cast<int>(Number(drop, kv[1], 0, MaxCount, expected));
        }
        if (p.isSet(closeAfter))
            options.closeAfterPage = static_cast<int>(
                Number(closeAfter, p.value(closeAfter), 0, 127, QStringLiteral("a module page (0..127)")));
        const bool real = p.isSet(realistic);
        options.replyDelayMs = Delay(p, replyDelay, 0);
        options.pageWriteMs = Delay(p, pageWrite, real ? 5 : 0);
        options.eraseMs = Delay(p, erase, real ? 10 : 0);
        options.fontPageWriteMs = Delay(p, fontWrite, real ? 3 : 0);
        options.lockDelayMs = Delay(p, lockDelay, 20);
        options.coalesceLock = p.isSet(coalesce);
        if (p.isSet(flashOut)) {
            if (p.value(flashOut).isEmpty())
                Fail(flashOut, p.value(flashOut), QStringLiteral("a file name"));
            options.flashOut = p.value(flashOut).toStdString();
        }
        options.corruptFontPages = FontPages(p, corrupt);
        options.rejectFontPages = FontPages(p, rejectFont);
        options.dropFontPageReplies = FontPages(p, dropFont);
        options.silentChecks = Count(p, silentCheck);
        options.lowerCaseCheckDigits = p.isSet(lowerCheck);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "modburn-devsim: %s\nTry 'modburn-devsim --help'.\n", e.what());
        return UsageExit;
    }

    modburn::devsim::Server server(options);
    if (p.isSet(transcript)) {
        server.GetDevice().transcript = [](const std::string& line) {
            std::fprintf(stdout, "%s\n", line.c_str());
            std::fflush(stdout);
        };
    }
    if (!server.Listen(listenPort)) {
        std::fprintf(stderr, "modburn-devsim: cannot listen on 127.0.0.1:%u: %s\n", listenPort,
                     qPrintable(server.ErrorString()));
        return 1;
    }
    QuitOnSignals(app);
    std::fprintf(stdout, "modburn-devsim listening on 127.0.0.1:%u\n", server.Port());
    std::fflush(stdout);
    return app.exec();
}
