#pragma once

// Font libraries: downloading a file into the device's 256-byte flash pages
// and having the device check a page range by its sum.

#include "link/operationparts.h"
#include "platform/errors.h"
#include "platform/progressbar.h"
#include "platform/socket.h"
#include "platform/statusbar.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
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
    LinkClosed,   // a link seen connected was seen closed
};

struct FontEvent {
    FontStep step = FontStep::PageStored;
    const Library* library = nullptr;  // the download's library, if it is one the window follows
    int index = 0;
    int pagesAfterFirst = 0;
    bool verified = false;

    // How much of the range is stored, as a whole percentage, for PageStored.
    std::optional<int> Percent() const
    {
        if (step != FontStep::PageStored)
            return std::nullopt;
        return pagesAfterFirst == 0 ? 100 : index * 100 / pagesAfterFirst;
    }
};

// Why a font operation ended.
enum class FontEnding {
    Busy,            // another operation holds the link: nothing was done
    Verified,        // every page acknowledged and the device's sum matches (a check: the sums match)
    SumDiffers,      // the device's sum is another
    PageRefused,     // the device refused a page
    NoAnswer,        // a reply did not come in time
    FileMissing,     // no NAME.bin
    FileUnreadable,  // a NAME.bin that cannot be opened
    OutOfRange,      // a page span or a checksum that does not fit its field; nothing was sent
    Unreachable,     // the link never came up, so the first send failed
    LinkDropped,     // the link closed under the operation after `bytesSent` bytes
    StoppedByOwner,  // the window closed, or the owner stopped the control
    Error,           // another run-time error: `error`
};

struct FontOutcome {
    FontEnding ending = FontEnding::Busy;
    err::Number error = err::None;  // the run-time error behind the ending, if there was one
    std::optional<int> lastPage;    // the last page acknowledged
    std::int64_t bytesSent = 0;     // on the link since it was opened
    ConnectFailure connectFailure;  // Unreachable: why the connect failed, when the system said

    bool Verified() const { return ending == FontEnding::Verified; }
};

class IFontObserver {
public:
    virtual ~IFontObserver() = default;
    virtual void OnFontStep(const FontEvent& event) = 0;
    // Last of all, however the operation ended. Not called when it did not start.
    virtual void OnFontEnd(const FontOutcome& /*outcome*/) {}
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

// Where to connect first, for an owner whose link is not connected yet: the
// address and port texts as a run takes them.
struct Endpoint {
    QString address;
    QString port;
};

// Moving a font library into the device's 256-byte flash pages and proving
// it arrived. The link must already be connected, or `openFirst` names where
// to connect it. Errors end the operation and are told in its outcome (the
// file is closed whatever ends it); nothing escapes.
class FontTransfer {
public:
    explicit FontTransfer(OperationParts parts) : p_(parts) {}

    FontTransfer(const FontTransfer&) = delete;
    FontTransfer& operator=(const FontTransfer&) = delete;

    // Sends the file `dspStr`.bin from the working directory into pages
    // sPage..ePage, zero-padded, then has the device check the range against
    // the sum of every byte sent. Verified only when every page was
    // acknowledged and the device's sum digits match.
    FontOutcome DownChar(const QString& dspStr, std::int16_t sPage, std::int16_t ePage, IFontObserver& observer,
                         const Endpoint* openFirst = nullptr);

    // Asks the device whether pages sPage..ePage sum to aCheckSum, rounded
    // half to even; a value outside the signed 32-bit range ends it
    // OutOfRange before anything is sent.
    FontOutcome CheckChar(double aCheckSum, std::int16_t sPage, std::int16_t ePage, IFontObserver& observer,
                          const Endpoint* openFirst = nullptr);

private:
    enum class Stage { File, Opening, Talking };

    // Holds the link, opens it when asked, runs `body` and tells its end.
    FontOutcome Perform(IFontObserver& observer, const Endpoint* openFirst,
                        const std::function<FontEnding(IFontObserver&)>& body);
    FontEnding EndingFor(err::Number error) const;
    FontEnding Download(const QString& dspStr, std::int16_t sPage, std::int16_t ePage, IFontObserver& observer);
    FontEnding Check(double aCheckSum, std::int16_t sPage, std::int16_t ePage, IFontObserver& observer);
    void ReportFailure(FontStep step, IFontObserver& observer);
    // What works on frames, kept out of this header so that its users need
    // not see the frame layout.
    struct Frames;
    friend struct Frames;

    OperationParts p_;
    Stage stage_ = Stage::File;
    std::optional<int> lastPage_;
};

// The 32-bit two's-complement value sent for a caller's checksum.
std::uint32_t CheckSumValue(double aCheckSum);

}  // namespace modburn::fontlib
