#pragma once

#include <QWidget>

#include <functional>

// The window's client area: the interior below the menu bar, the origin of client coordinates.
// It owns no state; it hands its paint, press and key events to the main window's handlers.
class TClientArea : public QWidget
{
    Q_OBJECT

public:
    explicit TClientArea(QWidget *parent = nullptr);

    std::function<void(QPainter &painter)> OnPaint;
    std::function<void(QMouseEvent *event)> OnMouseDown;
    std::function<void(QKeyEvent *event)> OnKeyDown;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
