#include "ui/FormMain.h"

#include <QApplication>

#include <cstdlib>

namespace {

// What Qt reads from the environment while the application object is built, settled so that
// every desktop gets the same program: one that reads no configuring variable, draws in screen
// pixels and talks X11.
// - QT_QPA_PLATFORM is set to xcb: the program is an X11 client. In a Wayland session it runs
//   through XWayland, where its window keeps its position (Wayland gives clients none).
// - QT_ENABLE_HIGHDPI_SCALING is set to 0, and QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS and
//   QT_SCALE_FACTOR_ROUNDING_POLICY are removed: one device pixel per client pixel on every
//   screen, whatever the desktop's scale (Xft.dpi), so a magnified cell is 16 screen pixels
//   and a click selects the pixel under the pointer.
// - QT_IMAGEIO_MAXALLOC is removed: it would replace the loader's own allocation limit and
//   change which pictures open.
void settleQtEnvironment()
{
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    for (const char *name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                             "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_IMAGEIO_MAXALLOC"})
        ::unsetenv(name);
}

} // namespace

int main(int argc, char *argv[])
{
    // The log is named after the name the program was started by, exactly as given.
    const QByteArray invocationName = argc > 0 ? QByteArray(argv[0]) : QByteArray();

    settleQtEnvironment();
    // Qt takes its own options (-qwindowgeometry, -reverse, -stylesheet, ...) from the command
    // line, so it gets argument 0 alone; it needs one even when the process was given none.
    char fallbackName[] = "tavimo";
    char *toolkitArguments[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
    int toolkitArgumentCount = 1;
    QApplication application(toolkitArgumentCount, toolkitArguments);
    QApplication::setApplicationName(QStringLiteral("Tavimo"));
    // Lets a desktop match the window to its menu entry (the installed desktop file's name).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tavimo.Tavimo"));

    TForm1 Form1(invocationName);
    Form1.show();
    return application.exec();
}
