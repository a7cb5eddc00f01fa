#include "ui/form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("modburn"));
    QApplication::setApplicationVersion(QStringLiteral(MODBURN_VERSION));
    // Ties the window to modburn.desktop for its icon and name in the desktop shell.
    QGuiApplication::setDesktopFileName(QStringLiteral("modburn"));
    modburn::Form1 window;
    window.show();
    return QApplication::exec();
}
