#include "ui/FormMain.h"

#include "core/Errors.h"
#include "core/FittedPicture.h"
#include "core/Layout.h"
#include "core/Magnifier.h"
#include "core/PictureLoader.h"
#include "core/PointLogFile.h"
#include "core/PointWithRange.h"
#include "ui/BusyPointer.h"
#include "ui/ClientArea.h"
#include "ui/NameIconProvider.h"
#include "ui/OpenDialog.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QtMath>

#include <new>

namespace {

// The window as it is constructed, before FormCreate sets its real size.
constexpr QPoint DesignPosition(293, 355);
constexpr QSize DesignSize(696, 480);
const char *const WindowFontFamily = "ＭＳ Ｐゴシック";
constexpr int WindowFontPixelSize = 12;
// Debian's fontconfig has no alias for the window font; this is its usual proportional
// substitute, from fonts-ipafont-gothic.
const char *const WindowFontSubstitute = "IPAPGothic";
constexpr TColor InitialCrossColor = 0xFF0000; // blue, as 0x00BBGGRR

// The client pixel under a pointer position. Positions can be fractional (a scaled screen, a
// tablet); the pixel is the one that contains the point, so they are floored, never rounded.
QPoint pixelUnder(const QPointF &position)
{
    return {qFloor(position.x()), qFloor(position.y())};
}

} // namespace

TForm1::TForm1(QByteArray invocationName, failurereport::FailureReport failureReport)
    : FInvocationName(std::move(invocationName)),
      FFailureReport(std::move(failureReport)), FPictureLimits{picturelimits::machineLimitBytes()}
{
    applyDescription();
    handle([this] { FormCreate(this); });
}

TForm1::~TForm1()
{
    handle([this] { FormDestroy(this); });
}

void TForm1::applyDescription()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tavimo"));
    setWindowIcon(QIcon(QStringLiteral(":/tavimo.ico")));

    QFont::insertSubstitution(QString::fromUtf8(WindowFontFamily),
                              QString::fromLatin1(WindowFontSubstitute));
    QFont windowFont(QString::fromUtf8(WindowFontFamily));
    windowFont.setPixelSize(WindowFontPixelSize);
    windowFont.setStyleHint(QFont::SansSerif);
    setFont(windowFont);

    buildMenu();

    auto *client = new TClientArea(this); // owned by the window from setCentralWidget on
    client->OnPaint = [this](QPainter &canvas) { handle([&] { FormPaint(this, canvas); }); };
    client->OnMouseDown = [this](QMouseEvent *e) {
        const QPoint pos = pixelUnder(e->position());
        handle([&] { FormMouseDown(this, e->button(), e->modifiers(), pos.x(), pos.y()); });
    };
    client->OnKeyDown = [this](QKeyEvent *e) {
        int key = e->key();
        handle([&] { FormKeyDown(this, key, e->modifiers()); });
    };
    client->OnDescribe = [this] { return describePoint(); };
    setCentralWidget(client);
    FClientArea = client;
    client->setFocus();

    move(DesignPosition);
    resize(DesignSize);
    // A window manager that honours this never offers a client smaller than the least one;
    // FormResize still corrects any size that gets through.
    setMinimumSize(layout::MinClientWidth,
                   layout::MinClientHeight + MainMenu1->sizeHint().height());
}

void TForm1::buildMenu()
{
    MainMenu1 = menuBar();
    MnuFile = MainMenu1->addMenu(QStringLiteral("ファイル(&F)"));
    MnuOpen = addCommand(MnuFile, QStringLiteral("開く(&O)"), "MnuOpen", &TForm1::MnuOpenClick);
    MnuLog = addCommand(MnuFile, QStringLiteral("ログ(&L)"), "MnuLog", &TForm1::MnuLogClick);
    MnuClose =
        addCommand(MnuFile, QStringLiteral("閉じる(&C)"), "MnuClose", &TForm1::MnuCloseClick);
    MnuSet = MainMenu1->addMenu(QStringLiteral("設定(&S)"));
    MnuCrossColor = addCommand(MnuSet, QStringLiteral("十字カーソルの色(&C)"), "MnuCrossColor",
                               &TForm1::MnuCrossColorClick);
}

// A menu item whose click runs `handler` under the failure guard, with the item as Sender.
QAction *TForm1::addCommand(QMenu *menu, const QString &caption, const char *name,
                            void (TForm1::*handler)(QObject *))
{
    QAction *item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this,
            [this, item, handler] { handle([&] { (this->*handler)(item); }); });
    return item;
}

QWidget *TForm1::clientArea() const
{
    return FClientArea;
}

QAction *TForm1::action(const char *name) const
{
    return findChild<QAction *>(QString::fromLatin1(name));
}

int TForm1::ClientWidth() const
{
    return FClientArea ? FClientArea->width() : 0;
}

int TForm1::ClientHeight() const
{
    return FClientArea ? FClientArea->height() : 0;
}

void TForm1::setOuterWidth(int value)
{
    if (value == width())
        return;
    resize(value, height());
    settleHiddenResize();
}

void TForm1::setOuterHeight(int value)
{
    if (value == height())
        return;
    resize(width(), value);
    settleHiddenResize();
}

// A visible window gets its resize event inside resize(). A hidden one gets none until it is
// shown and its client area keeps its old geometry, so lay it out now and run the handler here,
// as a size change must.
void TForm1::settleHiddenResize()
{
    if (isVisible())
        return;
    settleLayout();
    FormResize(this);
}

void TForm1::settleLayout()
{
    layout()->invalidate();
    layout()->activate();
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    handle([this] { FormResize(this); });
}

void TForm1::FormCreate(QObject *)
{
    FZoom = std::make_unique<QImage>(magnifier::OutputSize, magnifier::OutputSize,
                                     QImage::Format_RGB32);
    FImage = std::make_unique<QImage>();
    FBuffer = std::make_unique<QImage>(width(), height(), QImage::Format_RGB32);
    FBuffer->fill(Qt::black);

    FPoint = std::make_unique<TPointWithRange>();
    FPoint->OnChange = [this](TPointWithRange *sender, qint32 x, qint32 y) {
        PointChanged(sender, x, y);
    };
    FPoint->SetMaxX(0);
    FPoint->SetMaxY(0);

    // Before the first show Qt's sizes are placeholders; settle the layout so that the client
    // size read below is the real one.
    settleLayout();
    setOuterWidth(width() - ClientWidth() + layout::MinClientWidth);
    setOuterHeight(height() - ClientHeight() + layout::MinClientHeight);

    FCrossColor = InitialCrossColor;

    const QByteArray logPath = pointlogfile::logPathFor(FInvocationName);
    try {
        FLog = std::make_unique<TPointLogFile>(logPath);
    } catch (const EFCreateError &e) {
        FLogCreateError = e.message();
        throw;
    }
}

void TForm1::FormDestroy(QObject *)
{
    FZoom.reset();
    FImage.reset();
    FBuffer.reset();
    FPoint.reset();
    FLog.reset();
}

void TForm1::FormResize(QObject *)
{
    // Width before height; each correction runs this handler once more, nested, before the
    // outer call goes on.
    if (ClientWidth() < layout::MinClientWidth)
        setOuterWidth(width() - ClientWidth() + layout::MinClientWidth);
    if (ClientHeight() < layout::MinClientHeight)
        setOuterHeight(height() - ClientHeight() + layout::MinClientHeight);
    UpdateLayout();
    invalidate();
}

void TForm1::FormPaint(QObject *, QPainter &canvas)
{
    if (FBuffer && !FBuffer->isNull())
        canvas.drawImage(0, 0, *FBuffer);
}

void TForm1::FormMouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int X, int Y)
{
    if (!FImage || FImage->isNull())
        return;
    if (Button != Qt::LeftButton)
        return;

    // On the picture (client coordinates, edges Right and Bottom included): the picture pixel
    // drawn under the pointer.
    if (X <= FImageRect.Right && Y <= FImageRect.Bottom) {
        FPoint->SetX(geometry::pictureCoordinate(X, FImageRect.Right, FImage->width()));
        FPoint->SetY(geometry::pictureCoordinate(Y, FImageRect.Bottom, FImage->height()));
        return;
    }

    // In the magnifier: move by whole cells, to the cell under the pointer.
    const int left = layout::magnifierLeft(ClientWidth());
    const int top = layout::magnifierTop();
    const int mx = X - left; // magnifier coordinates, 0..319 inside
    const int my = Y - top;
    if (mx < 0 || mx >= layout::MagnifierSize || my < 0 || my >= layout::MagnifierSize)
        return;
    FPoint->SetX(FPoint->X() + geometry::magnifierStep(mx));
    FPoint->SetY(FPoint->Y() + geometry::magnifierStep(my));
}

void TForm1::FormKeyDown(QObject *, int &Key, Qt::KeyboardModifiers Shift)
{
    // Shift wins over Ctrl; Alt is not looked at.
    const int step = Shift.testFlag(Qt::ShiftModifier)     ? 3
                     : Shift.testFlag(Qt::ControlModifier) ? 10
                                                           : 1;
    switch (Key) {
    case Qt::Key_Left:
        FPoint->SetX(FPoint->X() - step);
        break;
    case Qt::Key_Up: // y grows downward
        FPoint->SetY(FPoint->Y() - step);
        break;
    case Qt::Key_Right:
        FPoint->SetX(FPoint->X() + step);
        break;
    case Qt::Key_Down:
        FPoint->SetY(FPoint->Y() + step);
        break;
    default:
        break;
    }
}

void TForm1::MnuOpenClick(QObject *)
{
    TNameIconProvider icons; // outlives the dialog, whose listing uses it
    TOpenDialog dialog(this, QStringLiteral("開く"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&icons);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile); // a typed name need not exist
    dialog.setNameFilter(QStringLiteral("画像 (*.bmp *.BMP *.jpeg *.JPEG *.jpg *.JPG)"));
    dialog.setOption(QFileDialog::HideNameFilterDetails); // the label alone, not the masks
    // Masks match case-sensitively: a.Bmp is not listed.
    dialog.setFilter(dialog.filter() | QDir::CaseSensitive);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString path = dialog.chosenFile();
    if (!path.isEmpty())
        OpenPicture(path);
}

void TForm1::OpenPicture(const QString &path)
{
    // A large picture takes seconds, during which the window does not answer.
    const TBusyPointer busy;
    // Decoded apart from FImage: a failure leaves the picture, caption, range and layout as
    // they were.
    QImage picture = pictureloader::load(path, FPictureLimits);
    *FImage = std::move(picture);
    // Qt takes "[*]" in a title for the modified mark and drops it; "[*][*]" shows as "[*]".
    QString caption = QStringLiteral("Tavimo-") + path;
    caption.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
    setWindowTitle(caption);
    FClientArea->setAccessibleName(QFileInfo(path).fileName()); // what the canvas shows, told
    FPoint->SetMaxX(FImage->width());
    FPoint->SetMaxY(FImage->height());
    UpdateZoom();
    UpdateLayout();
    invalidate();
}

void TForm1::MnuLogClick(QObject *)
{
    if (!FLog)
        throw EFCreateError(FLogCreateError);
    FLog->WritePoint(*FPoint);
}

void TForm1::MnuCloseClick(QObject *)
{
    close();
}

void TForm1::MnuCrossColorClick(QObject *)
{
    // A fresh chooser each time, starting at black.
    const QColor chosen = QColorDialog::getColor(Qt::black, this);
    if (!chosen.isValid())
        return;
    FCrossColor = geometry::rgbToTColor(chosen.rgb());
    DrawCross();
    invalidate();
}

void TForm1::PointChanged(TPointWithRange *, qint32, qint32)
{
    UpdateZoom();
    DrawBuffer();
    invalidate();
}

void TForm1::invalidate()
{
    // Queued and merged: any number of requests before the next paint give one paint.
    if (FClientArea)
        FClientArea->update();
}

void TForm1::UpdateLayout()
{
    if (FImage && !FImage->isNull())
        FImageRect =
            FitRect(layout::pictureAreaWidth(ClientWidth()),
                    layout::pictureAreaHeight(ClientHeight()), FImage->width(), FImage->height());
    if (!FBuffer)
        return;
    // The window's outer size, so the frame is never smaller than the client area. When the
    // memory for it cannot be had, the old frame stays and is composed at the new layout, cut
    // to its size: what is shown is then what a click selects. The failure is reported once,
    // not again for every size that fails after it.
    const bool wasShort = FFrameShort;
    if (FBuffer->size() != size()) {
        QImage resized(size(), QImage::Format_RGB32);
        FFrameShort = resized.isNull();
        if (!FFrameShort) {
            resized.fill(Qt::black);
            *FBuffer = std::move(resized);
        }
    } else {
        FFrameShort = false;
    }
    DrawBuffer();
    if (FFrameShort && !wasShort)
        throw std::bad_alloc();
}

void TForm1::DrawBuffer()
{
    if (!FBuffer || FBuffer->isNull())
        return;
    const int cw = ClientWidth();
    const int ch = ClientHeight();
    QPainter canvas(FBuffer.get());

    const bool showPicture =
        FImage && !FImage->isNull() && FImageRect.Right > 0 && FImageRect.Bottom > 0;
    const QRect pictureRect(FImageRect.Left, FImageRect.Top, FImageRect.Right - FImageRect.Left,
                            FImageRect.Bottom - FImageRect.Top);
    const bool showZoom = FZoom && FZoomWritten;
    const QRect zoomRect(QPoint(layout::magnifierLeft(cw), layout::magnifierTop()),
                         FZoom ? FZoom->size() : QSize());

    // 1-2. Background, over the client area only. The picture and the magnifier are opaque
    // (Format_RGB32) and cover their rectangles whole, so the background goes around them
    // instead of under them: each client pixel is written once per frame, not twice.
    QRegion background(0, 0, cw, ch);
    if (showPicture)
        background -= pictureRect;
    if (showZoom)
        background -= zoomRect;
    // The active group's colour, also while the window is inactive (just after a dialog
    // closes), so that every frame has one background whatever the theme.
    const QColor backgroundColour = palette().color(QPalette::Active, QPalette::Button);
    for (const QRect &r : background)
        canvas.fillRect(r, backgroundColour);

    // 3. The picture in FImageRect, each client pixel the picture pixel a click there selects.
    // Written straight into FBuffer's rows, which the painter also draws into directly.
    if (showPicture)
        fittedpicture::draw(*FImage, FImageRect, *FBuffer);

    // 4. The magnifier, unscaled, once it has been built.
    if (showZoom)
        canvas.drawImage(zoomRect.topLeft(), *FZoom);

    // 5. The coordinates, top-left corner of the text at (0, CH - 18), in the application's
    // default font (not the window font) in black. The ascent comes from the painter that
    // draws, so the top stays there whatever the screen's DPI.
    if (FPoint) {
        canvas.setFont(QGuiApplication::font());
        canvas.setPen(Qt::black);
        const int baseline = layout::textTop(ch) + canvas.fontMetrics().ascent();
        canvas.drawText(QPoint(0, baseline), coordinateText());
    }

    // 6. The cross cursor, last.
    drawCross(canvas);
}

void TForm1::DrawCross()
{
    if (!FBuffer || FBuffer->isNull())
        return;
    QPainter canvas(FBuffer.get());
    drawCross(canvas);
}

void TForm1::drawCross(QPainter &canvas)
{
    if (!FImage || FImage->isNull() || !FPoint)
        return;
    const QPoint centre = crossCentre();
    const int x = centre.x();
    const int y = centre.y();
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setPen(QPen(QColor::fromRgb(geometry::tcolorToRgb(FCrossColor)), 0));
    canvas.drawLine(x - layout::CrossArm, y, x + layout::CrossArm, y);
    canvas.drawLine(x, y - layout::CrossArm, x, y + layout::CrossArm);
}

// The scaled position of the point's pixel's top-left corner, in client coordinates; for an
// open picture only.
QPoint TForm1::crossCentre() const
{
    return {geometry::clientPosition(FPoint->X(), FImage->width(), FImageRect.Right),
            geometry::clientPosition(FPoint->Y(), FImage->height(), FImageRect.Bottom)};
}

QString TForm1::coordinateText() const
{
    return QString::asprintf(" X : %d , Y : %d", FPoint->X(), FPoint->Y());
}

// What the frame shows of the point, for assistive tools; computed only when one asks.
TPointView TForm1::describePoint() const
{
    TPointView view;
    if (!FPoint)
        return view;
    view.coordinates = coordinateText();
    view.crossColour = QColor::fromRgb(geometry::tcolorToRgb(FCrossColor));
    if (FImage && !FImage->isNull()) {
        const QPoint centre = crossCentre();
        const QPoint arm(layout::CrossArm, layout::CrossArm);
        view.cross = QRect(centre - arm, centre + arm); // both corners inside
    }
    return view;
}

void TForm1::UpdateZoom()
{
    if (!FZoom || !FImage || !FPoint)
        return;
    magnifier::build(*FImage, FPoint->X(), FPoint->Y(), FPoint->MaxX(), FPoint->MaxY(), *FZoom);
    FZoomWritten = true;
}
