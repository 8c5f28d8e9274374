#include "ui/Startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include <xcb/xcb.h>

namespace {

// The least screen depth Qt can draw on: on an 8-bit (palette) screen its painter gets no
// paint engine, every window stays black and the file dialog crashes.
constexpr int MinScreenDepth = 15;

} // namespace

namespace startup {

QString displayRefusal(const QByteArray &display)
{
    if (display.isEmpty())
        return QStringLiteral("ディスプレイを開けません (DISPLAY が設定されていません)");
    // Qt's xcb platform starts by connecting to the display: the same connection, tried first.
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection); // takes a failed connection too
    if (failed)
        return QStringLiteral("ディスプレイ \"%1\" を開けません")
            .arg(QString::fromLocal8Bit(display));
    return {};
}

QString screenDepthRefusal(int depth)
{
    if (depth >= MinScreenDepth)
        return {};
    return QStringLiteral("色深度 %1 ビットの画面には描画できません (%2 ビット以上が必要です)")
        .arg(depth)
        .arg(MinScreenDepth);
}

std::unique_ptr<QTranslator> installQtTexts()
{
    auto texts = std::make_unique<QTranslator>();
    if (!texts->load(QStringLiteral("qtbase_ja"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(texts.get());
    return texts;
}

} // namespace startup
