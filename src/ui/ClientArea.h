#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

// What the client area shows of the current point, put in words and places for assistive tools
// (screen readers, screen magnifiers).
struct TPointView
{
    QString coordinates; // the coordinate text, exactly as drawn
    QRect cross;         // the cross cursor, in client coordinates; empty while none is drawn
    QColor crossColour;
};

// The window's client area: the interior below the menu bar, the origin of client coordinates.
// It hands its paint, press and key events to the main window's handlers. To assistive tools it
// is a canvas (see ClientAreaAccessible.h); the one state it keeps is what they were last told.
class TClientArea : public QWidget
{
    Q_OBJECT

public:
    explicit TClientArea(QWidget *parent = nullptr);

    std::function<void(QPainter &painter)> OnPaint;
    std::function<void(QMouseEvent *event)> OnMouseDown;
    std::function<void(QKeyEvent *event)> OnKeyDown;
    // Asked only while an assistive tool listens: when it reads the area, and after each paint.
    std::function<TPointView()> OnDescribe;

    TPointView pointView() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void announceChanges();

    TPointView FAnnounced; // what assistive tools were last told; empty while none listens
};
