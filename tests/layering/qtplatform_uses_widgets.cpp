// Must not compile: the window-free platform serves programs without a window.
#include "platform/qt/qtsocket.h"
#include <QWidget>
