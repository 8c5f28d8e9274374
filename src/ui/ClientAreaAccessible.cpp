#include "ui/ClientAreaAccessible.h"

#include "core/Layout.h"
#include "ui/ClientArea.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <array>

namespace {

using clientareaaccessible::Part;

// The user interface's language is Japanese; so are the names tools read out.
const char *const NoPictureName = "画像が開かれていません";
const char *const CrossName = "十字カーソル";
const char *const MagnifierName = "拡大鏡";
const char *const MagnifierDescription = "現在の点の周りの 20 × 20 ピクセルを 16 倍で表示";

// A region the area draws, which has no QObject of its own: the cross cursor or the magnifier.
// Its name says what it is; its extent on the screen lets a magnifier that follows the pointer
// or the focus find it. The cross's description is its colour, as red, green and blue values
// named in the program's language.
class TPartAccessible : public QAccessibleInterface
{
public:
    TPartAccessible(TClientArea *area, Part part) : FArea(area), FPart(part) {}

    bool isValid() const override { return !FArea.isNull(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return FArea ? parent()->window() : nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(FArea.data());
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}
    QAccessible::Role role() const override { return QAccessible::Graphic; }

    QString text(QAccessible::Text t) const override
    {
        if (!FArea)
            return {};
        const bool cross = FPart == clientareaaccessible::Cross;
        if (t == QAccessible::Name)
            return QString::fromUtf8(cross ? CrossName : MagnifierName);
        if (t != QAccessible::Description)
            return {};
        if (!cross)
            return QString::fromUtf8(MagnifierDescription);
        const QColor colour = FArea->pointView().crossColour;
        return QStringLiteral("赤 %1、緑 %2、青 %3")
            .arg(colour.red())
            .arg(colour.green())
            .arg(colour.blue());
    }

    // Screen coordinates, as AT-SPI gives every extent.
    QRect rect() const override
    {
        const QRect client = clientRect();
        return client.isEmpty() ? QRect()
                                : QRect(FArea->mapToGlobal(client.topLeft()), client.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invisible = clientRect().isEmpty(); // the cross, before a picture is open
        return state;
    }

private:
    QRect clientRect() const
    {
        if (!FArea)
            return {};
        if (FPart == clientareaaccessible::Cross)
            return FArea->pointView().cross;
        return {layout::magnifierLeft(FArea->width()), layout::magnifierTop(),
                layout::MagnifierSize, layout::MagnifierSize};
    }

    QPointer<TClientArea> FArea;
    Part FPart;
};

// The area itself. Qt's default reading of a plain widget is a nameless "filler"; a canvas is
// what a tool expects of a surface the program draws on. Its name is the widget's accessible
// name, which the window sets to the open file's name; its description is read afresh from the
// window at each request, so it never lags behind the screen.
class TClientAreaAccessible : public QAccessibleWidget
{
public:
    explicit TClientAreaAccessible(TClientArea *area) : QAccessibleWidget(area, QAccessible::Canvas)
    {
        for (int part = 0; part < clientareaaccessible::PartCount; ++part)
            // Owned by Qt's accessibility cache from here on; taken back in the destructor.
            FParts[part] = QAccessible::registerAccessibleInterface(
                new TPartAccessible(area, static_cast<Part>(part)));
    }

    ~TClientAreaAccessible() override
    {
        for (const QAccessible::Id id : FParts)
            QAccessible::deleteAccessibleInterface(id);
    }
    TClientAreaAccessible(const TClientAreaAccessible &) = delete;
    TClientAreaAccessible &operator=(const TClientAreaAccessible &) = delete;

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? QString::fromUtf8(NoPictureName) : name;
        }
        if (t == QAccessible::Description)
            return static_cast<const TClientArea *>(widget())->pointView().coordinates;
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return clientareaaccessible::PartCount; }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= clientareaaccessible::PartCount)
            return nullptr;
        return QAccessible::accessibleInterface(FParts[index]);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (int part = 0; part < clientareaaccessible::PartCount; ++part)
            if (QAccessible::accessibleInterface(FParts[part]) == child)
                return part;
        return -1;
    }

private:
    std::array<QAccessible::Id, clientareaaccessible::PartCount> FParts{};
};

} // namespace

namespace clientareaaccessible {

// Qt asks with the object's own class name first, then its base classes', so the class name
// adds nothing to the cast.
QAccessibleInterface *factory(const QString &, QObject *object)
{
    auto *area = qobject_cast<TClientArea *>(object);
    return area ? new TClientAreaAccessible(area) : nullptr; // owned by Qt's accessibility cache
}

} // namespace clientareaaccessible
