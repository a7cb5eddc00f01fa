// The simulated module: frames parsed and checked, flash and font pages stored, faults on request.

#include "device.h"

#include <algorithm>
#include <fstream>

#include "frame/frame.h"

namespace modburn::devsim {

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fr = modburn::frame;

bool IsUpperHex(std::uint8_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(std::uint8_t c)
{
    return c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'A' + 10);
}

bool AllUpperHex(std::span<const std::uint8_t> f, std::size_t from, std::size_t to)  // [from, to)
{
    return std::all_of(f.begin() + static_cast<std::ptrdiff_t>(from), f.begin() + static_cast<std::ptrdiff_t>(to),
                       IsUpperHex);
}

// Value of `width` upper-case digits at pos, or -1 when any of them is not one.
long long ParseHex(std::span<const std::uint8_t> f, std::size_t pos, std::size_t width)
{
    if (pos + width > f.size())
        return -1;
    long long value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (!IsUpperHex(f[i]))
            return -1;
        value = value * 16 + HexValue(f[i]);
    }
    return value;
}

std::uint8_t XorOf(std::span<const std::uint8_t> f, std::size_t from, std::size_t to)  // [from, to)
{
    std::uint8_t x = 0;
    for (std::size_t i = from; i < to && i < f.size(); ++i)
        x ^= f[i];
    return x;
}

void AppendText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

std::string HexBytes(const Bytes& bytes)
{
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += fr::Hex(b, 2);
    }
    return text;
}

// A command letter as readable text even when it is a control byte.
std::string Letter(std::uint8_t c)
{
    if (c >= 0x20 && c < 0x7F)
        return std::string("'") + static_cast<char>(c) + "'";
    return "0x" + fr::Hex(c, 2);
}

bool HasHeader(std::span<const std::uint8_t> f, char command, char qualifier)
{
    return f.size() >= 4 && f[0] == fr::STX && f[1] == static_cast<std::uint8_t>(fr::Lead) &&
           f[2] == static_cast<std::uint8_t>(command) && f[3] == static_cast<std::uint8_t>(qualifier);
}

constexpr std::size_t PageEtxPos = fr::PageFrameLen - 2;
constexpr std::size_t PageSumPos = fr::PageFrameLen - 1;

// Layout and digits right, checksum not looked at: what a damaged page frame still is.
bool PageShaped(std::span<const std::uint8_t> f)
{
    return f.size() == fr::PageFrameLen && HasHeader(f, fr::CmdWrite, fr::QualModule) && f[PageEtxPos] == fr::ETX &&
           AllUpperHex(f, 4, PageEtxPos);
}

// A module page frame as read. The page is known whenever its two digits are,
// so refusals can still name it.
struct PageRead {
    int page = -1;
    std::string fault;  // why it is refused; empty when sound
};

PageRead ReadPage(const Bytes& f)
{
    PageRead read{static_cast<int>(ParseHex(f, 4, 2)), {}};
    if (f.size() != fr::PageFrameLen || !HasHeader(f, fr::CmdWrite, fr::QualModule) || f[PageEtxPos] != fr::ETX)
        read.fault = "bad layout";
    else if (!AllUpperHex(f, 4, PageEtxPos))
        read.fault = "bad digits";
    else if (read.page > LastModulePage)
        read.fault = "bad page";
    else if (f[PageSumPos] != XorOf(f, 1, PageEtxPos))
        read.fault = "bad checksum";
    return read;
}

}  // namespace

Device::Device(Options options) : options_(std::move(options))
{
    faults_.silentBurnEnablesLeft = options_.silentBurnEnables;
    faults_.silentSearchesLeft = options_.silentSearches;
    faults_.silentChecksLeft = options_.silentChecks;
    faults_.dropsLeft = options_.dropPageReplies;
    faults_.lateLeft = options_.latePageReplies;
    flash_.fill(0xFF);
}

const std::array<std::uint8_t, ModuleFlashSize>& Device::Flash() const
{
    return flash_;
}

bool Device::HasFontPage(int page) const
{
    return fontPages_.contains(page);
}

std::array<std::uint8_t, 256> Device::FontPage(int page) const
{
    auto it = fontPages_.find(page);
    if (it == fontPages_.end())
        return {};
    return it->second;
}

std::size_t Device::FontPageCount() const
{
    return fontPages_.size();
}

std::uint32_t Device::FontSum(int firstPage, int lastPage) const
{
    std::uint32_t sum = 0;
    if (lastPage < firstPage)
        return sum;
    for (auto it = fontPages_.lower_bound(firstPage); it != fontPages_.end() && it->first <= lastPage; ++it) {
        for (std::uint8_t b : it->second)
            sum += b;  // wraps at 32 bits like the device's counter
    }
    return sum;
}

const Options& Device::GetOptions() const
{
    return options_;
}

const Counters& Device::Stats() const
{
    return stats_;
}

const FaultState& Device::Faults() const
{
    return faults_;
}

void Device::Log(const std::string& line) const
{
    if (transcript)
        transcript(line);
}

std::vector<Action> Device::Handle(const std::vector<std::uint8_t>& frame)
{
    const int number = ++faults_.framesReceived;
    if (options_.loseFrames.contains(number)) {
        ++stats_.framesLost;
        std::string line = "<- frame ";
        line += std::to_string(number);
        line += " lost on the way (";
        line += std::to_string(frame.size());
        line += " bytes, no reply)";
        Log(line);
        return {};
    }
    if (frame.size() < 4 || frame[0] != fr::STX || frame[1] != fr::Lead) {
        Log("<- not a frame (" + std::to_string(frame.size()) + " bytes, no reply)");
        return {};
    }
    switch (Session::FrameLength(frame[2], frame[3])) {
    case fr::PageFrameLen:
        return HandlePage(frame);
    case fr::FontPageFrameLen:
        return HandleFontPage(frame);
    case fr::CheckFrameLen:
        return HandleCheck(frame);
    default:
        return HandleShort(frame);
    }
}

std::vector<Action> Device::ReplyUnlessSilent(const std::string& what, const std::string& replyText, int& silentLeft,
                                              int silentWanted, int& silentCount, const Action& reply)
{
    std::string line = "<- ";
    line += what;
    if (silentLeft > 0) {
        --silentLeft;
        ++silentCount;
        line += " (silent ";
        line += std::to_string(silentWanted - silentLeft);
        line += " of ";
        line += std::to_string(silentWanted);
        line += ", no reply)";
        Log(line);
        return {};
    }
    line += " -> ";
    line += replyText;
    Log(line);
    return {reply};
}

std::vector<Action> Device::HandleShort(const std::vector<std::uint8_t>& f)
{
    const std::string letters = Letter(f[2]) + "," + Letter(f[3]);
    if (f.size() != fr::ShortFrameLen || f[4] != fr::ETX) {
        ++stats_.malformedShortFrames;
        Log("<- short frame " + letters + " without ETX (no reply)");
        return {};
    }
    const Action ack{options_.replyDelayMs, {AckByte}, false};
    if (f[3] == fr::QualModule) {
        switch (f[2]) {
        case fr::CmdBurnEnable:
            ++stats_.burnEnables;
            return ReplyUnlessSilent("burn-enable", "06", faults_.silentBurnEnablesLeft, options_.silentBurnEnables,
                                     stats_.silentBurnEnables, ack);
        case fr::CmdSearch:
            ++stats_.searches;
            return ReplyUnlessSilent("search", "06", faults_.silentSearchesLeft, options_.silentSearches,
                                     stats_.silentSearches, ack);
        case fr::CmdErase: {
            ++stats_.erases;
            flash_.fill(0xFF);
            Log("<- erase -> 06");
            Action done = ack;
            done.delayMs += options_.eraseMs;
            return {done};
        }
        default:
            break;
        }
    }
    ++stats_.unknownCommands;
    Log("<- unknown command " + letters + " (no reply)");
    return {};
}

std::vector<Action> Device::HandlePage(const std::vector<std::uint8_t>& f)
{
    PageRead read = ReadPage(f);
    if (read.fault.empty() && options_.rejectPages.contains(read.page))
        read.fault = "refused";
    const int page = read.page;
    const bool ok = read.fault.empty();

    std::string line = "<- page ";
    line += page >= 0 ? fr::Hex(static_cast<std::uint32_t>(page), 2) : "??";
    line += ' ';
    line += ok ? "ok" : read.fault;

    int delay = options_.replyDelayMs;
    if (ok) {
        StorePage(page, f);
        delay += options_.pageWriteMs;
    } else {
        ++stats_.pagesRejected;
    }

    // The first frame of a late page uses up its delay even when its reply is dropped.
    const int late = TakeLateDelay(page);
    std::vector<Action> actions;
    if (TakePageDrop(page)) {
        ++stats_.pageRepliesDropped;
        line += " -> reply dropped";
    } else {
        actions = PageReply(ok, page, delay + late, line);
        if (late > 0) {
            ++stats_.pageRepliesLate;
            line += " (";
            line += std::to_string(late);
            line += " ms late)";
        }
    }

    if (page == LastModulePage && !options_.flashOut.empty())
        line += WriteFlashFile() ? ", flash saved" : ", flash save failed";

    if (TakeCloseAfter(page)) {
        ++stats_.closes;
        line += ", close";
        if (actions.empty())
            actions.push_back({delay, {}, true});
        else
            actions.back().close = true;
    }
    Log(line);
    return actions;
}

void Device::StorePage(int page, const std::vector<std::uint8_t>& f)
{
    const std::size_t base = static_cast<std::size_t>(page) * fr::ModulePageSize;
    for (std::size_t i = 0; i < fr::ModulePageSize; ++i)
        flash_[base + i] = static_cast<std::uint8_t>(ParseHex(f, 6 + 2 * i, 2));
    ++stats_.pagesAccepted;
    ++stats_.pageWrites[page];
}

std::vector<Action> Device::PageReply(bool accepted, int page, int delayMs, std::string& line)
{
    // The module reports its lock bytes after the last page and after any refusal.
    const bool sendLocks = (!accepted || page == LastModulePage) && !options_.withholdLocks;
    const Bytes reply{accepted ? fr::PageAcceptedByte : NakByte};
    const Bytes locks(options_.lockBytes.begin(), options_.lockBytes.end());

    line += " -> ";
    line += HexBytes(reply);
    if (!sendLocks)
        return {{delayMs, reply, false}};
    ++stats_.lockReplies;
    line += ", locks ";
    line += HexBytes(locks);
    if (options_.coalesceLock) {
        Bytes both = reply;
        both.insert(both.end(), locks.begin(), locks.end());
        return {{delayMs, both, false}};
    }
    return {{delayMs, reply, false}, {options_.lockDelayMs, locks, false}};
}

bool Device::TakePageDrop(int page)
{
    if (page < 0)
        return false;
    auto it = faults_.dropsLeft.find(page);
    if (it == faults_.dropsLeft.end() || it->second <= 0)
        return false;
    --it->second;
    return true;
}

int Device::TakeLateDelay(int page)
{
    if (page < 0)
        return 0;
    auto it = faults_.lateLeft.find(page);
    if (it == faults_.lateLeft.end())
        return 0;
    const int late = it->second;
    faults_.lateLeft.erase(it);
    return late;
}

bool Device::TakeCloseAfter(int page)
{
    if (page < 0 || page != options_.closeAfterPage || faults_.closedAfterPage)
        return false;
    faults_.closedAfterPage = true;
    return true;
}

std::vector<Action> Device::HandleFontPage(const std::vector<std::uint8_t>& f)
{
    constexpr std::size_t dataPos = 8;
    constexpr std::size_t sumPos = fr::FontPageFrameLen - 3;
    constexpr std::size_t etxPos = fr::FontPageFrameLen - 1;

    const long long page = ParseHex(f, 4, 4);
    std::string reason;
    if (f.size() != fr::FontPageFrameLen || !HasHeader(f, fr::CmdWrite, fr::QualFont) || f[etxPos] != fr::ETX)
        reason = "bad layout";
    else if (!AllUpperHex(f, 4, etxPos))
        reason = "bad digits";
    else if (page > MaxFontPage)
        reason = "bad page";
    else if (ParseHex(f, sumPos, 2) != XorOf(f, 1, sumPos))
        reason = "bad checksum";
    else if (options_.rejectFontPages.contains(static_cast<int>(page)))
        reason = "rejected on request";
    const bool ok = reason.empty();

    std::string line = "<- font page " + (page >= 0 ? fr::Hex(static_cast<std::uint32_t>(page), 4) : "????");
    int delay = options_.replyDelayMs;
    if (ok) {
        std::array<std::uint8_t, fr::FontPageSize> data{};
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(ParseHex(f, dataPos + 2 * i, 2));
        const int p = static_cast<int>(page);
        if (options_.corruptFontPages.contains(p)) {
            data[0] ^= 0x01;  // any single changed byte moves the sum
            line += " ok (stored corrupted)";
        } else {
            line += " ok";
        }
        fontPages_[p] = data;
        ++stats_.fontPagesAccepted;
        delay += options_.fontPageWriteMs;
    } else {
        ++stats_.fontPagesRejected;
        line += " " + reason + " -> ER";
    }

    if (ok && options_.dropFontPageReplies.contains(static_cast<int>(page))) {
        ++stats_.fontRepliesDropped;
        Log(line + " -> reply dropped");
        return {};
    }

    Bytes reply{fr::STX, static_cast<std::uint8_t>(fr::Lead), static_cast<std::uint8_t>(fr::CmdWrite)};
    AppendText(reply, ok ? "OK" : "ER");
    AppendText(reply, fr::Hex(XorOf(reply, 1, 5), 2));
    reply.push_back(fr::ETX);
    Log(line);
    return {{delay, reply, false}};
}

std::vector<Action> Device::HandleCheck(const std::vector<std::uint8_t>& f)
{
    constexpr std::size_t sumPos = fr::CheckFrameLen - 3;
    constexpr std::size_t etxPos = fr::CheckFrameLen - 1;
    const std::uint8_t qualifier = f[3];
    const std::string what = qualifier == fr::QualChecksum ? "checksum check" : "download check";

    bool ok = f.size() == fr::CheckFrameLen && HasHeader(f, fr::CmdCheck, static_cast<char>(qualifier)) &&
              f[etxPos] == fr::ETX && AllUpperHex(f, 4, etxPos) && ParseHex(f, sumPos, 2) == XorOf(f, 1, sumPos);

    Bytes reply{fr::STX, static_cast<std::uint8_t>(fr::CmdCheck), qualifier};
    // Echo the page digits as received; they only label the answer.
    for (std::size_t i = 4; i < 12; ++i)
        reply.push_back(i < f.size() ? f[i] : '-');

    std::string line = what;
    std::string sum = "--------";  // never equal to digits the tool sent
    if (ok) {
        const long long first = ParseHex(f, 4, 4);
        const long long last = ParseHex(f, 8, 4);
        sum = fr::Hex(FontSum(static_cast<int>(first), static_cast<int>(last)), 8);
        if (options_.lowerCaseCheckDigits) {
            // Same value, but a byte-wise compare against the tool's upper-case digits fails.
            for (char& c : sum) {
                if (c >= 'A' && c <= 'F')
                    c = static_cast<char>(c - 'A' + 'a');
            }
        }
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a chain of operator+.
        line += ' ';
        line.append(f.begin() + 4, f.begin() + 8);
        line += "..";
        line.append(f.begin() + 8, f.begin() + 12);
        line += " sum ";
        line.append(f.begin() + 12, f.begin() + 20);
        ++(qualifier == fr::QualChecksum ? stats_.checksumChecks : stats_.downloadChecks);
    } else {
        line += " malformed";
        ++stats_.malformedChecks;
    }
    AppendText(reply, sum);
    AppendText(reply, fr::Hex(XorOf(reply, 1, reply.size()), 2));  // over the digits as sent
    reply.push_back(fr::ETX);
    return ReplyUnlessSilent(line, sum, faults_.silentChecksLeft, options_.silentChecks, stats_.silentChecks,
                             {options_.replyDelayMs, reply, false});
}

bool Device::WriteFlashFile()
{
    std::ofstream out(options_.flashOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash_.data()), static_cast<std::streamsize>(flash_.size()));
    out.close();
    if (!out)
        return false;
    ++stats_.flashWrites;
    return true;
}

Session::Session(Device& device) : device_(device) {}

int Session::FrameLength(std::uint8_t command, std::uint8_t qualifier)
{
    if (command == fr::CmdWrite && qualifier == fr::QualModule)
        return fr::PageFrameLen;
    if (command == fr::CmdWrite && qualifier == fr::QualFont)
        return fr::FontPageFrameLen;
    if (command == fr::CmdCheck && (qualifier == fr::QualFont || qualifier == fr::QualChecksum))
        return fr::CheckFrameLen;
    return fr::ShortFrameLen;
}

std::size_t Session::Pending() const
{
    return buffer_.size();
}

std::size_t Session::Discarded() const
{
    return discarded_;
}

bool Session::Closed() const
{
    return closed_;
}

std::size_t Session::NoiseAt(std::size_t pos, std::size_t len)
{
    // Searched up to the frame's end, but not into a page frame's raw checksum, which may be an STX.
    const std::size_t end = std::min(buffer_.size(), pos + (len == fr::PageFrameLen ? len - 1 : len));
    const std::size_t from = pos + std::max<std::size_t>(4, scanned_);
    if (from < end) {
        const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(from);
        const auto last = buffer_.begin() + static_cast<std::ptrdiff_t>(end);
        const auto stx = std::find(first, last, fr::STX);
        if (stx != last)
            return static_cast<std::size_t>(stx - buffer_.begin()) - pos;
        scanned_ = end - pos;
    }
    return 0;
}

std::vector<Action> Session::Feed(std::span<const std::uint8_t> bytes)
{
    std::vector<Action> out;
    if (closed_)
        return out;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());

    // Every step moves pos forward or waits for more bytes, and no byte is
    // searched twice for the same candidate, so this stays linear.
    std::size_t pos = 0;
    const auto discard = [&](std::size_t count) {
        pos += count;
        discarded_ += count;
        scanned_ = 0;
    };
    while (!closed_) {
        const auto stx = std::find(buffer_.begin() + static_cast<std::ptrdiff_t>(pos), buffer_.end(), fr::STX);
        if (const auto skipped = static_cast<std::size_t>(stx - buffer_.begin()) - pos; skipped > 0)
            discard(skipped);
        const std::size_t avail = buffer_.size() - pos;
        if (avail < 2)
            break;
        if (buffer_[pos + 1] != fr::Lead) {
            discard(1);
            continue;
        }
        if (avail < 4)
            break;
        // Take exactly the implied length: a page frame's raw checksum may be an STX.
        const auto len = static_cast<std::size_t>(FrameLength(buffer_[pos + 2], buffer_[pos + 3]));
        if (len > fr::ShortFrameLen) {
            if (const std::size_t noise = NoiseAt(pos, len); noise > 0) {
                discard(noise);
                continue;
            }
        }
        if (avail < len)
            break;
        const Bytes frame(buffer_.begin() + static_cast<std::ptrdiff_t>(pos),
                          buffer_.begin() + static_cast<std::ptrdiff_t>(pos + len));
        // An STX as checksum belongs to the frame only if the rest of it looks like a page frame.
        if (len == fr::PageFrameLen && frame.back() == fr::STX && !PageShaped(frame)) {
            discard(len - 1);
            continue;
        }
        for (Action& a : device_.Handle(frame)) {
            closed_ = closed_ || a.close;
            out.push_back(std::move(a));
        }
        if (len == fr::ShortFrameLen && frame[4] != fr::ETX) {
            discard(1);  // not a frame after all: look again right after its STX
        } else {
            pos += len;
            scanned_ = 0;
        }
    }
    if (closed_) {
        buffer_.clear();
        scanned_ = 0;
        return out;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
    return out;
}

}  // namespace modburn::devsim
