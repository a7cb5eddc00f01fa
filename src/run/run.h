#pragma once

// The programming run that RUN starts, from the image file to the verdict,
// written against the platform interfaces and a small view of the window.

#include "link/link.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/progressbar.h"
#include "platform/serialport.h"
#include "platform/statusbar.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace modburn::run {

// The window as a run sees it: the status text, the controls it reads or sets,
// and its own way out. The window implements this; tests fake it.
class IRunWindow {
public:
    virtual ~IRunWindow() = default;

    // The whole text of priDownText, CR LF line breaks included.
    virtual QString StatusText() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void SetPrintDevCheck(int value) = 0;
    virtual QString IPaddrText() const = 0;
    virtual QString PortText() const = 0;
    // RUN is greyed out while a run is active, so a click cannot start a
    // second run on the same link.
    virtual void SetRunButtonEnabled(bool enabled) = 0;
    // Closes the main window (the resend loops do this once Exit is seen).
    virtual void Unload() = 0;

    // The two status text operations.
    void ReplaceStatus(const QString& message) { SetStatusText(message); }
    void AppendStatus(const QString& message) { SetStatusText(StatusText() + QStringLiteral("  \r\n") + message); }
};

// Everything a run works on; the window owns all of it.
struct RunParts {
    Link& link;
    ISerialPort& MSComm1;
    IStatusBar& StatusBar1;
    IProgressBar& PriProgressBar;
    IFileSystem& files;
    IRunWindow& window;
};

inline const QString ImageFileName = QStringLiteral("TavimorkAVRMODavr.bin");

// 8192 bytes of flash image plus one spare element that is never sent.
inline constexpr std::size_t ImageBufSize = 8193;
using ImageBuffer = std::array<std::uint8_t, ImageBufSize>;

// How a run ended, for callers that report it elsewhere than in the window.
enum class Verdict {
    NotRun,      // no run has ended yet
    Programmed,  // every page accepted and the lock bytes as expected
    Failed,      // the module is not programmed: a page refused, lock bytes wrong or missing
    Stopped,     // Exit ended the run
    Error,       // a run-time error ended the run; `error` holds its number
};

struct Outcome {
    Verdict verdict = Verdict::NotRun;
    std::optional<std::array<std::uint8_t, 3>> locks;  // the last lock bytes received
    err::Number error = err::None;
};

// The programming run that the RUN button starts: image load, link opening,
// burn-enable, search, erase, 128 pages and the lock-byte check. Run-time
// errors end in its one handler; nothing escapes Run().
class ProgrammingRun {
public:
    explicit ProgrammingRun(RunParts parts) : p_(parts) {}

    ProgrammingRun(const ProgrammingRun&) = delete;
    ProgrammingRun& operator=(const ProgrammingRun&) = delete;

    // The click of RUN. A click while a run is active is ignored.
    void Run();
    bool Active() const { return active_; }
    const Outcome& LastOutcome() const { return outcome_; }

private:
    enum class End { Finished, Stopped };

    // What a resend loop does about Exit: nothing, end the run, or close the
    // window and end the run.
    enum class OnExit { Ignore, End, Unload };
    // How one of the short-frame phases repeats its frame until answered.
    struct Resend {
        bool clearSerial;                         // empty the serial input before each frame
        OnExit atTop;                             // yield and test Exit before each frame (not when Ignore)
        OnExit afterTimeOut;                      // test Exit after each silent wait
        const QString* timeOutMessage = nullptr;  // shown after each silent wait
    };

    End Body();
    void LoadImage(ImageBuffer& image);
    End SendUntilAnswered(char command, Resend how);
    // Sends the frame until it is answered; the link then holds the replies
    // to all of its sends.
    End SendUntilAnswered(const FrameBuilder& build, frame::ReplyRule reply, Resend how);
    End Stop(OnExit how);
    End ProgramPages(const ImageBuffer& image);
    std::optional<std::array<std::uint8_t, 3>> AwaitLockBytes();
    void FinalLockCheck(bool anyPageRejected);
    void ReadBackAfterRejection();
    void HandleError(err::Number number);

    RunParts p_;
    bool active_ = false;
    Outcome outcome_;
};

// Status messages, byte for byte.
namespace msg {
extern const QString BurnEnabled;   // "        烧录使能!"
extern const QString Searching;     // "        系统查找设备!"
extern const QString Found;         // "        设备已连上!"
extern const QString EraseEnabled;  // "        擦除使能!"
extern const QString Erased;        // "        擦除成功!"
extern const QString CommError;     // "        通讯出错!"
extern const QString PortInvalid;   // " 串口无效"
extern const QString PortInUse;     // " 串口占用"
QString PageAccepted(int page);     // "        烧录成功!" and the percentage line
QString PageRejected(int page);     // blank lines, "        烧录出错!" and the page line
QString LockTimedOut();             // "        烧录出错!" and page 127
QString LocksGood(const std::array<std::uint8_t, 3>& locks);
QString LocksBad(const std::array<std::uint8_t, 3>& locks);
QString LocksAfterRejection(const std::array<std::uint8_t, 3>& locks);
}  // namespace msg

}  // namespace modburn::run
