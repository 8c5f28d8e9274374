#include "ui/FormMain.h"

#include <QApplication>
#include <QImageReader>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
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

// The least screen depth, in bits a pixel, Qt can draw on: on an 8-bit (palette) screen its
// painter gets no paint engine, every window stays black and the file dialog crashes.
constexpr int MinScreenDepth = 15;

} // namespace

int main(int argc, char *argv[])
{
    // The log is named after the name the program was started by, exactly as given.
    const QByteArray invocationName = argc > 0 ? QByteArray(argv[0]) : QByteArray();

    TSettledEnvironment environment;
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
    const int depth = QGuiApplication::primaryScreen()->depth();
    if (depth < MinScreenDepth) {
        std::fprintf(stderr,
                     "tavimo: 色深度 %d ビットの画面には描画できません (%d ビット以上が必要です)\n",
                     depth, MinScreenDepth);
        return EXIT_FAILURE;
    }

    TForm1 Form1(invocationName);
    Form1.show();
    return application.exec();
}
