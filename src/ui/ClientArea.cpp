#include "ui/ClientArea.h"

#include "ui/ClientAreaAccessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

TClientArea::TClientArea(QWidget *parent) : QWidget(parent)
{
    // The frame always covers the whole area, so Qt need not clear it first; its size comes
    // from the window alone, never from a size hint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // Arrow keys must reach the window's key handler, so the area takes the keyboard focus.
    setFocusPolicy(Qt::StrongFocus);
    // Installed here, where it is needed, so that every window (the program's, a test's) is
    // read the same way; Qt keeps one entry however many areas install it.
    QAccessible::installFactory(clientareaaccessible::factory);
}

TPointView TClientArea::pointView() const
{
    return OnDescribe ? OnDescribe() : TPointView();
}

void TClientArea::paintEvent(QPaintEvent *)
{
    if (!OnPaint)
        return;
    {
        QPainter painter(this);
        OnPaint(painter);
    }
    announceChanges();
}

// A double click arrives as press, release, double-click, release; QWidget hands the
// double-click to mousePressEvent, so it counts as a second press.
void TClientArea::mousePressEvent(QMouseEvent *event)
{
    if (OnMouseDown)
        OnMouseDown(event);
}

void TClientArea::keyPressEvent(QKeyEvent *event)
{
    if (OnKeyDown)
        OnKeyDown(event);
    else
        QWidget::keyPressEvent(event);
}

// Tells assistive tools what changed on the screen since they were last told. It runs after a
// paint, not on each change of the point: Qt merges the repaint requests of a burst (a held
// arrow key, the two coordinates of a click) into one paint, so the tool hears one announcement
// of the point that is shown, not a queue of every point passed over. While no tool listens it
// costs one call.
void TClientArea::announceChanges()
{
    if (!QAccessible::isActive()) {
        FAnnounced = TPointView();
        return;
    }
    const TPointView now = pointView();
    const TPointView before = std::exchange(FAnnounced, now);
    if (now.coordinates != before.coordinates) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
    QAccessibleInterface *area = QAccessible::queryAccessibleInterface(this);
    QAccessibleInterface *cross = area ? area->child(clientareaaccessible::Cross) : nullptr;
    if (!cross)
        return;
    if (now.cross.isEmpty() != before.cross.isEmpty()) { // the first picture, or an empty one
        QAccessibleEvent event(cross, now.cross.isEmpty() ? QAccessible::ObjectHide
                                                          : QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&event);
    }
    if (now.crossColour != before.crossColour) {
        QAccessibleEvent event(cross, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}
