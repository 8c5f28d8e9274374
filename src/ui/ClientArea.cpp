#include "ui/ClientArea.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

TClientArea::TClientArea(QWidget *parent) : QWidget(parent)
{
    // The frame always covers the whole area, so Qt need not clear it first; its size comes
    // from the window alone, never from a size hint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // Arrow keys must reach the window's key handler, so the area takes the keyboard focus.
    setFocusPolicy(Qt::StrongFocus);
}

void TClientArea::paintEvent(QPaintEvent *)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    OnPaint(painter);
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
