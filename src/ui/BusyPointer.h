#pragma once

#include <QGuiApplication>

// The busy pointer over every window of the program while it lives: restored on every way out,
// before a failure reaches its report.
class TBusyPointer
{
public:
    TBusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    TBusyPointer(const TBusyPointer &) = delete;
    TBusyPointer &operator=(const TBusyPointer &) = delete;
};
