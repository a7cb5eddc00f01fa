#pragma once

// The programming run that RUN starts, from the image file to the verdict,
// written against the platform interfaces. It reports what happens as events
// to one observer; the window's texts are one way of showing them.

#include "link/operationparts.h"
#include "platform/errors.h"
#include "platform/socket.h"

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

// The progress as the window shows it after `page`: its whole percentage.
int PercentAfter(int page);

struct RunEvent {
    Step step = Step::Started;
    int page = -1;  // for the page and lock steps
    std::optional<Locks> locks;

    // PercentAfter(page), for the steps of a page.
    std::optional<int> Percent() const;
};

// The lock bytes a programmed module reports.
extern const Locks ExpectedLocks;

// Why a run ended.
enum class Ending {
    Busy,             // another operation holds the link: the run did not start
    Programmed,       // every page accepted and the lock bytes as expected
    PagesRefused,     // `refusedPages` were refused
    LocksMissing,     // the last page was accepted and its lock bytes never came
    LocksWrong,       // the lock bytes after the last page differ: `wrongLocks`
    Unreachable,      // the link never came up, so the first send failed
    LinkDropped,      // the link closed under the run after `bytesSent` bytes
    ImageMissing,     // no image file
    ImageUnreadable,  // an image file that cannot be opened or read
    ImageTooLarge,    // an image of more than 8192 bytes
    BadPort,          // the port text is not a whole number from 1 to 65535
    StoppedByExit,    // Exit ended the run
    StoppedByOwner,   // the window closed, or the owner stopped the control
    Error,            // another run-time error: `error`
};

struct Outcome {
    Ending ending = Ending::Busy;
    std::vector<int> refusedPages;
    std::optional<Locks> locks;     // the last lock bytes shown, however the run ended
    std::vector<int> wrongLocks;    // which of `locks`, 1 to 3, are not as expected
    bool locksMissing = false;      // as LocksMissing, also when pages were refused as well
    err::Number error = err::None;  // the run-time error behind the ending, if there was one
    std::int64_t bytesSent = 0;     // on the link since it was opened
    ConnectFailure connectFailure;  // Unreachable: why the connect failed, when the system said

    bool Programmed() const { return ending == Ending::Programmed; }
};

class IRunObserver {
public:
    virtual ~IRunObserver() = default;
    virtual void OnStep(const RunEvent& event) = 0;
    // Last of all, however the run ended. Not called for a run that did not start.
    virtual void OnEnd(const Outcome& outcome) = 0;
};

// The programming run: image load, link opening, burn-enable, search, erase,
// 128 pages and the lock-byte check. Run-time errors end the run; nothing
// escapes Run(). Exit is the control's RunEnable, looked at where the design
// looks; shutting the control down ends every wait at once.
class ProgrammingRun {
public:
    explicit ProgrammingRun(OperationParts parts) : p_(parts) {}

    ProgrammingRun(const ProgrammingRun&) = delete;
    ProgrammingRun& operator=(const ProgrammingRun&) = delete;

    // The click of RUN. While this run or another operation holds the link
    // it does nothing and returns a Busy outcome.
    Outcome Run(const Target& target, IRunObserver& observer);
    bool Active() const { return observer_ != nullptr; }

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

    // Where the run is, for what an error there means.
    enum class Stage { Image, Opening, Talking };

    Ending Body(const Target& target);
    Ending EndingFor(err::Number error) const;
    void LoadImage(const QString& path, ImageBuffer& image);
    End SendUntilAnswered(char command, Resend how);
    // What works on frames, kept out of this header so that its users need
    // not see the frame layout.
    struct Frames;
    friend struct Frames;
    End Stop(OnExit how);
    End ProgramPages(const ImageBuffer& image);
    std::optional<Locks> AwaitLockBytes();
    void FinalLockCheck(bool anyPageRejected);
    void ReadBackAfterRejection(int page);
    void Emit(Step step, int page = -1, std::optional<Locks> locks = std::nullopt);

    OperationParts p_;
    IRunObserver* observer_ = nullptr;
    Outcome outcome_;
    Stage stage_ = Stage::Image;
    bool finalLocksGood_ = false;
};

}  // namespace modburn::run
