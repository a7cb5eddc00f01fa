#pragma once

// The programming run that RUN starts, from the image file to the verdict,
// written against the platform interfaces. It reports what happens as events
// to one observer; the window's texts are one way of showing them.

#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/serialport.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace modburn::run {

using Locks = std::array<std::uint8_t, 3>;

inline const QString ImageFileName = QStringLiteral("TavimorkAVRMODavr.bin");

// 8192 bytes of flash image plus one spare element that is never sent.
inline constexpr std::size_t ImageBufSize = 8193;
using ImageBuffer = std::array<std::uint8_t, ImageBufSize>;

// What a run is to do: the address and port as typed (blanks around them are
// trimmed, and a port that is not 1..65535 in digits ends the run before it
// connects), and the image file.
struct Target {
    QString address;
    QString port;
    QString imagePath;
};

// What happened, in the order it happened.
enum class Step {
    Started,            // nothing read or sent yet
    BurnEnabled,        // the first burn-enable was answered
    Searching,          // the device search begins
    Found,              // ... and was answered
    EraseEnabled,       // the second burn-enable was answered
    Erased,             // the erase was answered
    PageSentAgain,      // `page` was not answered in time and goes again
    PageAccepted,       // `page` was accepted by every send that was answered
    PageRefused,        // some send of `page` was refused
    PageDone,           // `page` is over, its lock bytes read where they follow it
    LocksGood,          // after the last page: `locks` as expected
    LocksBad,           // after the last page: `locks` not as expected, or a page was refused
    LocksMissing,       // after the last page: the lock bytes never came
    LocksAfterRefusal,  // the `locks` that followed a refusal of `page`
    LinkClosed,         // a link seen connected was seen closed
    CloseAsked,         // Exit was seen where the run closes the window
};

struct RunEvent {
    Step step = Step::Started;
    int page = -1;  // for the page and lock steps
    std::optional<Locks> locks;
};

// How a run ended.
enum class Verdict {
    NotRun,      // the run did not start: another operation holds the link
    Programmed,  // every page accepted and the lock bytes as expected
    Failed,      // the module is not programmed: a page refused, lock bytes wrong or missing
    Stopped,     // Exit ended the run
    Error,       // a run-time error ended the run; `error` holds its number
};

struct Outcome {
    Verdict verdict = Verdict::NotRun;
    std::vector<int> refusedPages;
    std::optional<Locks> locks;  // the last lock bytes shown
    bool locksMissing = false;   // the last page was accepted and its lock bytes never came
    err::Number error = err::None;
    bool connected = false;      // the link was seen connected
    std::int64_t bytesSent = 0;  // on the link since it was opened
};

class IRunObserver {
public:
    virtual ~IRunObserver() = default;
    virtual void OnStep(const RunEvent& event) = 0;
    // Last of all, however the run ended. Not called for a run that did not start.
    virtual void OnEnd(const Outcome& outcome) = 0;
};

// What a run works on; the caller owns all of it.
struct RunParts {
    Link& link;
    RunControl& control;
    ISerialPort& MSComm1;
    IFileSystem& files;
};

// The programming run: image load, link opening, burn-enable, search, erase,
// 128 pages and the lock-byte check. Run-time errors end the run; nothing
// escapes Run(). Exit is the control's RunEnable, looked at where the design
// looks; shutting the control down ends every wait at once.
class ProgrammingRun {
public:
    explicit ProgrammingRun(RunParts parts) : p_(parts) {}

    ProgrammingRun(const ProgrammingRun&) = delete;
    ProgrammingRun& operator=(const ProgrammingRun&) = delete;

    // The click of RUN. While this run or another operation holds the link
    // it does nothing and returns a NotRun outcome.
    Outcome Run(const Target& target, IRunObserver& observer);
    bool Active() const { return observer_ != nullptr; }
    // The outcome of the last run that started.
    const Outcome& LastOutcome() const { return outcome_; }

private:
    enum class End { Finished, Stopped };

    // What a resend loop does about Exit: nothing, end the run, or close the
    // window and end the run.
    enum class OnExit { Ignore, End, Unload };
    // How one of the phases repeats its frame until answered.
    struct Resend {
        bool clearSerial;     // empty the serial input before each frame
        OnExit atTop;         // yield and test Exit before each frame (not when Ignore)
        OnExit afterTimeOut;  // test Exit after each silent wait
        int reportPage = -1;  // a page whose silent waits are reported
    };

    End Body(const Target& target);
    void LoadImage(const QString& path, ImageBuffer& image);
    End SendUntilAnswered(char command, Resend how);
    // Sends the frame until it is answered; the link then holds the replies
    // to all of its sends.
    End SendUntilAnswered(const FrameBuilder& build, frame::ReplyRule reply, Resend how);
    End Stop(OnExit how);
    End ProgramPages(const ImageBuffer& image);
    std::optional<Locks> AwaitLockBytes();
    void FinalLockCheck(bool anyPageRejected);
    void ReadBackAfterRejection(int page);
    void Emit(Step step, int page = -1, std::optional<Locks> locks = std::nullopt);

    RunParts p_;
    IRunObserver* observer_ = nullptr;
    Outcome outcome_;
};

}  // namespace modburn::run
