#pragma once

// The simulated print-driver module as seen over the wire.
// Standard C++ only and free of time: replies come back as actions with
// delays, so a test can play the device on a fake socket with a virtual clock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "frame/frame.h"

namespace modburn::devsim {

inline constexpr std::uint8_t AckByte = 0x06;  // short commands
inline constexpr std::uint8_t NakByte = 0x15;  // malformed or refused module page
inline constexpr int ModuleFlashSize = frame::ModulePages * frame::ModulePageSize;
inline constexpr int LastModulePage = frame::ModulePages - 1;
inline constexpr int MaxFontPage = 32767;
inline constexpr int FontReplyLen = 8;
inline constexpr int CheckReplyLen = 22;

struct Options {
    std::array<std::uint8_t, 3> lockBytes{0xAF, 0xDC, 0xCC};
    int silentBurnEnables = 0;           // the first N 'P','Q' frames get no reply
    int silentSearches = 0;              // the first N 'C','Q' frames get no reply
    bool withholdLocks = false;          // never send the lock bytes
    std::set<int> rejectPages;           // module pages answered 0x15 every time (nothing stored)
    std::map<int, int> dropPageReplies;  // page -> times its reply (and lock bytes) are dropped; data still stored
    int closeAfterPage = -1;             // close the connection right after replying to this page (first time only)
    int replyDelayMs = 0;                // added before every reply
    int pageWriteMs = 0;                 // module page write time
    int eraseMs = 0;                     // module erase time
    int fontPageWriteMs = 0;             // font page write time
    int lockDelayMs = 20;                // gap between a page reply and the lock bytes
    bool coalesceLock = false;           // lock bytes in the same write as the page reply
    std::set<int> corruptFontPages;      // stored with one byte altered, so a check of that range fails
    std::set<int> rejectFontPages;       // valid font pages answered "ER" every time (nothing stored)
    std::set<int> dropFontPageReplies;   // font pages stored as usual but never answered
    int silentChecks = 0;                // the first N check frames, 'C','P' and 'C','Z' together, get no reply
    bool lowerCaseCheckDigits = false;   // a check reply's sum digits in lower-case hex
    std::string flashOut;                // when non-empty: write the module flash to this file after page 127
    std::map<int, int> latePageReplies;  // page -> extra ms before the reply to its first frame only
    std::set<int> loseFrames;            // frame numbers (from 1, all connections) ignored as if never received
};

struct Action {
    int delayMs = 0;                  // counted from the previous action of the same connection
    std::vector<std::uint8_t> bytes;  // one write
    bool close = false;               // close the connection after the write
};

// What the device saw and did; nothing here steers it.
struct Counters {
    int burnEnables = 0;        // all 'P','Q' frames, silent ones included
    int silentBurnEnables = 0;  // those left unanswered
    int searches = 0;           // all 'C','Q' frames, silent ones included
    int silentSearches = 0;     // those left unanswered
    int erases = 0;
    int pagesAccepted = 0;
    int pagesRejected = 0;  // any module page frame answered 0x15
    int pageRepliesDropped = 0;
    int pageRepliesLate = 0;  // replies sent late on request
    int lockReplies = 0;      // lock byte triples sent
    int fontPagesAccepted = 0;
    int fontPagesRejected = 0;  // any font page frame answered "ER", on request or not
    int fontRepliesDropped = 0;
    int downloadChecks = 0;  // well-formed ones, silent ones included
    int checksumChecks = 0;
    int malformedChecks = 0;
    int silentChecks = 0;  // checks of either kind left unanswered
    int unknownCommands = 0;
    int malformedShortFrames = 0;  // 5-byte frames without their ETX
    int closes = 0;
    int flashWrites = 0;            // times the flash-out file was written
    int framesLost = 0;             // frames ignored as if never received
    std::map<int, int> pageWrites;  // module page -> accepted writes

    bool operator==(const Counters&) const = default;
};

// How much of each requested fault is still to come; set from the options at
// the start and used up as frames arrive, across all connections.
struct FaultState {
    int silentBurnEnablesLeft = 0;
    int silentSearchesLeft = 0;
    int silentChecksLeft = 0;
    std::map<int, int> dropsLeft;  // page -> replies still to drop
    std::map<int, int> lateLeft;   // page -> delay for its first frame, removed once used
    bool closedAfterPage = false;
    int framesReceived = 0;  // every frame handed in, lost ones too: numbers them for loseFrames
};

// The device itself: one per simulator, shared by all connections.
class Device {
public:
    explicit Device(Options options = {});

    // One complete candidate frame, as cut by a Session. Any bytes are safe.
    std::vector<Action> Handle(const std::vector<std::uint8_t>& frame);

    // Starts out erased (all 0xFF), like a blank part.
    const std::array<std::uint8_t, ModuleFlashSize>& Flash() const;
    bool HasFontPage(int page) const;
    std::array<std::uint8_t, 256> FontPage(int page) const;  // zero if absent
    std::size_t FontPageCount() const;
    // Arithmetic sum of every stored byte of pages first..last; pages never
    // written count 0, and last < first is an empty range.
    std::uint32_t FontSum(int firstPage, int lastPage) const;

    const Options& GetOptions() const;
    const Counters& Stats() const;
    const FaultState& Faults() const;

    // One line per received frame when set.
    std::function<void(const std::string&)> transcript;

private:
    std::vector<Action> HandleShort(const std::vector<std::uint8_t>& frame);
    std::vector<Action> HandlePage(const std::vector<std::uint8_t>& frame);
    std::vector<Action> HandleFontPage(const std::vector<std::uint8_t>& frame);
    std::vector<Action> HandleCheck(const std::vector<std::uint8_t>& frame);
    void Log(const std::string& line) const;
    // While `silentLeft` lasts, frames of a kind go unanswered; `replyText` is the reply as logged.
    std::vector<Action> ReplyUnlessSilent(const std::string& what, const std::string& replyText, int& silentLeft,
                                          int silentWanted, int& silentCount, const Action& reply);

    // A module page frame, once read: its storage, its reply, and the faults that bend the reply.
    void StorePage(int page, const std::vector<std::uint8_t>& frame);
    std::vector<Action> PageReply(bool accepted, int page, int delayMs, std::string& line);
    bool TakePageDrop(int page);
    int TakeLateDelay(int page);
    bool TakeCloseAfter(int page);

    bool WriteFlashFile();

    Options options_;
    FaultState faults_;
    std::array<std::uint8_t, ModuleFlashSize> flash_{};
    std::map<int, std::array<std::uint8_t, 256>> fontPages_;
    Counters stats_;
};

// One connection: cuts its byte stream into frames and hands them to the device.
// A well-formed frame never holds an STX before its end (a page frame's raw
// checksum aside), so one that shows up inside a candidate frame means the
// candidate's header was noise: the cutter starts over from there at once
// instead of swallowing the frame behind it.
class Session {
public:
    explicit Session(Device& device);

    std::vector<Action> Feed(std::span<const std::uint8_t> bytes);

    // Bytes held back waiting for the rest of a frame.
    std::size_t Pending() const;
    // Bytes thrown away while looking for a frame start.
    std::size_t Discarded() const;
    // True once an action closed the connection; later bytes are ignored.
    bool Closed() const;

    // Frame length implied by the command and qualifier letters.
    static int FrameLength(std::uint8_t command, std::uint8_t qualifier);

private:
    // Offset at which the candidate frame at `pos` is known to be noise, or 0 if it is not.
    std::size_t NoiseAt(std::size_t pos, std::size_t len);

    Device& device_;
    std::vector<std::uint8_t> buffer_;
    std::size_t scanned_ = 0;  // bytes of the pending candidate already searched for an STX
    std::size_t discarded_ = 0;
    bool closed_ = false;
};

}  // namespace modburn::devsim
