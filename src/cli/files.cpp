// The image name mapping and the up-front file checks.

#include "cli/files.h"

#include "run/run.h"

#include <QFile>
#include <QFileInfo>

namespace modburn::cli {

std::unique_ptr<IFile> ImageFileSystem::OpenForRead(const QString& path)
{
    // The run opens its image by the fixed name in the working folder.
    if (QFileInfo(path).fileName() == run::ImageFileName)
        return inner_.OpenForRead(imagePath_);
    return inner_.OpenForRead(path);
}

std::optional<QString> CheckReadableFile(const QString& path, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(path);
    if (info.isDir())
        return QStringLiteral("%1: is a folder, not a file").arg(path);
    // A FIFO, device or socket could block the read below for good.
    if (!info.isFile())
        return QStringLiteral("%1: is not a regular file").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
    if (maxBytes < 0)
        return std::nullopt;
    // Read rather than trust the size, which special files do not report.
    qint64 total = 0;
    char buffer[4096];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            return QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
        if (n == 0)
            break;
        total += n;
        if (total > maxBytes)
            return QStringLiteral("%1: larger than %2 bytes").arg(path).arg(maxBytes);
    }
    return std::nullopt;
}

}  // namespace modburn::cli
