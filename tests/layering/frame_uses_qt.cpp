// Must not compile: frame building is pure code and sees no Qt.
#include "frame/frame.h"
#include <QString>
