#pragma once

#include <QtGlobal>

#include <functional>

class TPointWithRange;

// Bound change handler: (Sender, X, Y) with the coordinates after the change.
using TPointChangeEvent = std::function<void(TPointWithRange *Sender, qint32 X, qint32 Y)>;

// The current point in picture pixels, each coordinate confined to 0..Max inclusive.
// Setters refuse out-of-range values silently; every accepted SetX/SetY raises OnChange,
// also when the value is the one already held.
class TPointWithRange
{
public:
    qint32 X() const { return FX; }
    qint32 Y() const { return FY; }
    qint32 MaxX() const { return FMaxX; }
    qint32 MaxY() const { return FMaxY; }

    void SetX(qint32 Value);
    void SetY(qint32 Value);
    // Negative bounds are ignored; a coordinate above the new bound is pulled down to it,
    // without an event.
    void SetMaxX(qint32 Value);
    void SetMaxY(qint32 Value);

    TPointChangeEvent OnChange;

private:
    qint32 FX = 0;
    qint32 FY = 0;
    qint32 FMaxX = 10;
    qint32 FMaxY = 10;
};
