// The installed hicolor icons against the window icon: every size shows the same design with
// sharp edges, and the 32-pixel one has exactly the window icon's pixels.
#include <QImage>
#include <QTest>

namespace {

QRgb normalised(QRgb pixel)
{
    return qAlpha(pixel) == 0 ? 0u : pixel; // a transparent pixel's colour does not matter
}

} // namespace

class TestInstalledIcons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_prefix = qEnvironmentVariable("TAVIMO_INSTALL_PREFIX");
        QVERIFY2(!m_prefix.isEmpty(), "TAVIMO_INSTALL_PREFIX is not set");
        const QImage icon(QStringLiteral(TAVIMO_WINDOW_ICON));
        QVERIFY2(!icon.isNull(), "cannot read the window icon " TAVIMO_WINDOW_ICON);
        QCOMPARE(icon.size(), QSize(32, 32));
        m_windowIcon = icon.convertToFormat(QImage::Format_ARGB32);
    }

    void icon_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {32, 48, 64, 128, 256})
            QTest::addRow("%dx%d", size, size) << size;
    }

    // Each pixel lies over one or more cells of the 32 x 32 design; they must all have one
    // colour (an edge between two colours falls on a pixel boundary) and the pixel has it.
    void icon()
    {
        QFETCH(int, size);
        const QString path =
            QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/tavimo.png").arg(m_prefix).arg(size);
        QImage png(path);
        QVERIFY2(!png.isNull(), qPrintable("cannot read " + path));
        QCOMPARE(png.size(), QSize(size, size));
        png = png.convertToFormat(QImage::Format_ARGB32);

        const auto cells = [size](int pixel) {
            return std::pair<int, int>(pixel * 32 / size, ((pixel + 1) * 32 - 1) / size);
        };
        for (int y = 0; y < size; ++y) {
            const auto [top, bottom] = cells(y);
            for (int x = 0; x < size; ++x) {
                const auto [left, right] = cells(x);
                const QRgb expected = normalised(m_windowIcon.pixel(left, top));
                for (int v = top; v <= bottom; ++v) {
                    for (int u = left; u <= right; ++u) {
                        if (normalised(m_windowIcon.pixel(u, v)) != expected)
                            QFAIL(qPrintable(
                                QStringLiteral("pixel (%1, %2) straddles an edge").arg(x).arg(y)));
                    }
                }
                const QRgb actual = normalised(png.pixel(x, y));
                if (actual != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is #%3, expected #%4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(actual, 8, 16, QLatin1Char('0'))
                                         .arg(expected, 8, 16, QLatin1Char('0'))));
            }
        }
    }

private:
    QString m_prefix;
    QImage m_windowIcon;
};

QTEST_GUILESS_MAIN(TestInstalledIcons)
#include "tst_installedicons.moc"
