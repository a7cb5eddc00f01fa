#pragma once

// Raw file reading on Qt.

#include "platform/file.h"

namespace modburn {

class QtFileSystem : public IFileSystem {
public:
    QString CurrentDir() const override;
    QChar Separator() const override;
    std::unique_ptr<IFile> OpenForRead(const QString& path) override;
};

}  // namespace modburn
