#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// The client area as assistive tools (AT-SPI: screen readers, screen magnifiers) read it: a
// canvas named after the open picture's file, described by the coordinate text as drawn, with
// the cross cursor and the magnifier as its two children, each with its extent on the screen.
namespace clientareaaccessible {

// The canvas's children, in their order: topmost first, as Qt's hit test takes the first hit.
enum Part { Cross, Magnifier, PartCount };

// Qt's accessibility factory: the canvas for a TClientArea, nothing for any other object.
QAccessibleInterface *factory(const QString &className, QObject *object);

} // namespace clientareaaccessible
