#pragma once

// The files the console works with: the image under another name than the
// run's fixed one, and the checks made before anything is sent.

#include "platform/file.h"

#include <QString>

#include <optional>

namespace modburn::cli {

// The working folder as the run sees it, except that the run's image name
// opens `imagePath` instead.
class ImageFileSystem : public IFileSystem {
public:
    ImageFileSystem(IFileSystem& inner, QString imagePath) : inner_(inner), imagePath_(std::move(imagePath)) {}

    QString CurrentDir() const override { return inner_.CurrentDir(); }
    QChar Separator() const override { return inner_.Separator(); }
    std::unique_ptr<IFile> OpenForRead(const QString& path) override;

private:
    IFileSystem& inner_;
    QString imagePath_;
};

// Why `path` cannot be read as a file of at most `maxBytes` bytes (any size,
// and nothing read, when negative), or nothing when it can: missing, a
// folder, not a regular file, unreadable, too large. `content`, when given,
// receives what was read.
std::optional<QString> CheckReadableFile(const QString& path, qint64 maxBytes, QByteArray* content = nullptr);

inline constexpr qint64 MaxImageBytes = 8192;

}  // namespace modburn::cli
