// The run's phases and what it reports of them.

#include "run/run.h"

#include "frame/frame.h"
#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/file.h"
#include "platform/serialport.h"

#include <algorithm>
#include <span>

namespace modburn::run {

namespace fr = modburn::frame;

namespace {
constexpr int LastPage = fr::ModulePages - 1;
}  // namespace

const Locks ExpectedLocks = fr::ExpectedLocks;

int PercentAfter(int page)
{
    return page * 100 / fr::ModulePages;
}

Outcome ProgrammingRun::Run(const Target& target, IRunObserver& observer)
{
    // A click while this run or a font operation holds the link is ignored.
    const LinkHold hold(p_.control);
    if (!hold.Held())
        return {};
    // A stopped owner starts nothing more on its link.
    if (p_.control.Stopped()) {
        Outcome stopped;
        stopped.ending = Ending::StoppedByOwner;
        return stopped;
    }
    observer_ = &observer;
    outcome_ = {};
    stage_ = Stage::Image;
    finalLocksGood_ = false;
    p_.link.SetClosedHandler([this] { Emit(Step::LinkClosed); });
    try {
        outcome_.ending = Body(target);
    } catch (const RuntimeError& error) {
        outcome_.error = error.Number();
        outcome_.ending = EndingFor(error.Number());
    }
    if (outcome_.ending == Ending::Unreachable)
        outcome_.connectFailure = p_.link.TcpWinsock().Failure();
    p_.link.SetClosedHandler(nullptr);
    outcome_.bytesSent = p_.link.BytesSent();
    if (outcome_.locks) {
        for (std::size_t i = 0; i < ExpectedLocks.size(); ++i) {
            if ((*outcome_.locks)[i] != ExpectedLocks[i])
                outcome_.wrongLocks.push_back(static_cast<int>(i) + 1);
        }
    }
    observer_ = nullptr;
    observer.OnEnd(outcome_);
    return outcome_;
}

Ending ProgrammingRun::EndingFor(err::Number error) const
{
    if (error == err::WindowClosed)
        return Ending::StoppedByOwner;
    if (stage_ == Stage::Image) {
        switch (error) {
        case err::FileNotFound:
            return Ending::ImageMissing;
        case err::SubscriptOutOfRange:
            return Ending::ImageTooLarge;
        default:
            return Ending::ImageUnreadable;
        }
    }
    if (stage_ == Stage::Opening && (error == err::TypeMismatch || error == err::InvalidPropertyValue))
        return Ending::BadPort;
    if (error == err::SocketBadState)
        return p_.link.EverConnected() ? Ending::LinkDropped : Ending::Unreachable;
    return Ending::Error;
}

std::optional<int> RunEvent::Percent() const
{
    switch (step) {
    case Step::PageSentAgain:
    case Step::PageAccepted:
    case Step::PageRefused:
    case Step::PageDone:
    case Step::LocksMissing:
        return PercentAfter(page);
    default:
        return std::nullopt;
    }
}

void ProgrammingRun::Emit(Step step, int page, std::optional<Locks> locks)
{
    observer_->OnStep(RunEvent{step, page, locks});
}

Ending ProgrammingRun::Body(const Target& target)
{
    Emit(Step::Started);

    ImageBuffer image{};
    LoadImage(target.imagePath, image);

    stage_ = Stage::Opening;
    p_.link.Open(target.address, target.port);
    stage_ = Stage::Talking;

    // Burn-enable: resend every 500 ms until any byte answers.
    if (SendUntilAnswered(fr::CmdBurnEnable, {true, OnExit::End, OnExit::End}) == End::Stopped)
        return Ending::StoppedByExit;
    Emit(Step::BurnEnabled);

    // Device search: the wait is its only yield, and Exit is not tested here.
    Emit(Step::Searching);
    SendUntilAnswered(fr::CmdSearch, {false, OnExit::Ignore, OnExit::Ignore});
    Emit(Step::Found);

    if (SendUntilAnswered(fr::CmdBurnEnable, {true, OnExit::Unload, OnExit::Ignore}) == End::Stopped)
        return Ending::StoppedByExit;
    Emit(Step::EraseEnabled);

    if (SendUntilAnswered(fr::CmdErase, {true, OnExit::Unload, OnExit::Ignore}) == End::Stopped)
        return Ending::StoppedByExit;
    Emit(Step::Erased);

    if (ProgramPages(image) == End::Stopped)
        return Ending::StoppedByExit;

    p_.MSComm1.SetPortOpen(false);
    // Anything short of the final check's approval leaves the module failed.
    if (!outcome_.refusedPages.empty())
        return Ending::PagesRefused;
    if (outcome_.locksMissing)
        return Ending::LocksMissing;
    return finalLocksGood_ ? Ending::Programmed : Ending::LocksWrong;
}

void ProgrammingRun::LoadImage(const QString& path, ImageBuffer& image)
{
    // The file closes on every way out when `file` goes.
    const std::unique_ptr<IFile> file = p_.files.OpenForRead(path);
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

struct ProgrammingRun::Frames {
    // Sends the frame until it is answered; the link then holds the replies
    // to all of its sends.
    static End SendUntilAnswered(ProgrammingRun& run, const FrameBuilder& build, fr::ReplyRule reply, Resend how)
    {
        Link& link = run.p_.link;
        for (Send send = Send::First;; send = Send::Again) {
            if (how.atTop != OnExit::Ignore) {
                link.DoEvents();
                if (!run.p_.control.RunEnabled())
                    return run.Stop(how.atTop);
            }
            if (link.Exchange(build, reply, how.clearSerial ? &run.p_.MSComm1 : nullptr, send) == Reply::Answered)
                return End::Finished;
            if (how.afterTimeOut != OnExit::Ignore && !run.p_.control.RunEnabled())
                return run.Stop(how.afterTimeOut);
            if (how.reportPage >= 0)
                run.Emit(Step::PageSentAgain, how.reportPage);
        }
    }
};

ProgrammingRun::End ProgrammingRun::SendUntilAnswered(char command, Resend how)
{
    const auto build = [command](fr::SendBuffer& SendBuf, std::uint8_t&) {
        return fr::BuildShortFrame(SendBuf, command);
    };
    // The reply's value is not looked at.
    return Frames::SendUntilAnswered(*this, build, fr::ShortReply, how);
}

ProgrammingRun::End ProgrammingRun::Stop(OnExit how)
{
    if (how == OnExit::Unload)
        Emit(Step::CloseAsked);
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
        if (Frames::SendUntilAnswered(*this, build, reply, {true, OnExit::Ignore, OnExit::End, page}) == End::Stopped)
            return End::Stopped;

        // A refusal of any send of the page counts, not only the first reply's.
        const auto answers = link.Answers();
        const bool accepted = std::all_of(answers.begin(), answers.end(), [](const fr::Answer& answer) {
            return answer.Reply().empty() || fr::PageAccepted(answer.Reply()[0]);
        });
        if (accepted) {
            Emit(Step::PageAccepted, page);
            if (page == LastPage)
                FinalLockCheck(anyPageRejected);
        } else {
            anyPageRejected = true;
            outcome_.refusedPages.push_back(page);
            Emit(Step::PageRefused, page);
            ReadBackAfterRejection(page);
        }
        Emit(Step::PageDone, page);
    }
    return End::Finished;
}

std::optional<Locks> ProgrammingRun::AwaitLockBytes()
{
    // The lock bytes follow the page's replies, in the same delivery or later.
    // Each reply that they follow brings its own; one that differs from the
    // expected bytes is the one shown, or else the first.
    p_.link.AwaitLocks();
    std::optional<Locks> shown;
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
        outcome_.locksMissing = true;
        Emit(Step::LocksMissing, LastPage);
    } else if (!anyPageRejected && fr::LocksExpected((*locks)[0], (*locks)[1], (*locks)[2])) {
        finalLocksGood_ = true;
        Emit(Step::LocksGood, LastPage, locks);
    } else {
        Emit(Step::LocksBad, LastPage, locks);
    }
}

void ProgrammingRun::ReadBackAfterRejection(int page)
{
    if (const auto locks = AwaitLockBytes())
        Emit(Step::LocksAfterRefusal, page, locks);
}

}  // namespace modburn::run
