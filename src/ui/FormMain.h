#pragma once

#include "core/Geometry.h"
#include "core/PictureLimits.h"
#include "ui/FailureReport.h"

#include <QByteArray>
#include <QImage>
#include <QMainWindow>

#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class QPainter;
class TClientArea;
class TPointLogFile;
class TPointWithRange;
struct TPointView;

// The main window. All drawing goes into the off-screen frame FBuffer, in client coordinates
// (origin at the top-left of the area below the menu bar); the paint handler only copies it.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    // `invocationName` is argv[0] as the process received it: the log is named after it.
    explicit TForm1(QByteArray invocationName,
                    failurereport::FailureReport failureReport = failurereport::showFailureBox);
    ~TForm1() override;

    // Geometry in the sense of the handlers: client = the area below the menu bar,
    // Width x Height = the window's outer size, menu bar included.
    int ClientWidth() const;
    int ClientHeight() const;

    // Loads a picture and shows it, as the Open command does after its dialog, under the busy
    // pointer.
    void OpenPicture(const QString &path);
    const picturelimits::Options &pictureLimits() const { return FPictureLimits; }

    // Read-only views for tests and benchmarks.
    const QImage *image() const { return FImage.get(); }
    const QImage *zoom() const { return FZoom.get(); }
    const QImage *buffer() const { return FBuffer.get(); }
    const TPointWithRange *point() const { return FPoint.get(); }
    TPointWithRange *point() { return FPoint.get(); }
    const TPointLogFile *log() const { return FLog.get(); }
    TRect imageRect() const { return FImageRect; }
    TColor crossColor() const { return FCrossColor; }
    bool zoomWritten() const { return FZoomWritten; }
    QWidget *clientArea() const;
    QAction *action(const char *name) const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyDescription();
    void buildMenu();
    QAction *addCommand(QMenu *menu, const QString &caption, const char *name,
                        void (TForm1::*handler)(QObject *));
    void setOuterWidth(int value);
    void setOuterHeight(int value);
    void settleHiddenResize();
    void settleLayout();

    void FormCreate(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void FormResize(QObject *Sender);
    void FormPaint(QObject *Sender, QPainter &canvas);
    void FormMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                       int Y);
    void FormKeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void MnuOpenClick(QObject *Sender);
    void MnuLogClick(QObject *Sender);
    void MnuCloseClick(QObject *Sender);
    void MnuCrossColorClick(QObject *Sender);
    void PointChanged(TPointWithRange *Sender, qint32 X, qint32 Y);

    void UpdateLayout();
    void DrawBuffer();
    void DrawCross();
    void drawCross(QPainter &canvas);
    QPoint crossCentre() const;
    QString coordinateText() const;
    TPointView describePoint() const;
    void UpdateZoom();
    void invalidate();

    // Runs a handler body under the failure guard.
    template <class Body> void handle(Body &&body) { failurereport::guarded(FFailureReport, body); }

    QMenuBar *MainMenu1 = nullptr;
    QMenu *MnuFile = nullptr;
    QAction *MnuOpen = nullptr;
    QAction *MnuLog = nullptr;
    QAction *MnuClose = nullptr;
    QMenu *MnuSet = nullptr;
    QAction *MnuCrossColor = nullptr;
    TClientArea *FClientArea = nullptr; // owned by the window as its central widget

    std::unique_ptr<QImage> FImage;  // the picture, Format_RGB32; null when empty
    std::unique_ptr<QImage> FZoom;   // the magnifier, 320 x 320, Format_RGB32
    std::unique_ptr<QImage> FBuffer; // the frame, the window's outer size, Format_RGB32
    std::unique_ptr<TPointWithRange> FPoint;
    TRect FImageRect;
    std::unique_ptr<TPointLogFile> FLog;
    TColor FCrossColor = 0;

    bool FZoomWritten = false; // FZoom shows nothing until its first rebuild
    bool FFrameShort = false;  // FBuffer is smaller than the window: its memory was refused
    QString FLogCreateError;   // why FLog is absent, told again by the Log command
    QByteArray FInvocationName;
    failurereport::FailureReport FFailureReport;
    picturelimits::Options FPictureLimits; // from the machine, read once at construction
};
