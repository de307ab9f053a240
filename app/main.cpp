// Hi Varnisse: one window, no command line, no files, no settings.
#include "window/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Hi Varnisse"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QGuiApplication::setDesktopFileName(QStringLiteral("hivarnisse"));

    frmMain window;
    window.show();
    return app.exec();
}
