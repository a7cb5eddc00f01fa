#pragma once

// Font libraries: downloading a file into the device's 256-byte flash pages
// and having the device check a page range by its sum.

#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/file.h"
#include "platform/progressbar.h"
#include "platform/serialport.h"
#include "platform/statusbar.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace modburn::fontlib {

// A font library that the window follows on one of its option buttons.
struct Library {
    QString name;            // the library name a caller passes, compared exactly
    QString option;          // objectName of the option button
    QString loading;         // caption prefix while pages go out, before the dots
    QString done;            // caption once every page is sent, and before "   校验成功"
    QString doneThenFailed;  // caption before "   校验失败" (one library has a blank less)
};

const std::array<Library, 4>& Libraries();
// The library of that exact name (case and blanks count), or nullptr.
const Library* FindLibrary(const QString& dspStr);

inline const QString Verified = QStringLiteral("   校验成功");
inline const QString NotVerified = QStringLiteral("   校验失败");
inline const QString PageRefused = QStringLiteral(" 通讯错误");
inline const QString NoAnswer = QStringLiteral(" 通讯失败");

// The caption while page `sPage` + i is out: the prefix and 1 to 6 dots.
QString LoadingCaption(const Library& library, int i);

// What a font operation reports as it goes.
enum class FontStep {
    PageStored,   // page sPage + `index` of sPage..sPage + `pagesAfterFirst` was acknowledged
    AllSent,      // every page of the download is out; the check follows
    Checked,      // the device answered the download's check; `verified` says how
    PageRefused,  // the device refused a page; the operation fails
    NoAnswer,     // a reply did not come in time; the operation fails
};

struct FontEvent {
    FontStep step = FontStep::PageStored;
    const Library* library = nullptr;  // the download's library, if it is one the window follows
    int index = 0;
    int pagesAfterFirst = 0;
    bool verified = false;
};

class IFontObserver {
public:
    virtual ~IFontObserver() = default;
    virtual void OnFontStep(const FontEvent& event) = 0;
};

// The option button caption after `event`, or nothing when it has none.
std::optional<QString> CaptionAfter(const FontEvent& event);

// The window as the font operations show themselves in it.
class IFontWindow {
public:
    virtual ~IFontWindow() = default;
    virtual void SetOptionCaption(const QString& option, const QString& caption) = 0;
};

// The window's captions, progress bar and panel words for the font events.
class WindowView : public IFontObserver {
public:
    WindowView(IFontWindow& window, IStatusBar& StatusBar1, IProgressBar& HZProgressBar)
        : window_(window), StatusBar1_(StatusBar1), HZProgressBar_(HZProgressBar)
    {
    }
    void OnFontStep(const FontEvent& event) override;

private:
    IFontWindow& window_;
    IStatusBar& StatusBar1_;
    IProgressBar& HZProgressBar_;
};

struct FontParts {
    Link& link;
    RunControl& control;
    ISerialPort& MSComm1;
    IFileSystem& files;
};

// Moving a font library into the device's 256-byte flash pages and proving
// it arrived. The link must already be connected. Neither operation handles
// errors: a RuntimeError (file, overflow, closed window, link) passes to the
// caller, and the file is closed whatever ends the operation.
class FontTransfer {
public:
    explicit FontTransfer(FontParts parts) : p_(parts) {}

    FontTransfer(const FontTransfer&) = delete;
    FontTransfer& operator=(const FontTransfer&) = delete;

    // Sends the file `dspStr`.bin from the working directory into pages
    // sPage..ePage, zero-padded, then has the device check the range against
    // the sum of every byte sent. True only when every page was acknowledged
    // and the device's sum digits match.
    bool DownChar(const QString& dspStr, const std::int16_t& sPage, const std::int16_t& ePage, IFontObserver& observer);

    // Asks the device whether pages sPage..ePage sum to aCheckSum, rounded
    // half to even; a value outside the signed 32-bit range raises
    // RuntimeError(err::Overflow) before anything is sent.
    bool CheckChar(const double& aCheckSum, const std::int16_t& sPage, const std::int16_t& ePage,
                   IFontObserver& observer);

private:
    // Empties the serial input, sends the frame, waits. False when the reply
    // did not come in time; that has been reported and the serial port closed.
    bool Exchange(const FrameBuilder& build, frame::ReplyRule reply, IFontObserver& observer);
    void ReportFailure(FontStep step, IFontObserver& observer);

    FontParts p_;
};

// The 32-bit two's-complement value sent for a caller's checksum.
std::uint32_t CheckSumValue(double aCheckSum);

}  // namespace modburn::fontlib
