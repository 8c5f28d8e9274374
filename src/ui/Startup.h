#pragma once

#include <QByteArray>
#include <QString>
#include <QTranslator>

#include <memory>

// What the program settles before its window exists.
namespace startup {

// Why the program cannot run on the X display `display` (DISPLAY as given, empty when unset):
// no server answers there, or none is named. Empty when a connection succeeds. Qt itself would
// abort there, after printing its advice about platform plugins.
QString displayRefusal(const QByteArray &display);

// Why the program cannot draw on a screen of `depth` bits a pixel; empty when it can.
QString screenDepthRefusal(int depth);

// Qt's own texts (dialog buttons, labels, column heads) in Japanese, the language of the
// window, whatever the locale; installed in the application while the returned object lives.
// Null when Qt's Japanese translation is not installed: the dialogs then speak English.
std::unique_ptr<QTranslator> installQtTexts();

} // namespace startup
