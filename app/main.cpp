// Hi Varnisse: one window, no command line, no files, no settings.
#include "window/frmMain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Hi Varnisse"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.hivarnisse.hivarnisse"));

    QIcon icon;
    for (int size : {16, 32, 48, 256}) {
        icon.addFile(QStringLiteral(":/icons/hivarnisse-%1.png").arg(size), QSize(size, size));
    }
    QApplication::setWindowIcon(icon);

    frmMain window;
    window.show();
    return app.exec();
}
