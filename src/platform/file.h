#pragma once

// Raw byte-by-byte file reading in the working directory.

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace modburn {

// A file opened for reading raw bytes, front to back.
class IFile {
public:
    virtual ~IFile() = default;

    // The next byte, or nothing at the end of the file.
    virtual std::optional<std::uint8_t> ReadByte() = 0;
    virtual bool Eof() const = 0;
    // Closing twice is harmless; destruction closes too.
    virtual void Close() = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    virtual QString CurrentDir() const = 0;
    virtual QChar Separator() const = 0;
    // Throws RuntimeError(err::FileNotFound or err::FileAccess) when the file
    // cannot be opened.
    virtual std::unique_ptr<IFile> OpenForRead(const QString& path) = 0;

    // The working directory, the separator, then the name; the separator is
    // put in even when the directory already ends with one.
    QString InCurrentDir(const QString& name) const { return CurrentDir() + Separator() + name; }
};

}  // namespace modburn
