#pragma once

// Command frames to the device and the rules for judging its replies.
// Pure code: no I/O, no Qt.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace modburn::frame {

inline constexpr int SendBufSize = 549;
inline constexpr int RecBufSize = 549;

// One frame byte per element, as a small integer 0..255.
using SendBuffer = std::array<std::int16_t, SendBufSize>;
using RecBuffer = std::array<std::uint8_t, RecBufSize>;

inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr char Lead = 'a';

// Command letters (frame position 2) and qualifiers (position 3).
inline constexpr char CmdBurnEnable = 'P';  // also programming (erase) enable
inline constexpr char CmdSearch = 'C';
inline constexpr char CmdErase = 'E';
inline constexpr char CmdWrite = 'W';
inline constexpr char CmdCheck = 'C';
inline constexpr char QualModule = 'Q';
inline constexpr char QualFont = 'P';      // font page write, download check
inline constexpr char QualChecksum = 'Z';  // checksum check against a given sum

inline constexpr int ShortFrameLen = 5;
inline constexpr int PageFrameLen = 136;
inline constexpr int FontPageFrameLen = 523;
inline constexpr int CheckFrameLen = 23;

inline constexpr int ModulePageSize = 64;
inline constexpr int ModulePages = 128;
inline constexpr int FontPageSize = 256;

// Which replies of a module page the module's three lock bytes follow.
enum class LocksFollow : std::uint8_t {
    Never,    // every frame but module pages
    Refusal,  // pages 0..126: a refusal
    Any,      // page 127: its acceptance as much as a refusal
};

// What each frame waits for: reply length, time-out in milliseconds, and
// whether the lock bytes may follow the reply.
struct ReplyRule {
    std::int16_t length;
    std::int16_t timeoutMs;
    LocksFollow locks = LocksFollow::Never;
};
inline constexpr ReplyRule ShortReply{1, 500};
inline constexpr ReplyRule PageReply{1, 5000, LocksFollow::Refusal};
inline constexpr ReplyRule LastPageReply{1, 5000, LocksFollow::Any};
inline constexpr ReplyRule LockReply{3, 5000};
inline constexpr ReplyRule FontPageReply{8, 2000};
inline constexpr ReplyRule CheckReply{22, 5000};
inline constexpr int LockBytes = 3;
inline constexpr int LongestReply = 22;

inline constexpr std::uint8_t PageAcceptedByte = 0x05;
inline constexpr std::array<std::uint8_t, 3> ExpectedLocks{0xAF, 0xDC, 0xCC};

// Upper-case hex digit of a value 0..15.
char HexDigit(unsigned nibble);
// value as `width` upper-case hex digits, zero-padded, most significant first.
std::string Hex(std::uint32_t value, int width);

// Short frame: STX 'a' command 'Q' ETX. Returns the frame length.
int BuildShortFrame(SendBuffer& SendBuf, char command);

// Module page frame for page 0..127: checksum as one raw byte after the ETX.
int BuildPageFrame(SendBuffer& SendBuf, std::uint8_t& FrameXor, int page,
                   std::span<const std::uint8_t, ModulePageSize> data);

// Font page-write frame: page as 4 digits (low 16 bits), 256 data bytes,
// checksum as two digits before the ETX.
int BuildFontPageFrame(SendBuffer& SendBuf, std::uint8_t& FrameXor, std::int16_t page,
                       std::span<const std::uint8_t, FontPageSize> data);

// Download check ('P') or checksum check ('Z') of pages sPage..ePage.
int BuildCheckFrame(SendBuffer& SendBuf, std::uint8_t& FrameXor, char qualifier, std::int16_t sPage, std::int16_t ePage,
                    std::uint32_t checksum);

// Reply rules. A reply shorter than its rule's length does not pass.
bool PageAccepted(std::uint8_t reply);
bool FontPageAccepted(std::span<const std::uint8_t> reply);
// Reply bytes 11..18 against the request's checksum digits at 12..19. The
// request echoed back (a port that is not the device's) never matches, even
// where its digits line up.
bool CheckReplyMatches(std::span<const std::uint8_t> reply, const SendBuffer& SendBuf);
// A lock byte as shown: upper-case hex without leading zeros (0x0C is "C").
std::string LockText(std::uint8_t value);
bool LocksExpected(std::uint8_t lock1, std::uint8_t lock2, std::uint8_t lock3);

}  // namespace modburn::frame
