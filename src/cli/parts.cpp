// The console stand-ins for the window's bars, and the words for errors.

#include "cli/parts.h"

#include <cmath>

namespace modburn::cli {

QString PanelBar::PanelText(int panel) const
{
    if (panel != FirstPanel)
        throw RuntimeError(err::SubscriptOutOfRange, "Index out of bounds");
    return text_;
}

void PanelBar::SetPanelText(int panel, const QString& text)
{
    if (panel != FirstPanel)
        throw RuntimeError(err::SubscriptOutOfRange, "Index out of bounds");
    if (text == text_)
        return;
    text_ = text;
    if (onChange_)
        onChange_(text_);
}

// The range rules of the window's bar, so a value it would refuse is refused here too.
void ReportingBar::SetMin(float value)
{
    if (value >= max_)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    min_ = value;
}

void ReportingBar::SetMax(float value)
{
    if (value <= min_)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    max_ = value;
}

void ReportingBar::SetValue(float value)
{
    if (!std::isfinite(value) || value < min_ || value > max_)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    value_ = value;
    if (onValue_)
        onValue_(value_);
}

QString DescribeError(err::Number number, std::int64_t bytesSent, const Target& target)
{
    const QString code = QStringLiteral(" (error %1)").arg(static_cast<int>(number));
    switch (number) {
    case err::SocketBadState:
        if (bytesSent == 0)
            return QStringLiteral(
                       "unreachable: not connected to %1 port %2 after the connect wait (error %3 at the first send)")
                .arg(target.address)
                .arg(target.port)
                .arg(static_cast<int>(number));
        return QStringLiteral("link dropped after %1 bytes sent").arg(bytesSent) + code;
    case err::SocketInvalidOperation:
        return QStringLiteral("socket refused the operation") + code;
    case err::FileNotFound:
        return QStringLiteral("file not found") + code;
    case err::FileAccess:
        return QStringLiteral("file cannot be read") + code;
    case err::SubscriptOutOfRange:
        return (bytesSent == 0 ? QStringLiteral("image file larger than 8192 bytes")
                               : QStringLiteral("subscript out of range")) +
               code;
    case err::TypeMismatch:
    case err::InvalidPropertyValue:
        return QStringLiteral("invalid value (port or setting)") + code;
    case err::Overflow:
        return QStringLiteral("value out of range") + code;
    case err::CommInvalidPort:
        return QStringLiteral("serial port: invalid port number") + code;
    case err::CommPortOpen:
        return QStringLiteral("serial port: already open") + code;
    case err::WindowClosed:
        return QStringLiteral("stopped");
    case err::LinkBusy:
        return QStringLiteral("link busy with another operation") + code;
    case err::None:
        return {};
    default:
        // Numbers added later still get reported.
        return QStringLiteral("run-time error") + code;
    }
}

}  // namespace modburn::cli
