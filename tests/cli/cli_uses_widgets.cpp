// Must not build: the command-line tool has no widgets to include.

#include "cli/app.h"

#include <QWidget>
