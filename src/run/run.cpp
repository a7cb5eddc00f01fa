// The run's phases, its messages and its one error handler.

#include "run/run.h"

#include "frame/frame.h"
#include "link/portreport.h"

#include <algorithm>
#include <span>

namespace modburn::run {

namespace fr = modburn::frame;

namespace {

const QString CrLf = QStringLiteral("\r\n");
constexpr int LastPage = fr::ModulePages - 1;

// A number as a signed decimal whose sign position holds a blank when it is
// not negative: 5 is " 5".
QString Signed(int value)
{
    return (value < 0 ? QString() : QStringLiteral(" ")) + QString::number(value);
}

QString Blanks(int count)
{
    return QString(count, u' ');
}

QString Lock(std::uint8_t value)
{
    return QString::fromStdString(fr::LockText(value));
}

}  // namespace

namespace msg {

const QString BurnEnabled = QStringLiteral("        烧录使能!");
const QString Searching = QStringLiteral("        系统查找设备!");
const QString Found = QStringLiteral("        设备已连上!");
const QString EraseEnabled = QStringLiteral("        擦除使能!");
const QString Erased = QStringLiteral("        擦除成功!");
const QString CommError = QStringLiteral("        通讯出错!");
const QString PortInvalid = QStringLiteral(" 串口无效");
const QString PortInUse = QStringLiteral(" 串口占用");

QString PageAccepted(int page)
{
    return QStringLiteral("        烧录成功!") + CrLf + Blanks(10) + Signed(page * 100 / fr::ModulePages) + u'%';
}

QString PageRejected(int page)
{
    return Blanks(2) + CrLf + Blanks(2) + CrLf + QStringLiteral("        烧录出错!") + CrLf + Blanks(8) + Signed(page);
}

QString LockTimedOut()
{
    return QStringLiteral("        烧录出错!") + CrLf + Blanks(8) + Signed(LastPage);
}

QString LocksGood(const std::array<std::uint8_t, 3>& locks)
{
    return QStringLiteral("       模块编程完毕!") + CrLf + QStringLiteral("  Lock1:") + Lock(locks[0]) +
           QStringLiteral("  Lock2:") + Lock(locks[1]) + QStringLiteral("  Lock3:") + Lock(locks[2]);
}

QString LocksBad(const std::array<std::uint8_t, 3>& locks)
{
    return QStringLiteral("       模块编程出错!") + CrLf + Blanks(8) + QStringLiteral("Lock1:") + Lock(locks[0]) +
           CrLf + Blanks(8) + QStringLiteral("Lock2:") + Lock(locks[1]) + CrLf + Blanks(8) + QStringLiteral("Lock3:") +
           Lock(locks[2]);
}

QString LocksAfterRejection(const std::array<std::uint8_t, 3>& locks)
{
    return QStringLiteral("       模块编程出错!") + CrLf + QStringLiteral(" Lock1:") + Lock(locks[0]) + CrLf +
           QStringLiteral("  Lock2:") + Lock(locks[1]) + CrLf + QStringLiteral(" Lock3:") + Lock(locks[2]);
}

}  // namespace msg

void ProgrammingRun::Run()
{
    // A click while this run or a font operation holds the link is ignored.
    const LinkHold hold(p_.link);
    if (!hold.Held())
        return;
    active_ = true;
    struct Inactive {
        bool& active;
        ~Inactive() { active = false; }
    } inactive{active_};

    p_.window.SetRunButtonEnabled(false);
    outcome_ = {};
    try {
        if (Body() == End::Stopped)
            outcome_.verdict = Verdict::Stopped;
    } catch (const RuntimeError& error) {
        outcome_.verdict = Verdict::Error;
        outcome_.error = error.Number();
        HandleError(error.Number());
    }
    // A closed window is left alone.
    if (!p_.link.IsShutDown())
        p_.window.SetRunButtonEnabled(true);
}

ProgrammingRun::End ProgrammingRun::Body()
{
    p_.window.ReplaceStatus(QStringLiteral(" "));
    p_.window.SetPrintDevCheck(1);

    ImageBuffer image{};
    LoadImage(image);

    p_.link.Open(p_.window.IPaddrText(), p_.window.PortText());

    // Burn-enable: resend every 500 ms until any byte answers.
    if (SendUntilAnswered(fr::CmdBurnEnable, {true, OnExit::End, OnExit::End}) == End::Stopped)
        return End::Stopped;
    p_.window.AppendStatus(msg::BurnEnabled);

    // Device search: the wait is its only yield, and Exit is not tested here.
    p_.window.ReplaceStatus(msg::Searching);
    SendUntilAnswered(fr::CmdSearch, {false, OnExit::Ignore, OnExit::Ignore});
    p_.window.ReplaceStatus(msg::Found);

    if (SendUntilAnswered(fr::CmdBurnEnable, {true, OnExit::Unload, OnExit::Ignore}) == End::Stopped)
        return End::Stopped;
    p_.window.AppendStatus(msg::EraseEnabled);

    if (SendUntilAnswered(fr::CmdErase, {true, OnExit::Unload, OnExit::Ignore}) == End::Stopped)
        return End::Stopped;
    p_.window.ReplaceStatus(msg::Erased);

    // Anything short of the final check's approval leaves the module failed.
    outcome_.verdict = Verdict::Failed;
    if (ProgramPages(image) == End::Stopped)
        return End::Stopped;

    p_.MSComm1.SetPortOpen(false);
    return End::Finished;
}

void ProgrammingRun::LoadImage(ImageBuffer& image)
{
    // The file closes on every way out when `file` goes.
    const std::unique_ptr<IFile> file = p_.files.OpenForRead(p_.files.InCurrentDir(ImageFileName));
    for (std::size_t index = 0;; ++index) {
        if (index >= image.size())
            throw RuntimeError(err::SubscriptOutOfRange, "Subscript out of range: image file longer than 8192 bytes");
        const std::optional<std::uint8_t> byte = file->ReadByte();
        if (!byte)
            break;
        image[index] = *byte;
    }
    file->Close();
}

ProgrammingRun::End ProgrammingRun::SendUntilAnswered(char command, Resend how)
{
    const auto build = [command](fr::SendBuffer& SendBuf, std::uint8_t&) {
        return fr::BuildShortFrame(SendBuf, command);
    };
    // The reply's value is not looked at, but every reply owed is collected,
    // so a late one is not taken for the next frame's.
    int replies = 0;
    return SendUntilAnswered(build, fr::ShortReply, how, replies);
}

ProgrammingRun::End ProgrammingRun::SendUntilAnswered(const FrameBuilder& build, fr::ReplyRule reply, Resend how,
                                                      int& replies)
{
    Link& link = p_.link;
    int sent = 0;
    for (;;) {
        if (how.atTop != OnExit::Ignore) {
            link.DoEvents();
            if (!link.RunEnabled())
                return Stop(how.atTop);
        }
        ++sent;
        if (link.Exchange(build, reply, how.clearSerial ? &p_.MSComm1 : nullptr) == Reply::Answered)
            break;
        // A reply that came in the very pass its time-out did answers this
        // frame: sending again would drop it, a refusal included.
        if (link.RecCount() >= reply.length)
            break;
        if (how.afterTimeOut != OnExit::Ignore && !link.RunEnabled())
            return Stop(how.afterTimeOut);
        if (how.timeOutMessage)
            p_.window.ReplaceStatus(*how.timeOutMessage);
    }
    replies = AwaitOwedReplies(sent, reply);
    return End::Finished;
}

int ProgrammingRun::AwaitOwedReplies(int sent, fr::ReplyRule reply)
{
    // The device answers each frame at most once, in order, and no later than
    // two time-outs after it. One reply per send of this frame is owed; until
    // all have come or can no longer come, the next frame must not go out, or
    // a late reply would be judged as the next frame's.
    Link& link = p_.link;
    if (link.RecCount() < sent) {
        const auto owedBytes = static_cast<std::int16_t>(std::min(sent, int{fr::RecBufSize}));
        const auto bound = static_cast<std::int16_t>(2 * reply.timeoutMs);
        link.AwaitFollowing({owedBytes, bound}, 0);
    }
    return std::min<int>(link.RecCount(), sent);
}

ProgrammingRun::End ProgrammingRun::Stop(OnExit how)
{
    if (how == OnExit::Unload)
        p_.window.Unload();
    return End::Stopped;
}

ProgrammingRun::End ProgrammingRun::ProgramPages(const ImageBuffer& image)
{
    Link& link = p_.link;
    // One rejected page spoils the module whatever the lock bytes say later.
    bool anyPageRejected = false;

    for (int page = 0; page < fr::ModulePages; ++page) {
        const std::span<const std::uint8_t, fr::ModulePageSize> data(
            image.data() + static_cast<std::size_t>(page) * fr::ModulePageSize, fr::ModulePageSize);

        const auto build = [page, data](fr::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
            return fr::BuildPageFrame(SendBuf, FrameXor, page, data);
        };
        // A page that times out goes again, for as long as the device is silent.
        int replies = 0;
        if (SendUntilAnswered(build, fr::PageReply, {true, OnExit::Ignore, OnExit::End, &msg::CommError}, replies) ==
            End::Stopped)
            return End::Stopped;

        // A refusal of any send of the page counts, not only the first reply's.
        const fr::RecBuffer& RecBuf = link.RecBuf();
        const bool accepted = std::all_of(RecBuf.begin(), RecBuf.begin() + replies, fr::PageAccepted);
        if (accepted) {
            p_.window.ReplaceStatus(msg::PageAccepted(page));
            if (page == LastPage)
                FinalLockCheck(anyPageRejected, replies);
        } else {
            anyPageRejected = true;
            p_.window.ReplaceStatus(msg::PageRejected(page));
            ReadBackAfterRejection(replies);
        }

        IProgressBar& bar = p_.PriProgressBar;
        bar.SetValue((bar.Max() - bar.Min()) * static_cast<float>(page) / static_cast<float>(fr::ModulePages));
    }
    return End::Finished;
}

std::optional<std::array<std::uint8_t, 3>> ProgrammingRun::AwaitLockBytes(int pageReplies)
{
    Link& link = p_.link;
    // The lock bytes have no frame of their own: whatever came after the
    // page's reply bytes in the same delivery is theirs.
    if (link.AwaitFollowing(fr::LockReply, pageReplies) == Reply::TimedOut)
        return std::nullopt;
    const fr::RecBuffer& RecBuf = link.RecBuf();
    outcome_.locks = std::array<std::uint8_t, 3>{RecBuf[0], RecBuf[1], RecBuf[2]};
    return outcome_.locks;
}

void ProgrammingRun::FinalLockCheck(bool anyPageRejected, int pageReplies)
{
    const auto locks = AwaitLockBytes(pageReplies);
    if (!locks) {
        p_.window.ReplaceStatus(msg::LockTimedOut());
    } else if (!anyPageRejected && fr::LocksExpected((*locks)[0], (*locks)[1], (*locks)[2])) {
        outcome_.verdict = Verdict::Programmed;
        p_.window.ReplaceStatus(msg::LocksGood(*locks));
    } else {
        p_.window.ReplaceStatus(msg::LocksBad(*locks));
    }
}

void ProgrammingRun::ReadBackAfterRejection(int pageReplies)
{
    if (const auto locks = AwaitLockBytes(pageReplies))
        p_.window.ReplaceStatus(msg::LocksAfterRejection(*locks));
}

void ProgrammingRun::HandleError(err::Number number)
{
    // Two serial-port errors are worth words on the panel; every other error,
    // a closed window included, ends the run without a trace.
    switch (number) {
    case err::CommInvalidPort:
        ReportAfterSetting(p_.StatusBar1, msg::PortInvalid);
        break;
    case err::CommPortOpen:
        ReportAfterSetting(p_.StatusBar1, msg::PortInUse);
        break;
    default:
        break;
    }
}

}  // namespace modburn::run
