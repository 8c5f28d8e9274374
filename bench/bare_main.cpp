// The bare Qt program the start-up time is compared with: a main window with a menu bar and one
// widget that paints itself, the same client size as Tavimo's first window, and nothing else.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QWidget>

namespace {

class PaintedArea : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Button));
        painter.drawText(QPoint(0, height() - 6), QStringLiteral(" X : 0 , Y : 0"));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare-Qt"));
    QMenu *file = window.menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(QStringLiteral("Open"));
    file->addAction(QStringLiteral("Log"));
    file->addAction(QStringLiteral("Close"));
    window.menuBar()->addMenu(QStringLiteral("Settings"))->addAction(QStringLiteral("Colour"));
    auto *area = new PaintedArea;
    area->setAttribute(Qt::WA_OpaquePaintEvent);
    window.setCentralWidget(area);
    // Client 640 x 340 below the menu bar, as Tavimo opens.
    window.resize(640, 340 + window.menuBar()->sizeHint().height());
    window.show();
    return application.exec();
}
