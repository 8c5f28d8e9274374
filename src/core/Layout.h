#pragma once

// Fixed geometry of the window, in client pixels.
namespace layout {
constexpr int MagnifierSize = 320;   // 20 cells of 16 pixels
constexpr int MagnifierMargin = 10;  // to the right and top edges, and to the picture area
constexpr int TextStripHeight = 20;  // under the picture area
constexpr int TextOffsetInStrip = 2; // top of the coordinate text below the picture area
constexpr int MinPictureAreaWidth = 300;
constexpr int MinClientWidth = MinPictureAreaWidth + 2 * MagnifierMargin + MagnifierSize; // 640
constexpr int MinClientHeight = TextStripHeight + MagnifierSize;                          // 340
constexpr int CrossArm = 10; // the cross cursor reaches 10 pixels each way

constexpr int pictureAreaWidth(int clientWidth)
{
    return clientWidth - 2 * MagnifierMargin - MagnifierSize;
}
constexpr int pictureAreaHeight(int clientHeight)
{
    return clientHeight - TextStripHeight;
}
constexpr int magnifierLeft(int clientWidth)
{
    return clientWidth - MagnifierMargin - MagnifierSize;
}
constexpr int magnifierTop()
{
    return MagnifierMargin;
}
constexpr int textTop(int clientHeight)
{
    return clientHeight - TextStripHeight + TextOffsetInStrip;
}
} // namespace layout
