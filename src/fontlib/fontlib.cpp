// The page-by-page download, the range checks and the captions that follow them.

#include "fontlib/fontlib.h"

#include "frame/frame.h"
#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/serialport.h"
#include "platform/statusbar.h"
#include "platform/text.h"

#include <cmath>
#include <limits>
#include <memory>

namespace modburn::fontlib {

namespace fr = modburn::frame;

namespace {

// The pause after each page: a bare count, during which no events run.
void Pause()
{
    volatile int n = 0;
    while (n <= 10000)
        n = n + 1;
}

}  // namespace

const std::array<Library, 4>& Libraries()
{
    static const std::array<Library, 4> libraries{{
        {QStringLiteral("Hzk12"), QStringLiteral("HZ12"), QStringLiteral("HZ12S   下载中 "),
         QStringLiteral("HZ12S     下载完成"), QStringLiteral("HZ12S     下载完成")},
        {QStringLiteral("Hzk16s"), QStringLiteral("HZ16"), QStringLiteral("HZ16S     下载中 "),
         QStringLiteral("HZ16S     下载完成"), QStringLiteral("HZ16S    下载完成")},
        {QStringLiteral("Hzk24s"), QStringLiteral("HZ24S"), QStringLiteral("HZ24S     下载中 "),
         QStringLiteral("HZ24S     下载完成"), QStringLiteral("HZ24S     下载完成")},
        {QStringLiteral("Hzk24st"), QStringLiteral("HZ24ST"), QStringLiteral("HZ24ST    下载中 "),
         QStringLiteral("HZ24ST    下载完成"), QStringLiteral("HZ24ST    下载完成")},
    }};
    return libraries;
}

const Library* FindLibrary(const QString& dspStr)
{
    for (const Library& library : Libraries()) {
        if (library.name == dspStr)
            return &library;
    }
    return nullptr;
}

QString LoadingCaption(const Library& library, int i)
{
    // i / 3 rounded to nearest (it never falls halfway), modulo 6, plus one:
    // the seventh dot never shows.
    const int dots = (i + 1) / 3 % 6 + 1;
    return library.loading + QStringLiteral(".......").left(dots);
}

std::uint32_t CheckSumValue(double aCheckSum)
{
    // nearbyint rounds in the default mode: to nearest, halves to even.
    const double rounded = std::nearbyint(aCheckSum);
    constexpr double low = std::numeric_limits<std::int32_t>::min();
    constexpr double high = std::numeric_limits<std::int32_t>::max();
    if (!(rounded >= low && rounded <= high))  // NaN fails too
        throw RuntimeError(err::Overflow, "Overflow");
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(rounded));
}

struct FontTransfer::Frames {
    // Empties the serial input, sends the frame, waits. False when the reply
    // did not come in time; that has been reported and the serial port closed.
    static bool Exchange(FontTransfer& font, const FrameBuilder& build, fr::ReplyRule reply, IFontObserver& observer)
    {
        if (font.p_.link.Exchange(build, reply, &font.p_.MSComm1) == Reply::Answered)
            return true;
        // A reply that never came must not be judged from what an earlier reply
        // left in RecBuf; and if it comes late, it must not be taken for the
        // next operation's on the same link.
        font.ReportFailure(FontStep::NoAnswer, observer);
        font.p_.link.CollectOwed();
        return false;
    }
};

FontOutcome FontTransfer::DownChar(const QString& dspStr, std::int16_t sPage, std::int16_t ePage,
                                   IFontObserver& observer, const Endpoint* openFirst)
{
    return Perform(observer, openFirst, [&](IFontObserver& o) { return Download(dspStr, sPage, ePage, o); });
}

FontOutcome FontTransfer::CheckChar(double aCheckSum, std::int16_t sPage, std::int16_t ePage, IFontObserver& observer,
                                    const Endpoint* openFirst)
{
    return Perform(observer, openFirst, [&](IFontObserver& o) { return Check(aCheckSum, sPage, ePage, o); });
}

FontOutcome FontTransfer::Perform(IFontObserver& observer, const Endpoint* openFirst,
                                  const std::function<FontEnding(IFontObserver&)>& body)
{
    // Never beside a run or another font operation on the same link.
    const LinkHold hold(p_.control);
    if (!hold.Held())
        return {};
    // A stopped owner starts nothing more on its link.
    FontOutcome outcome;
    if (p_.control.Stopped()) {
        outcome.ending = FontEnding::StoppedByOwner;
        return outcome;
    }
    stage_ = Stage::File;
    lastPage_.reset();
    p_.link.SetClosedHandler([&observer] { observer.OnFontStep({FontStep::LinkClosed}); });
    try {
        if (openFirst) {
            stage_ = Stage::Opening;
            p_.link.Open(openFirst->address, openFirst->port);
        }
        stage_ = Stage::File;
        outcome.ending = body(observer);
    } catch (const RuntimeError& error) {
        outcome.error = error.Number();
        outcome.ending = EndingFor(error.Number());
    }
    if (outcome.ending == FontEnding::Unreachable)
        outcome.connectFailure = p_.link.TcpWinsock().Failure();
    p_.link.SetClosedHandler(nullptr);
    outcome.lastPage = lastPage_;
    outcome.bytesSent = p_.link.BytesSent();
    observer.OnFontEnd(outcome);
    return outcome;
}

FontEnding FontTransfer::EndingFor(err::Number error) const
{
    switch (error) {
    case err::WindowClosed:
        return FontEnding::StoppedByOwner;
    case err::SocketBadState:
        return p_.link.EverConnected() ? FontEnding::LinkDropped : FontEnding::Unreachable;
    case err::FileNotFound:
        return stage_ == Stage::File ? FontEnding::FileMissing : FontEnding::Error;
    case err::FileAccess:
        return stage_ == Stage::File ? FontEnding::FileUnreadable : FontEnding::Error;
    case err::Overflow:
        return stage_ == Stage::File ? FontEnding::OutOfRange : FontEnding::Error;
    default:
        return FontEnding::Error;
    }
}

FontEnding FontTransfer::Download(const QString& dspStr, std::int16_t sPage, std::int16_t ePage,
                                  IFontObserver& observer)
{
    Link& link = p_.link;
    const Library* library = FindLibrary(dspStr);

    // Destroying the file closes it, whatever way out is taken.
    const std::unique_ptr<IFile> file =
        p_.files.OpenForRead(p_.files.InCurrentDir(TrimBlanks(dspStr) + QStringLiteral(".bin")));
    std::uint32_t DataSum = 0;

    const int pagesAfterFirst = int{ePage} - int{sPage};
    if (pagesAfterFirst < std::numeric_limits<std::int16_t>::min() ||
        pagesAfterFirst > std::numeric_limits<std::int16_t>::max())
        throw RuntimeError(err::Overflow, "Overflow");
    stage_ = Stage::Talking;

    // The file starts at the first page of the range and is padded with zeros.
    std::array<std::uint8_t, fr::FontPageSize> data{};
    for (int i = 0; i <= pagesAfterFirst; ++i) {
        for (std::uint8_t& byte : data) {
            byte = file->ReadByte().value_or(0);
            DataSum += byte;
        }
        const auto page = static_cast<std::int16_t>(sPage + i);
        const auto build = [page, &data](fr::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
            return fr::BuildFontPageFrame(SendBuf, FrameXor, page, data);
        };
        if (!Frames::Exchange(*this, build, fr::FontPageReply, observer))
            return FontEnding::NoAnswer;
        if (!fr::FontPageAccepted(link.Answers().front().Reply())) {
            ReportFailure(FontStep::PageRefused, observer);
            return FontEnding::PageRefused;
        }
        lastPage_ = page;
        // The bar moves before the page's pause, the caption after it; the
        // pause handles no events, so both show together.
        observer.OnFontStep({FontStep::PageStored, library, i, pagesAfterFirst});
        Pause();
    }

    file->Close();
    observer.OnFontStep({FontStep::AllSent, library, pagesAfterFirst, pagesAfterFirst});

    const auto buildCheck = [&](fr::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
        return fr::BuildCheckFrame(SendBuf, FrameXor, fr::QualFont, sPage, ePage, DataSum);
    };
    if (!Frames::Exchange(*this, buildCheck, fr::CheckReply, observer))
        return FontEnding::NoAnswer;
    const bool verified = fr::CheckReplyMatches(link.Answers().front().Reply(), link.SendBuf());
    observer.OnFontStep({FontStep::Checked, library, pagesAfterFirst, pagesAfterFirst, verified});

    // The device may follow up; whatever comes, or not, is not looked at.
    link.AwaitReply(fr::CheckReply);
    return verified ? FontEnding::Verified : FontEnding::SumDiffers;
}

FontEnding FontTransfer::Check(double aCheckSum, std::int16_t sPage, std::int16_t ePage, IFontObserver& observer)
{
    Link& link = p_.link;
    const std::uint32_t checksum = CheckSumValue(aCheckSum);
    stage_ = Stage::Talking;
    const auto build = [&](fr::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
        return fr::BuildCheckFrame(SendBuf, FrameXor, fr::QualChecksum, sPage, ePage, checksum);
    };
    if (!Frames::Exchange(*this, build, fr::CheckReply, observer))
        return FontEnding::NoAnswer;
    if (fr::CheckReplyMatches(link.Answers().front().Reply(), link.SendBuf()))
        return FontEnding::Verified;
    p_.MSComm1.SetPortOpen(false);
    return FontEnding::SumDiffers;
}

void FontTransfer::ReportFailure(FontStep step, IFontObserver& observer)
{
    observer.OnFontStep({step});
    p_.MSComm1.SetPortOpen(false);
}

std::optional<QString> CaptionAfter(const FontEvent& event)
{
    const Library* library = event.library;
    if (!library)
        return std::nullopt;
    switch (event.step) {
    case FontStep::PageStored:
        return LoadingCaption(*library, event.index);
    case FontStep::AllSent:
        return library->done;
    case FontStep::Checked:
        return event.verified ? library->done + Verified : library->doneThenFailed + NotVerified;
    default:
        return std::nullopt;
    }
}

void WindowView::OnFontStep(const FontEvent& event)
{
    switch (event.step) {
    case FontStep::PageStored: {
        IProgressBar& bar = HZProgressBar_;
        // One page has nothing to divide: it is the whole range.
        if (event.pagesAfterFirst == 0) {
            bar.SetValue(bar.Max());
        } else {
            const double span = double{bar.Max()} - double{bar.Min()};
            bar.SetValue(static_cast<float>(span * event.index / event.pagesAfterFirst));
        }
        break;
    }
    case FontStep::PageRefused:
        ReportAfterSetting(StatusBar1_, PageRefused);
        return;
    case FontStep::NoAnswer:
        ReportAfterSetting(StatusBar1_, NoAnswer);
        return;
    default:
        break;
    }
    if (const auto caption = CaptionAfter(event))
        window_.SetOptionCaption(event.library->option, *caption);
}

}  // namespace modburn::fontlib
