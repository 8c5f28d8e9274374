#include "core/Errors.h"

#include <QDir>
#include <QtTest>

#include <cerrno>

class TestErrors : public QObject
{
    Q_OBJECT

private slots:
    void failureText_data();
    void failureText();
    void messages_data();
    void messages();
    void absolutePath_data();
    void absolutePath();
    void systemText();
};

void TestErrors::failureText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");

    // One row a line, which clang-format would split between string literals.
    // clang-format off
    QTest::newRow("letter gets a dot") << "abc" << "abc.";
    QTest::newRow("digit gets a dot") << "error 5" << "error 5.";
    QTest::newRow("dot stays") << "done." << "done.";
    QTest::newRow("exclamation stays") << "stop!" << "stop!";
    QTest::newRow("comma stays") << "a," << "a,";
    QTest::newRow("space stays") << "a " << "a ";
    QTest::newRow("slash (0x2F) gets a dot") << "a/" << "a/.";
    QTest::newRow("ideographic full stop gets a dot")
        << QStringLiteral("認識できないイメージフォーマットです。")
        << QStringLiteral("認識できないイメージフォーマットです。.");
    QTest::newRow("Japanese letter gets a dot") << QStringLiteral("エラー") << QStringLiteral("エラー.");
    QTest::newRow("empty stays empty") << "" << "";
    // clang-format on
}

void TestErrors::failureText()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(errors::failureText(message), shown);
}

void TestErrors::messages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("read error") << EReadError().message()
                                << QStringLiteral("ストリームからの読み込みエラー");
    QTest::newRow("unrecognised") << EInvalidGraphicOperation().message()
                                  << QStringLiteral("認識できないイメージフォーマットです。");
}

void TestErrors::messages()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QCOMPARE(message, expected);
}

void TestErrors::absolutePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    const QString cwd = QDir::currentPath();
    const QString home = QDir::homePath();
    // One row a line, which clang-format would split between string literals.
    // clang-format off
    QTest::newRow("absolute kept") << "/opt/t/picker.log" << "/opt/t/picker.log";
    QTest::newRow("relative joined") << "picker.log" << cwd + "/picker.log";
    QTest::newRow("dot resolved") << "./picker.log" << cwd + "/picker.log";
    QTest::newRow("dot-dot resolved") << "/a/b/../c/./d.log" << "/a/c/d.log";
    QTest::newRow("tilde is home") << "~/x.log" << home + "/x.log";
    QTest::newRow("tilde inside kept") << "/a/~/x.log" << "/a/~/x.log";
    // clang-format on
}

void TestErrors::absolutePath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(errors::absolutePathForMessage(path), expected);
}

void TestErrors::systemText()
{
    QCOMPARE(errors::systemErrorText(ENOENT), QString::fromLocal8Bit(strerror(ENOENT)));
    QVERIFY(!errors::systemErrorText(EACCES).isEmpty());
}

QTEST_APPLESS_MAIN(TestErrors)
#include "tst_errors.moc"
