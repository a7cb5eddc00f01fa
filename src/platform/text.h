#pragma once

// How the address and port boxes are read: blanks trimmed, and a port taken
// only as whole decimal digits, so it is never wrapped or rounded.

#include <QString>

namespace modburn {

// Leading and trailing blanks removed; other white space is kept.
QString TrimBlanks(const QString& text);

// The port text as a TCP port. Raises RuntimeError(err::TypeMismatch) for text
// that is not a whole decimal number and RuntimeError(err::InvalidPropertyValue)
// for a number outside 1..65535.
int ParsePort(const QString& text);

}  // namespace modburn
