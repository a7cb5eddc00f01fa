// Files on QFile, read one byte at a time through a small buffer.

#include "platform/qt/qtfile.h"

#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace modburn {

namespace {

class QtFile : public IFile {
public:
    explicit QtFile(const QString& path) : file_(path) {}

    bool Open() { return OpenRegularFile(file_); }

    std::optional<std::uint8_t> ReadByte() override
    {
        char c = 0;
        if (!file_.isOpen() || !file_.getChar(&c))
            return std::nullopt;
        return static_cast<std::uint8_t>(c);
    }
    bool Eof() const override { return !file_.isOpen() || file_.atEnd(); }
    void Close() override { file_.close(); }

private:
    QFile file_;  // buffered, so byte-wise reads are cheap
};

}  // namespace

bool OpenRegularFile(QFile& file)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(file.fileName());
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0 ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    return QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly);
#endif
}

QString QtFileSystem::CurrentDir() const
{
    return QDir::toNativeSeparators(QDir::currentPath());
}

QChar QtFileSystem::Separator() const
{
    return QDir::separator();
}

std::unique_ptr<IFile> QtFileSystem::OpenForRead(const QString& path)
{
    auto file = std::make_unique<QtFile>(path);
    if (!file->Open()) {
        if (!QFileInfo::exists(path))
            throw RuntimeError(err::FileNotFound, "File not found");
        throw RuntimeError(err::FileAccess, "Path/File access error");
    }
    return file;
}

}  // namespace modburn
