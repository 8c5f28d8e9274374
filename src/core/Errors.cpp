#include "core/Errors.h"

#include <QDir>

#include <cstring>

ETavimoError::ETavimoError(const QString &message)
    : std::runtime_error(message.toStdString()), FMessage(message)
{
}

EReadError::EReadError() : ETavimoError(QStringLiteral("ストリームからの読み込みエラー")) {}

EInvalidGraphicOperation::EInvalidGraphicOperation()
    : ETavimoError(QStringLiteral("認識できないイメージフォーマットです。"))
{
}

EPictureTooLarge::EPictureTooLarge(qint64 width, qint64 height, qint64 limitPixels)
    : ETavimoError(
          QStringLiteral("画像が大きすぎて開けません (%1 × %2 ピクセル、上限 %3 メガピクセル)")
              .arg(width)
              .arg(height)
              .arg(limitPixels / 1000000))
{
}

namespace errors {

QString failureText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > 0x2E)
        return message + QLatin1Char('.');
    return message;
}

QString systemErrorText(int errnoValue)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    const char *text = strerror_r(errnoValue, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

QString absolutePathForMessage(const QString &path)
{
    QString expanded = path;
    if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
        expanded = QDir::homePath() + expanded.mid(1);
    return QDir::cleanPath(QDir::current().absoluteFilePath(expanded));
}

} // namespace errors
