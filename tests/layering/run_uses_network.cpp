// Must not compile: the logic needs QtCore only, never a socket class of Qt's.
#include "run/run.h"
#include <QTcpSocket>
