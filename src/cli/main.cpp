// modburn-cli: programs print-driver modules and font libraries from scripts.

#include "cli/app.h"

#include <QByteArray>
#include <QtGlobal>

int main(int argc, char* argv[])
{
    // Every device runs an event loop on a thread of its own; Qt's own event
    // dispatcher costs those loops far less CPU than GLib's. Set before any
    // thread exists, and only when the user has not chosen.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
    return modburn::cli::Main(argc, argv);
}
