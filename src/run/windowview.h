#pragma once

// The run as the window shows it: the designed status texts, the progress
// bar, the RUN button and the panel words, made from the run's events. The
// window uses this observer; anything that shows the designed texts elsewhere
// asks it for them rather than writing its own.

#include "run/run.h"

#include "link/runcontrol.h"
#include "platform/progressbar.h"
#include "platform/statusbar.h"

#include <QString>

#include <optional>

namespace modburn::run {

// The window as the run's observer sees it. The window implements this; tests fake it.
class IRunWindow {
public:
    virtual ~IRunWindow() = default;

    // The whole text of priDownText, CR LF line breaks included.
    virtual QString StatusText() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void SetPrintDevCheck(int value) = 0;
    // RUN is greyed out while a run is active, so a click cannot start a
    // second run on the same link.
    virtual void SetRunButtonEnabled(bool enabled) = 0;
    // Closes the main window.
    virtual void Unload() = 0;
};

// The status text after `event`, given the text before it; nothing for the
// steps that leave the text alone.
std::optional<QString> StatusTextAfter(const RunEvent& event, const QString& before);

// The words put after the serial setting in the status bar for a run-time
// error, or nothing for the errors that end a run without a trace.
std::optional<QString> PanelWords(err::Number error);

class WindowView : public IRunObserver {
public:
    WindowView(IRunWindow& window, IStatusBar& StatusBar1, IProgressBar& PriProgressBar, const RunControl& control)
        : window_(window), StatusBar1_(StatusBar1), PriProgressBar_(PriProgressBar), control_(control)
    {
    }

    void OnStep(const RunEvent& event) override;
    void OnEnd(const Outcome& outcome) override;

private:
    IRunWindow& window_;
    IStatusBar& StatusBar1_;
    IProgressBar& PriProgressBar_;
    const RunControl& control_;
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
QString LocksGood(const Locks& locks);
QString LocksBad(const Locks& locks);
QString LocksAfterRejection(const Locks& locks);
}  // namespace msg

}  // namespace modburn::run
