#pragma once

#include "core/PointWithRange.h"
#include "ui/FormMain.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPalette>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

// What a user can see of the window's state.
struct Snapshot
{
    QString caption;
    QImage picture;
    QPoint point;
    QPoint range;
    TRect imageRect;
    QImage frame;

    static Snapshot of(const TForm1 &form)
    {
        return {form.windowTitle(),
                *form.image(),
                {form.point()->X(), form.point()->Y()},
                {form.point()->MaxX(), form.point()->MaxY()},
                form.imageRect(),
                *form.buffer()};
    }
    bool operator==(const Snapshot &o) const
    {
        return caption == o.caption && picture == o.picture && point == o.point &&
               range == o.range && imageRect == o.imageRect && frame == o.frame;
    }
    // The same comparison, naming the first part that differs.
    void verifySame(const Snapshot &o) const
    {
        QCOMPARE(o.caption, caption);
        QCOMPARE(o.picture, picture);
        QCOMPARE(o.point, point);
        QCOMPARE(o.range, range);
        QVERIFY(o.imageRect == imageRect);
        QCOMPARE(o.frame, frame);
    }
};

// A main window started from a temporary folder (its log goes there), with the failure report
// replaced by a list of the messages it would have shown. The application's palette gives every
// colour role of every group its own colour, so that a frame drawn in another role than the one
// meant shows it, whatever grey the style gives several roles.
struct FormFixture
{
    QTemporaryDir dir;
    QStringList reports;
    std::unique_ptr<TForm1> form;

    explicit FormFixture(const QByteArray &programName = "tavimo")
    {
        QPalette palette;
        for (int group = 0; group < QPalette::NColorGroups; ++group)
            for (int role = QPalette::WindowText; role < QPalette::NoRole; ++role)
                palette.setColor(QPalette::ColorGroup(group), QPalette::ColorRole(role),
                                 QColor(40 + 9 * role, 90 + 50 * group, 200 - 7 * role));
        QApplication::setPalette(palette);
        form = std::make_unique<TForm1>(QFile::encodeName(dir.filePath(programName)),
                                        [this](const QString &m) { reports << m; });
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Writes `picture` as a file in the fixture's folder and opens it through the window.
    QString open(const QImage &picture, const QString &name = "picture.png")
    {
        QString file = path(name);
        picture.save(file);
        form->OpenPicture(file);
        return file;
    }

    QRgb frame(int x, int y) const { return form->buffer()->pixel(x, y) & 0xFFFFFF; }
    QRgb background() const
    {
        return form->palette().color(QPalette::Active, QPalette::Button).rgb() & 0xFFFFFF;
    }
};

namespace formfixture {

// While it lives, lets the process map only `spare` more bytes than it has mapped now. Relative,
// not a fixed size, because a build with AddressSanitizer maps terabytes of shadow memory at
// start. ok() is false when the limit could not be set.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(qint64 spare)
    {
        QFile statm(QStringLiteral("/proc/self/statm"));
        const qint64 pages =
            statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ')[0].toLongLong() : 0;
        if (spare <= 0 || pages <= 0 || ::getrlimit(RLIMIT_AS, &FBefore) != 0)
            return;
        rlimit limit = FBefore;
        limit.rlim_cur =
            std::min(rlim_t(pages * ::sysconf(_SC_PAGESIZE) + spare), FBefore.rlim_max);
        FSet = ::setrlimit(RLIMIT_AS, &limit) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (FSet)
            ::setrlimit(RLIMIT_AS, &FBefore);
    }
    AddressSpaceLimit(const AddressSpaceLimit &) = delete;
    AddressSpaceLimit &operator=(const AddressSpaceLimit &) = delete;
    bool ok() const { return FSet; }

private:
    rlimit FBefore{};
    bool FSet = false;
};

// A picture whose every pixel names its own coordinates (for pictures below 256 x 256), never
// pure blue, red or black, so the cross and the magnifier's black stand out.
inline QImage codedPicture(int w, int h)
{
    QImage picture(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            picture.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, 0x80 | ((x + y) & 0x3F)));
    return picture;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A left, right or middle click exactly at `pos` in client coordinates (QTest takes (0, 0) for
// "the centre of the widget").
inline void clickAt(QWidget *client, QPointF pos, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers modifiers = {})
{
    const QPointF global = client->mapToGlobal(pos);
    QMouseEvent press(QEvent::MouseButtonPress, pos, global, button, button, modifiers);
    QApplication::sendEvent(client, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, global, button, Qt::NoButton, modifiers);
    QApplication::sendEvent(client, &release);
}

} // namespace formfixture
