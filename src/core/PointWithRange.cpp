#include "core/PointWithRange.h"

void TPointWithRange::SetX(qint32 Value)
{
    if (Value < 0 || Value > FMaxX)
        return;
    FX = Value;
    if (OnChange)
        OnChange(this, FX, FY);
}

void TPointWithRange::SetY(qint32 Value)
{
    if (Value < 0 || Value > FMaxY)
        return;
    FY = Value;
    if (OnChange)
        OnChange(this, FX, FY);
}

void TPointWithRange::SetMaxX(qint32 Value)
{
    if (Value < 0)
        return;
    FMaxX = Value;
    if (FX > Value)
        FX = Value;
}

void TPointWithRange::SetMaxY(qint32 Value)
{
    if (Value < 0)
        return;
    FMaxY = Value;
    if (FY > Value)
        FY = Value;
}
