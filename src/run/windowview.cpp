// The designed texts of a run and the window's way of showing its events.

#include "run/windowview.h"

#include "frame/frame.h"

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
    return QStringLiteral("        烧录成功!") + CrLf + Blanks(10) + Signed(PercentAfter(page)) + u'%';
}

QString PageRejected(int page)
{
    return Blanks(2) + CrLf + Blanks(2) + CrLf + QStringLiteral("        烧录出错!") + CrLf + Blanks(8) + Signed(page);
}

QString LockTimedOut()
{
    return QStringLiteral("        烧录出错!") + CrLf + Blanks(8) + Signed(LastPage);
}

QString LocksGood(const Locks& locks)
{
    return QStringLiteral("       模块编程完毕!") + CrLf + QStringLiteral("  Lock1:") + Lock(locks[0]) +
           QStringLiteral("  Lock2:") + Lock(locks[1]) + QStringLiteral("  Lock3:") + Lock(locks[2]);
}

QString LocksBad(const Locks& locks)
{
    return QStringLiteral("       模块编程出错!") + CrLf + Blanks(8) + QStringLiteral("Lock1:") + Lock(locks[0]) +
           CrLf + Blanks(8) + QStringLiteral("Lock2:") + Lock(locks[1]) + CrLf + Blanks(8) + QStringLiteral("Lock3:") +
           Lock(locks[2]);
}

QString LocksAfterRejection(const Locks& locks)
{
    return QStringLiteral("       模块编程出错!") + CrLf + QStringLiteral(" Lock1:") + Lock(locks[0]) + CrLf +
           QStringLiteral("  Lock2:") + Lock(locks[1]) + CrLf + QStringLiteral(" Lock3:") + Lock(locks[2]);
}

}  // namespace msg

std::optional<QString> StatusTextAfter(const RunEvent& event, const QString& before)
{
    switch (event.step) {
    case Step::Started:
        return QStringLiteral(" ");
    case Step::BurnEnabled:
        return before + QStringLiteral("  \r\n") + msg::BurnEnabled;
    case Step::Searching:
        return msg::Searching;
    case Step::Found:
        return msg::Found;
    case Step::EraseEnabled:
        return before + QStringLiteral("  \r\n") + msg::EraseEnabled;
    case Step::Erased:
        return msg::Erased;
    case Step::PageSentAgain:
        return msg::CommError;
    case Step::PageAccepted:
        return msg::PageAccepted(event.page);
    case Step::PageRefused:
        return msg::PageRejected(event.page);
    case Step::LocksGood:
        return msg::LocksGood(*event.locks);
    case Step::LocksBad:
        return msg::LocksBad(*event.locks);
    case Step::LocksMissing:
        return msg::LockTimedOut();
    case Step::LocksAfterRefusal:
        return msg::LocksAfterRejection(*event.locks);
    case Step::PageDone:
    case Step::LinkClosed:
    case Step::CloseAsked:
        break;
    }
    return std::nullopt;
}

std::optional<QString> PanelWords(err::Number error)
{
    // Two serial-port errors are worth words on the panel; every other error,
    // a closed window included, ends the run without a trace.
    switch (error) {
    case err::CommInvalidPort:
        return msg::PortInvalid;
    case err::CommPortOpen:
        return msg::PortInUse;
    default:
        return std::nullopt;
    }
}

void WindowView::OnStep(const RunEvent& event)
{
    switch (event.step) {
    case Step::Started:
        window_.SetRunButtonEnabled(false);
        window_.SetStatusText(*StatusTextAfter(event, window_.StatusText()));
        window_.SetPrintDevCheck(1);
        return;
    case Step::PageDone: {
        IProgressBar& bar = PriProgressBar_;
        bar.SetValue((bar.Max() - bar.Min()) * static_cast<float>(event.page) / static_cast<float>(fr::ModulePages));
        return;
    }
    case Step::CloseAsked:
        window_.Unload();
        return;
    default:
        if (const auto text = StatusTextAfter(event, window_.StatusText()))
            window_.SetStatusText(*text);
        return;
    }
}

void WindowView::OnEnd(const Outcome& outcome)
{
    if (const auto words = PanelWords(outcome.error))
        ReportAfterSetting(StatusBar1_, *words);
    // A closed window is left alone.
    if (!control_.Stopped())
        window_.SetRunButtonEnabled(true);
}

}  // namespace modburn::run
