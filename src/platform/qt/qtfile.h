#pragma once

// Raw file reading on Qt.

#include "platform/file.h"

class QFile;

namespace modburn {

// Opens `file` read-only only if its name is a regular file. The opened
// descriptor is what is checked, so a FIFO without a writer or a device put
// there meanwhile can never block the caller's thread.
bool OpenRegularFile(QFile& file);

class QtFileSystem : public IFileSystem {
public:
    QString CurrentDir() const override;
    QChar Separator() const override;
    std::unique_ptr<IFile> OpenForRead(const QString& path) override;
};

}  // namespace modburn
