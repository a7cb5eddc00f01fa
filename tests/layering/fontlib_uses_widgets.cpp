// Must not compile: the font operations never see a widget.
#include "fontlib/fontlib.h"
#include <QWidget>
