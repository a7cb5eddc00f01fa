#pragma once

// The checks made on the console's files before anything is sent.

#include <QString>

#include <optional>

namespace modburn::cli {

// Why `path` cannot be read as a file of at most `maxBytes` bytes (any size,
// and nothing read, when negative), or nothing when it can: missing, a
// folder, not a regular file, unreadable, too large. `content`, when given,
// receives what was read.
std::optional<QString> CheckReadableFile(const QString& path, qint64 maxBytes, QByteArray* content = nullptr);

// The same for standard input, read to its end into `content`; a terminal is
// refused, as nobody types an image.
std::optional<QString> ReadStandardInput(qint64 maxBytes, QByteArray* content);

}  // namespace modburn::cli
