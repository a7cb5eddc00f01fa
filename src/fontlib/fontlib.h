#pragma once

// Font libraries: downloading a file into the device's 256-byte flash pages
// and having the device check a page range by its sum.

#include "link/link.h"
#include "platform/file.h"
#include "platform/progressbar.h"
#include "platform/serialport.h"
#include "platform/statusbar.h"

#include <QString>

#include <array>
#include <cstdint>

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

// The window as the font operations see it.
class IFontWindow {
public:
    virtual ~IFontWindow() = default;
    virtual void SetOptionCaption(const QString& option, const QString& caption) = 0;
};

struct FontParts {
    Link& link;
    ISerialPort& MSComm1;
    IStatusBar& StatusBar1;
    IProgressBar& HZProgressBar;
    IFileSystem& files;
    IFontWindow& window;
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
    bool DownChar(const QString& dspStr, const std::int16_t& sPage, const std::int16_t& ePage);

    // Asks the device whether pages sPage..ePage sum to aCheckSum, rounded
    // half to even; a value outside the signed 32-bit range raises
    // RuntimeError(err::Overflow) before anything is sent.
    bool CheckChar(const double& aCheckSum, const std::int16_t& sPage, const std::int16_t& ePage);

private:
    // Empties the serial input, sends the frame, waits. False when the reply
    // did not come in time; that has been reported and the serial port closed.
    bool Exchange(const FrameBuilder& build, frame::ReplyRule reply);
    void ReportFailure(const QString& suffix);
    void ShowProgress(int i, int pagesAfterFirst);

    FontParts p_;
};

// The 32-bit two's-complement value sent for a caller's checksum.
std::uint32_t CheckSumValue(double aCheckSum);

}  // namespace modburn::fontlib
