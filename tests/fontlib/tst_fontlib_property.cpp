// Font downloads and checks against a device and a line that combine faults
// at random, judged from the device's side: True only when the device holds
// every page of the range as the file has it and the sums agree. A failing
// schedule prints its seed; `--seed S` replays it, `--count N` searches longer.

#include "fakelink.h"
#include "fakeplatform.h"
#include "faultyline.h"
#include "fontrig.h"
#include "schedules.h"

#include "fontlib/fontlib.h"
#include "platform/errors.h"

#include <QtTest>

#include <random>

using namespace modburn;
using namespace modburn::fake;

namespace {

Schedules schedules;
constexpr int PageBytes = 256;

struct Schedule {
    std::vector<std::uint8_t> file;
    std::int16_t sPage = 0;
    std::int16_t ePage = 0;
    devsim::Options device;
    LineFaults line;
    bool benign = false;
    std::int64_t checkOffset = 0;  // added to the right sum for CheckChar

    explicit Schedule(std::uint64_t seed)
    {
        std::mt19937_64 rng(seed);
        const auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
        const auto upTo = [&](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
        const auto rate = [&](double most) { return std::uniform_real_distribution<double>(0, most)(rng); };

        sPage = static_cast<std::int16_t>(upTo(300));
        ePage = static_cast<std::int16_t>(sPage + upTo(12));
        const int pages = ePage - sPage + 1;
        file.resize(static_cast<std::size_t>(upTo((pages + 1) * PageBytes)));
        for (auto& b : file)
            b = static_cast<std::uint8_t>(rng());

        const auto somePage = [&] { return sPage + upTo(pages - 1); };
        bool spoiled = false;
        if (chance(0.1)) {
            device.rejectFontPages.insert(somePage());
            spoiled = true;
        }
        if (chance(0.1)) {
            device.corruptFontPages.insert(somePage());
            spoiled = true;
        }
        if (chance(0.1)) {
            device.dropFontPageReplies.insert(somePage());
            spoiled = true;
        }
        if (chance(0.1)) {
            device.silentChecks = 1 + upTo(1);
            spoiled = true;
        }
        if (chance(0.05)) {
            device.lowerCaseCheckDigits = true;
            spoiled = true;
        }
        device.fontPageWriteMs = upTo(5);
        device.replyDelayMs = upTo(3);
        line.replySlow = rate(0.2);
        line.replySplit = rate(0.3);
        line.garbageAtConnect = 0.3;
        const bool lossy = chance(0.4);
        if (lossy) {
            line.frameLost = rate(0.05);
            line.replyLost = rate(0.05);
            line.replyLate = rate(0.1);
        }
        benign = !spoiled && !lossy;
        checkOffset = chance(0.5) ? 0 : std::uniform_int_distribution<std::int64_t>(-3, 3)(rng);
    }

    // The bytes that belong in page `page`: the file from the range's first
    // page on, zero past its end.
    std::array<std::uint8_t, PageBytes> Expected(int page) const
    {
        std::array<std::uint8_t, PageBytes> bytes{};
        const std::size_t from = static_cast<std::size_t>(page - sPage) * PageBytes;
        for (std::size_t i = 0; i < PageBytes && from + i < file.size(); ++i)
            bytes[i] = file[from + i];
        return bytes;
    }
};

struct Rig : FontRig<FaultyLine> {
    FaultyLine& line = peer;

    Rig(const Schedule& schedule, std::uint64_t seed) : FontRig(schedule.device, schedule.line, seed)
    {
        events.limitMs = 3600LL * 1000;
        files.Put(QStringLiteral("Hzk16s.bin"), schedule.file);
    }
};

}  // namespace

class FontPropertyTest : public QObject {
    Q_OBJECT
private slots:
    void resultsMatchTheDevice();
};

void FontPropertyTest::resultsMatchTheDevice()
{
    int downloaded = 0;
    int checked = 0;
    for (const std::uint64_t seed : schedules.seeds) {
        const Schedule schedule(seed);
        Rig rig(schedule, seed);
        const auto fail = [&](const QString& what) {
            QFAIL(qPrintable(QStringLiteral("seed %1: %2; replay with --seed %1").arg(seed).arg(what)));
        };

        bool stored = false;
        try {
            stored = rig.DownChar(QStringLiteral("Hzk16s"), schedule.sPage, schedule.ePage).Verified();
        } catch (const std::exception& e) {
            return fail(QStringLiteral("DownChar did not end: %1").arg(QString::fromLatin1(e.what())));
        }
        const devsim::Device& device = rig.line.device;
        bool holdsFile = true;
        for (int page = schedule.sPage; page <= schedule.ePage; ++page)
            holdsFile = holdsFile && device.HasFontPage(page) && device.FontPage(page) == schedule.Expected(page);
        if (stored && !holdsFile)
            return fail(QStringLiteral("DownChar said True, but the device does not hold the file"));
        if (schedule.benign && !stored)
            return fail(QStringLiteral("a clean download was not verified"));
        downloaded += stored ? 1 : 0;

        // The device's own sum, offset or not: CheckChar agrees with it or says False.
        if (!rig.MSComm1.PortOpen())
            rig.MSComm1.open_ = true;
        const std::uint32_t sum = device.FontSum(schedule.sPage, schedule.ePage);
        const auto asked = static_cast<std::int32_t>(sum + static_cast<std::uint32_t>(schedule.checkOffset));
        bool matches = false;
        try {
            matches = rig.CheckChar(asked, schedule.sPage, schedule.ePage).Verified();
        } catch (const std::exception& e) {
            return fail(QStringLiteral("CheckChar did not end: %1").arg(QString::fromLatin1(e.what())));
        }
        if (matches && schedule.checkOffset != 0)
            return fail(QStringLiteral("CheckChar said True for a sum the device does not have"));
        checked += matches ? 1 : 0;
    }
    qInfo("%zu schedules: %d downloads verified, %d checks matched", schedules.seeds.size(), downloaded, checked);
}

int main(int argc, char* argv[])
{
    schedules = Schedules::FromArguments(argc, argv, 1000);
    FontPropertyTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fontlib_property.moc"
