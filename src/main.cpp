#include "ui/FormMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The log is named after the name the program was started by, exactly as given.
    const QByteArray invocationName = argc > 0 ? QByteArray(argv[0]) : QByteArray();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavimo"));
    // Lets a desktop match the window to its menu entry (the installed desktop file's name).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tavimo.Tavimo"));

    TForm1 Form1(invocationName);
    Form1.show();
    return application.exec();
}
