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
    // The reply's value is not looked at.
    return SendUntilAnswered(build, fr::ShortReply, how);
}

ProgrammingRun::End ProgrammingRun::SendUntilAnswered(const FrameBuilder& build, fr::ReplyRule reply, Resend how)
{
    Link& link = p_.link;
    for (Send send = Send::First;; send = Send::Again) {
        if (how.atTop != OnExit::Ignore) {
            link.DoEvents();
            if (!link.RunEnabled())
                return Stop(how.atTop);
        }
        if (link.Exchange(build, reply, how.clearSerial ? &p_.MSComm1 : nullptr, send) == Reply::Answered)
            return End::Finished;
        if (how.afterTimeOut != OnExit::Ignore && !link.RunEnabled())
            return Stop(how.afterTimeOut);
        if (how.timeOutMessage)
            p_.window.ReplaceStatus(*how.timeOutMessage);
    }
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
        const fr::ReplyRule reply = page == LastPage ? fr::LastPageReply : fr::PageReply;
        if (SendUntilAnswered(build, reply, {true, OnExit::Ignore, OnExit::End, &msg::CommError}) == End::Stopped)
            return End::Stopped;

        // A refusal of any send of the page counts, not only the first reply's.
        const auto answers = link.Answers();
        const bool accepted = std::all_of(answers.begin(), answers.end(), [](const fr::Answer& answer) {
            return answer.Reply().empty() || fr::PageAccepted(answer.Reply()[0]);
        });
        if (accepted) {
            p_.window.ReplaceStatus(msg::PageAccepted(page));
            if (page == LastPage)
                FinalLockCheck(anyPageRejected);
        } else {
            anyPageRejected = true;
            p_.window.ReplaceStatus(msg::PageRejected(page));
            ReadBackAfterRejection();
        }

        IProgressBar& bar = p_.PriProgressBar;
        bar.SetValue((bar.Max() - bar.Min()) * static_cast<float>(page) / static_cast<float>(fr::ModulePages));
    }
    return End::Finished;
}

std::optional<std::array<std::uint8_t, 3>> ProgrammingRun::AwaitLockBytes()
{
    // The lock bytes follow the page's replies, in the same delivery or later.
    // Each reply that they follow brings its own; one that differs from the
    // expected bytes is the one shown, or else the first.
    p_.link.AwaitLocks();
    std::optional<std::array<std::uint8_t, 3>> shown;
    for (const fr::Answer& answer : p_.link.Answers()) {
        if (!answer.HasLocks())
            continue;
        if (!shown)
            shown = answer.locks;
        if (!fr::LocksExpected(answer.locks[0], answer.locks[1], answer.locks[2])) {
            shown = answer.locks;
            break;
        }
    }
    if (shown)
        outcome_.locks = shown;
    return shown;
}

void ProgrammingRun::FinalLockCheck(bool anyPageRejected)
{
    const auto locks = AwaitLockBytes();
    if (!locks) {
        p_.window.ReplaceStatus(msg::LockTimedOut());
    } else if (!anyPageRejected && fr::LocksExpected((*locks)[0], (*locks)[1], (*locks)[2])) {
        outcome_.verdict = Verdict::Programmed;
        p_.window.ReplaceStatus(msg::LocksGood(*locks));
    } else {
        p_.window.ReplaceStatus(msg::LocksBad(*locks));
    }
}

void ProgrammingRun::ReadBackAfterRejection()
{
    if (const auto locks = AwaitLockBytes())
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
