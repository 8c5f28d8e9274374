// A second process for the fault tests, running the real main window offscreen:
//   fault_helper open PROGRAM PICTURE [SPARE-MiB]
//       starts the window as PROGRAM (its log goes next to it), opens PICTURE and prints
//       "opened W x H" or "refused: MESSAGE" on standard output. With SPARE-MiB, the open runs
//       with that much address space (RLIMIT_AS) left beyond what the process already holds.
//   fault_helper log-and-kill PROGRAM COUNT
//       starts the window as PROGRAM, opens a made 50 x 40 picture, then COUNT times moves the
//       point one pixel right with the arrow key and runs the Log command; then it kills itself
//       with SIGKILL, so that nothing of the normal shutdown runs.
#include "FormFixture.h"

#include "core/Errors.h"
#include "core/PointWithRange.h"
#include "ui/FormMain.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

namespace {

int usage()
{
    std::fputs(
        "usage: fault_helper open PROGRAM PICTURE [SPARE-MiB] | log-and-kill PROGRAM COUNT\n",
        stderr);
    return 2;
}

void report(const QString &message)
{
    std::printf("report: %s\n", message.toUtf8().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 4 && (args.size() != 5 || args[1] != QLatin1String("open")))
        return usage();
    const QString &mode = args[1];
    TForm1 form(QFile::encodeName(args[2]), report);

    if (mode == QLatin1String("open")) {
        const formfixture::AddressSpaceLimit limit(args.size() == 5 ? args[4].toLongLong() << 20
                                                                    : 0);
        if (args.size() == 5 && !limit.ok())
            return usage();
        try {
            form.OpenPicture(args[3]);
            std::printf("opened %d x %d\n", form.image()->width(), form.image()->height());
        } catch (const ETavimoError &e) {
            std::printf("refused: %s\n", e.message().toUtf8().constData());
        }
        return 0;
    }

    if (mode == QLatin1String("log-and-kill")) {
        QTemporaryDir scratch;
        const QString picture = scratch.filePath(QStringLiteral("p.png"));
        QImage blank(50, 40, QImage::Format_RGB32);
        blank.fill(Qt::white);
        blank.save(picture);
        form.OpenPicture(picture);
        const int count = args[3].toInt();
        for (int i = 0; i < count; ++i) {
            QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
            QApplication::sendEvent(form.clientArea(), &right);
            form.action("MnuLog")->trigger();
        }
        std::fflush(stdout);
        std::raise(SIGKILL);
        return 3; // not reached
    }
    return usage();
}
