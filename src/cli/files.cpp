// The up-front file checks.

#include "cli/files.h"

#include "platform/qt/qtfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace modburn::cli {

std::optional<QString> CheckReadableFile(const QString& path, qint64 maxBytes, QByteArray* content)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(path);
    if (info.isDir())
        return QStringLiteral("%1: is a folder, not a file").arg(path);
    // A FIFO, device or socket could block the read for good, even one put
    // there after the look above: the open checks what it opened.
    QFile file(path);
    if (!OpenRegularFile(file)) {
        // Taken first: a regular file that failed to open failed at the open itself.
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        return QFileInfo(path).isFile() ? QStringLiteral("%1: cannot be read (%2)").arg(path, reason)
                                        : QStringLiteral("%1: is not a regular file").arg(path);
    }
    if (maxBytes < 0)
        return std::nullopt;
    // Read rather than trust the size, which may change meanwhile.
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
    if (bytes.size() > maxBytes)
        return QStringLiteral("%1: larger than %2 bytes").arg(path).arg(maxBytes);
    if (content)
        *content = bytes;
    return std::nullopt;
}

std::optional<QString> ReadStandardInput(qint64 maxBytes, QByteArray* content)
{
    if (::isatty(STDIN_FILENO))
        return QStringLiteral("standard input is a terminal (pipe the image in, or name its file)");
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return QStringLiteral("standard input: cannot be read (%1)")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
        bytes.append(chunk, got);
        if (bytes.size() > maxBytes)
            return QStringLiteral("standard input: larger than %1 bytes").arg(maxBytes);
    }
    *content = bytes;
    return std::nullopt;
}

}  // namespace modburn::cli
