// Fuzzes whole programming runs and font downloads against a device and a line
// whose faults the input chooses. Runs are drawn and judged by the same
// schedule and oracle as the run property test: the verdict must match what
// the device stored and answered, both ways, and no wait may go on for ever.

#include "fakelink.h"
#include "fakeplatform.h"
#include "faultyline.h"
#include "fontrig.h"
#include "fuzzinput.h"
#include "runrig.h"
#include "runschedule.h"

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

// Hours of virtual time: far past any bounded run, so only a hang reaches it.
constexpr std::int64_t VirtualLimitMs = 6LL * 3600 * 1000;

double Rate(Input& in, double most)
{
    const std::uint8_t b = in.Byte();
    return b < 0x80 ? 0.0 : most * (b - 0x80) / 127.0;
}

// The line's faults and a few scripted frames, for the font cases; `lossy`
// when any of them can keep a good device from being heard.
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
    line.replyAtTimeOut = Rate(in, 0.1);
    lossy = line.frameLost > 0 || line.replyLost > 0 || line.replyLate > 0 || line.garbageInHandshake > 0 ||
            line.replyAtTimeOut > 0;
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
        fate.extraDelayMs = (what & 0x04) != 0 ? in.Range(0, 1000) : 0;
        lossy = lossy || fate.lost || fate.replyLost || fate.extraDelayMs > 250;
        script[in.Range(1, lastFrame)] = fate;
    }
    return script;
}

// The run schedule's decisions, read from the fuzzer's input.
class InputDecisions : public Decisions {
public:
    explicit InputDecisions(Input& in) : in_(in) {}
    bool Chance(double p) override { return in_.Byte() < p * 256; }
    int Between(int lo, int hi) override { return in_.Range(lo, hi); }
    double Rate(double most) override { return ::Rate(in_, most); }
    std::uint64_t Seed() override { return in_.U64(); }

private:
    Input& in_;
};

void FuzzRun(Input& in)
{
    InputDecisions decide(in);
    const RunSchedule schedule(decide);
    RunRig<FaultyLine> rig(schedule.device, schedule.line, schedule.lineSeed);
    rig.events.limitMs = VirtualLimitMs;
    rig.peer.script = schedule.script;
    rig.files.Put(run::ImageFileName, schedule.image);

    RunSeen seen;
    run::Outcome outcome;
    try {
        outcome = rig.Press();
    } catch (const std::exception&) {
        seen.hung = true;  // the fake event queue's verdict on a wait that never ends
    }
    seen.statusText = rig.window.text;
    seen.outcomeProgrammed = outcome.Programmed();
    seen.outcomeStopped = outcome.ending == run::Ending::StoppedByExit;
    seen.elapsedMs = rig.clock.Now();
    const std::string broken = BrokenPromise(schedule, rig.peer, seen);
    FUZZ_CHECK(broken.empty(), broken.c_str());
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
        benign = !spoiled && !lineLossy;
    }
};

struct FontCaseRig : modburn::fake::FontRig<FaultyLine> {
    explicit FontCaseRig(const FontCase& c) : FontRig(c.device, c.line, c.seed)
    {
        events.limitMs = VirtualLimitMs;
        peer.script = c.script;
        MSComm1.open_ = true;
        files.Put(QStringLiteral("Font.bin"), c.file);
    }
};

void FuzzDownChar(Input& in)
{
    const FontCase c(in);
    FontCaseRig rig(c);
    bool result = false;
    try {
        result = rig.DownChar(QStringLiteral("Font"), c.sPage, c.ePage).Verified();
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
        FUZZ_CHECK(rig.peer.device.HasFontPage(p), "verified: every page of the range is stored");
        FUZZ_CHECK(rig.peer.device.FontPage(p) == expected, "verified: every page holds the file's bytes");
    }
    FUZZ_CHECK(rig.peer.device.FontSum(c.sPage, c.ePage) == sum, "verified: the device's sum is the file's");
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
