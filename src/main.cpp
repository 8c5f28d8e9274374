#include "ui/FormMain.h"
#include "ui/Startup.h"

#include <QApplication>
#include <QImageReader>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
// Qt reads them once: the first four while the application object is built, the last at the
// first question for the allocation limit, asked at once. Then each is put back as the user had
// it, so that the processes the program starts (a D-Bus launcher, say) get the user's
// environment, not the program's.
class TSettledEnvironment
{
public:
    TSettledEnvironment()
    {
        settle("QT_QPA_PLATFORM", "xcb");
        settle("QT_ENABLE_HIGHDPI_SCALING", "0");
        for (const char *name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                                 "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_IMAGEIO_MAXALLOC"})
            settle(name, nullptr);
    }

    // Once the application object is built.
    void restore()
    {
        QImageReader::allocationLimit(); // Qt reads QT_IMAGEIO_MAXALLOC here, and only here
        for (const auto &[name, value] : FSaved) {
            if (value)
                ::setenv(name, value->c_str(), 1);
            else
                ::unsetenv(name);
        }
        FSaved.clear();
    }

private:
    // value null removes the variable.
    void settle(const char *name, const char *value)
    {
        const char *had = std::getenv(name);
        FSaved.emplace_back(name, had ? std::optional<std::string>(had) : std::nullopt);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }

    std::vector<std::pair<const char *, std::optional<std::string>>> FSaved;
};

// Why the program does not start, in one line on standard error.
int refuse(const QString &why)
{
    std::fprintf(stderr, "tavimo: %s\n", qUtf8Printable(why));
    return EXIT_FAILURE;
}

} // namespace

int main(int argc, char *argv[])
{
    // The log is named after the name the program was started by, exactly as given.
    const QByteArray invocationName = argc > 0 ? QByteArray(argv[0]) : QByteArray();

    TSettledEnvironment environment;
    // Before anything is drawn or the log is emptied, and before Qt, which aborts without a
    // display. The platform is xcb, so the display is X's.
    if (const QString why = startup::displayRefusal(qgetenv("DISPLAY")); !why.isEmpty())
        return refuse(why);
    // Qt takes its own options (-qwindowgeometry, -reverse, -stylesheet, ...) from the command
    // line, so it gets argument 0 alone; it needs one even when the process was given none.
    char fallbackName[] = "tavimo";
    char *toolkitArguments[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
    int toolkitArgumentCount = 1;
    QApplication application(toolkitArgumentCount, toolkitArguments);
    environment.restore();
    QApplication::setApplicationName(QStringLiteral("Tavimo"));
    // Lets a desktop match the window to its menu entry (the installed desktop file's name).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tavimo.Tavimo"));

    // Before the window exists, so nothing is drawn and the log is not emptied.
    if (const QString why = startup::screenDepthRefusal(QGuiApplication::primaryScreen()->depth());
        !why.isEmpty())
        return refuse(why);

    // The dialogs in the window's language, for as long as the application runs.
    const std::unique_ptr<QTranslator> qtTexts = startup::installQtTexts();
    TForm1 Form1(invocationName);
    Form1.show();
    return application.exec();
}
