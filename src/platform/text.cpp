// Blanks and port digits.

#include "platform/text.h"

#include "platform/errors.h"

namespace modburn {

namespace {
constexpr int HighestPort = 65535;
}  // namespace

QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.mid(first, last - first);
}

int ParsePort(const QString& text)
{
    const std::string shown = text.toStdString();
    if (text.isEmpty())
        throw RuntimeError(err::TypeMismatch, "Type mismatch: empty port");
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            throw RuntimeError(err::TypeMismatch, "Type mismatch: port " + shown);
    }
    qsizetype first = 0;
    while (first < text.size() - 1 && text[first] == u'0')
        ++first;
    const QStringView digits = QStringView(text).mid(first);
    const int port = digits.size() > 5 ? HighestPort + 1 : digits.toInt();
    if (port < 1 || port > HighestPort)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value: port " + shown);
    return port;
}

}  // namespace modburn
