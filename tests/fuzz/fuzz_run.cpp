// Fuzzes whole programming runs and font downloads against a device and a line
// whose faults the input chooses. Each outcome is judged from the device's
// side, as the run property test does: success may be shown only for what
// the device really stored and answered, and no wait may go on for ever.

#include "fakelink.h"
#include "fakeplatform.h"
#include "faultyline.h"
#include "fuzzinput.h"
#include "runrig.h"

#include "fontlib/fontlib.h"
#include "run/run.h"
#include "ui/windowrules.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <map>
#include <vector>

using namespace modburn;
using namespace modburn::fake;
using modburn::fuzz::Filler;
using modburn::fuzz::Input;

namespace {

using Bytes = std::vector<std::uint8_t>;

const QString Programmed = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
constexpr std::array<std::uint8_t, 3> GoodLocks{0xAF, 0xDC, 0xCC};
constexpr int ModuleBytes = 8192;
constexpr int PageTimeOutMs = 5000;
// Hours of virtual time: far past any bounded run, so only a hang reaches it.
constexpr std::int64_t VirtualLimitMs = 6LL * 3600 * 1000;

class FontWindow : public fontlib::IFontWindow {
public:
    void SetOptionCaption(const QString&, const QString&) override {}
};

double Rate(Input& in, double most)
{
    const std::uint8_t b = in.Byte();
    return b < 0x80 ? 0.0 : most * (b - 0x80) / 127.0;
}

// The line's faults and a few scripted frames; `lossy` when any of them can
// keep a good device from being heard.
LineFaults Line(Input& in, bool& lossy)
{
    LineFaults line;
    line.replySlow = Rate(in, 0.3);
    line.replySplit = Rate(in, 0.5);
    line.garbageAtConnect = Rate(in, 1.0);
    line.frameLost = Rate(in, 0.1);
    line.replyLost = Rate(in, 0.1);
    line.replyLate = Rate(in, 0.1);
    line.garbageInHandshake = Rate(in, 1.0);
    lossy = line.frameLost > 0 || line.replyLost > 0 || line.replyLate > 0 || line.garbageInHandshake > 0;
    return line;
}

std::map<int, FrameScript> Script(Input& in, int lastFrame, bool& lossy)
{
    std::map<int, FrameScript> script;
    const int entries = in.Byte() % 8;
    for (int i = 0; i < entries; ++i) {
        FrameScript fate;
        const std::uint8_t what = in.Byte();
        fate.lost = (what & 0x03) == 1;
        fate.replyLost = (what & 0x03) == 2;
        // Within twice the shortest time-out, the longest a short reply may be late.
        fate.extraDelayMs = (what & 0x04) != 0 ? in.Range(0, 1000) : 0;
        lossy = lossy || fate.lost || fate.replyLost || fate.extraDelayMs > 250;
        script[in.Range(1, lastFrame)] = fate;
    }
    return script;
}

// Replies in the very pass of their time-out. Read last, so that inputs
// saved before the line could do this keep their meaning.
void AtTimeOut(Input& in, LineFaults& line, bool& lossy)
{
    line.replyAtTimeOut = Rate(in, 0.1);
    lossy = lossy || line.replyAtTimeOut > 0;
}

struct RunCase {
    Bytes image;
    devsim::Options device;
    LineFaults line;
    std::map<int, FrameScript> script;
    std::uint64_t seed = 0;
    bool benign = false;  // nothing that should keep a good module from passing

    explicit RunCase(Input& in)
    {
        seed = in.U64();
        const std::uint8_t sizeKind = in.Byte();
        const int size = sizeKind < 0x20 ? 0 : sizeKind < 0x40 ? ModuleBytes : in.Range(0, ModuleBytes);
        image = Filler(in.U64()).Bytes(static_cast<std::size_t>(size));

        device.pageWriteMs = in.Range(0, 5);
        device.eraseMs = in.Range(0, 50);
        device.replyDelayMs = in.Range(0, 3);
        device.lockDelayMs = in.Range(0, 30);
        const std::uint8_t flags = in.Byte();
        device.coalesceLock = (flags & 0x01) != 0;
        if ((flags & 0x02) != 0)
            device.silentBurnEnables = in.Range(0, 3);
        if ((flags & 0x04) != 0)
            device.silentSearches = in.Range(0, 3);

        bool spoiled = false;
        const std::uint8_t faults = in.Byte();
        if ((faults & 0x01) != 0) {
            device.rejectPages.insert(in.Bit() ? devsim::LastModulePage : in.Range(0, devsim::LastModulePage));
            spoiled = true;
        }
        if ((faults & 0x02) != 0) {
            device.lockBytes[static_cast<std::size_t>(in.Range(0, 2))] ^= static_cast<std::uint8_t>(in.Range(1, 255));
            spoiled = true;
        }
        if ((faults & 0x04) != 0) {
            device.withholdLocks = true;
            spoiled = true;
        }
        if ((faults & 0x08) != 0) {
            // Not after the last page: by then the lock bytes are out, and a
            // run that shows success has been told all it needs.
            device.closeAfterPage = in.Range(0, devsim::LastModulePage - 1);
            spoiled = true;
        }
        bool lossy = false;
        if ((faults & 0x10) != 0) {
            device.dropPageReplies[in.Range(0, devsim::LastModulePage)] = in.Range(1, 2);
            lossy = true;
        }
        if ((faults & 0x20) != 0) {
            // Late, but within the twice the time-out that a run waits for owed replies.
            device.latePageReplies[in.Range(0, devsim::LastModulePage)] = in.Range(1, 2 * PageTimeOutMs - 100);
            lossy = true;
        }
        if ((faults & 0x40) != 0) {
            device.loseFrames.insert(in.Range(1, 150));
            lossy = true;
        }

        bool lineLossy = false;
        line = Line(in, lineLossy);
        script = Script(in, 150, lineLossy);
        AtTimeOut(in, line, lineLossy);
        benign = !spoiled && !lossy && !lineLossy;
    }
};

struct RunCaseRig : RunRig<FaultyLine> {
    explicit RunCaseRig(const RunCase& c) : RunRig(c.device, c.line, c.seed)
    {
        events.limitMs = VirtualLimitMs;
        peer.script = c.script;
        files.Put(run::ImageFileName, c.image);
    }
};

void FuzzRun(Input& in)
{
    const RunCase c(in);
    RunCaseRig rig(c);
    try {
        rig.run.Run();
    } catch (const std::exception& e) {
        // The fake event queue's verdict on a wait that never ends.
        modburn::fuzz::Fail(__FILE__, __LINE__, "Run() returned", e.what());
    }

    // The device's side, without the run's code.
    Bytes padded = c.image;
    padded.resize(ModuleBytes, 0);
    const auto& flash = rig.peer.device.Flash();
    const bool storedWholeImage = std::equal(padded.begin(), padded.end(), flash.begin());
    const bool refusedAPage = rig.peer.device.Stats().pagesRejected > 0;
    const bool sentGoodLocks = !c.device.withholdLocks && c.device.lockBytes == GoodLocks;
    const bool closedTheLink = rig.peer.hungUp;

    const run::Outcome& outcome = rig.run.LastOutcome();
    const bool saysProgrammed = rig.window.text.startsWith(QStringLiteral("       模块编程完毕!"));
    FUZZ_CHECK(saysProgrammed == (outcome.verdict == run::Verdict::Programmed),
               "the status text and the outcome agree");
    if (saysProgrammed) {
        FUZZ_CHECK(rig.window.text == Programmed, "success is shown with AF DC CC");
        FUZZ_CHECK(storedWholeImage, "success shown: the device holds the whole zero-padded image");
        FUZZ_CHECK(!refusedAPage, "success shown: the device refused no page");
        FUZZ_CHECK(sentGoodLocks, "success shown: the device sent AF DC CC");
        FUZZ_CHECK(!closedTheLink, "success shown: the device did not close the link");
    }
    FUZZ_CHECK(!c.benign || saysProgrammed, "a good module on a clean line is called programmed");
    FUZZ_CHECK(outcome.verdict != run::Verdict::Stopped, "the run does not stop without Exit");
}

struct FontCase {
    Bytes file;
    std::int16_t sPage = 0;
    std::int16_t ePage = 0;
    devsim::Options device;
    LineFaults line;
    std::map<int, FrameScript> script;
    std::uint64_t seed = 0;
    bool benign = false;

    explicit FontCase(Input& in)
    {
        seed = in.U64();
        const int pages = in.Range(0, 6);  // 0: an empty range, ePage just below sPage
        const int first = in.Bit() ? devsim::MaxFontPage - in.Range(0, 8) : in.Range(0, devsim::MaxFontPage);
        sPage = static_cast<std::int16_t>(std::max(0, std::min(first, devsim::MaxFontPage - pages + 1)));
        ePage = static_cast<std::int16_t>(sPage + pages - 1);
        const int size = in.Range(0, pages * 256 + 300);
        file = Filler(in.U64()).Bytes(static_cast<std::size_t>(size));

        device.fontPageWriteMs = in.Range(0, 5);
        device.replyDelayMs = in.Range(0, 3);
        const std::uint8_t faults = in.Byte();
        bool spoiled = false;
        const auto pageInRange = [&] { return sPage + in.Range(0, std::max(0, pages - 1)); };
        if ((faults & 0x01) != 0) {
            device.corruptFontPages.insert(pageInRange());
            spoiled = true;
        }
        if ((faults & 0x02) != 0) {
            device.rejectFontPages.insert(pageInRange());
            spoiled = true;
        }
        if ((faults & 0x04) != 0) {
            device.dropFontPageReplies.insert(pageInRange());
            spoiled = true;
        }
        if ((faults & 0x08) != 0) {
            device.silentChecks = in.Range(1, 2);
            spoiled = true;
        }
        if ((faults & 0x10) != 0) {
            device.lowerCaseCheckDigits = true;
            spoiled = true;
        }
        bool lineLossy = false;
        line = Line(in, lineLossy);
        script = Script(in, pages + 2, lineLossy);
        AtTimeOut(in, line, lineLossy);
        benign = !spoiled && !lineLossy;
    }
};

struct FontRig : FakeLinkParts {
    FakeSerialPort MSComm1;
    FakeStatusBar StatusBar1;
    FakeProgressBar HZProgressBar;
    FakeFileSystem files;
    FontWindow window;
    fontlib::FontTransfer font{{link, MSComm1, StatusBar1, HZProgressBar, files, window}};
    FaultyLine line;

    explicit FontRig(const FontCase& c) : line(clock, tcp, c.device, c.line, c.seed)
    {
        events.limitMs = VirtualLimitMs;
        line.script = c.script;
        link.SetUpSockets();
        link.StartTimers();
        link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
        MSComm1.open_ = true;
        files.Put(QStringLiteral("Font.bin"), c.file);
    }
};

void FuzzDownChar(Input& in)
{
    const FontCase c(in);
    FontRig rig(c);
    bool result = false;
    try {
        result = rig.font.DownChar(QStringLiteral("Font"), c.sPage, c.ePage);
    } catch (const std::exception& e) {
        modburn::fuzz::Fail(__FILE__, __LINE__, "DownChar returned", e.what());
    }
    FUZZ_CHECK(rig.files.openFiles == 0, "the file is closed");
    FUZZ_CHECK(!c.benign || result, "a good device on a clean line verifies the download");
    if (!result)
        return;

    // The device's side: every page of the range holds the file's bytes,
    // zero-padded, and the device's own sum is the file's.
    std::uint32_t sum = 0;
    for (int p = c.sPage; p <= c.ePage; ++p) {
        std::array<std::uint8_t, 256> expected{};
        for (std::size_t j = 0; j < expected.size(); ++j) {
            const std::size_t at = static_cast<std::size_t>(p - c.sPage) * expected.size() + j;
            expected[j] = at < c.file.size() ? c.file[at] : 0;
            sum += expected[j];
        }
        FUZZ_CHECK(rig.line.device.HasFontPage(p), "verified: every page of the range is stored");
        FUZZ_CHECK(rig.line.device.FontPage(p) == expected, "verified: every page holds the file's bytes");
    }
    FUZZ_CHECK(rig.line.device.FontSum(c.sPage, c.ePage) == sum, "verified: the device's sum is the file's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    if ((in.Byte() & 0x07) == 0)
        FuzzDownChar(in);
    else
        FuzzRun(in);
    return 0;
}
