#include "GameWindow.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

QString field(const GameWindow &window, const char *name)
{
    const auto *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no field %1>").arg(QLatin1String(name));
}

QStringList listed(const GameWindow &window)
{
    QStringList out;
    const auto *list = window.findChild<QListWidget *>(QStringLiteral("arguments"));
    for (int i = 0; list && i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

std::vector<std::string> toStd(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &item : list)
        out.push_back(item.toStdString());
    return out;
}

} // namespace

class TestStandinWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsWhatTheGameWasGiven_data();
    void showsWhatTheGameWasGiven();
    void staysOutOfFullScreen();
    void everyControlIsNamed();
    void quitClosesTheWindow();
};

void TestStandinWindow::showsWhatTheGameWasGiven_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("resolution");
    QTest::addColumn<bool>("windowed");
    QTest::addColumn<QString>("antiAliasing");
    QTest::addColumn<QString>("shaders");
    QTest::addColumn<QString>("depth");
    QTest::addColumn<QStringList>("listedArguments");

    QTest::newRow("windowed with empty extra pieces")
        << QStringList{"-w1024", "-h768", "-z32", "-t", "-a2", "-f1", "a", "", "b"} << "1024 x 768"
        << true << "2"
        << "1"
        << "32" << QStringList{"«-w1024»", "«-h768»", "«-z32»", "«-t»", "«-a2»",
                               "«-f1»",    "«a»",     "«»",     "«b»"};
    QTest::newRow("full screen, no extras")
        << QStringList{"-w1920", "-h1080", "-z32", "-a0", "-f0"} << "1920 x 1080" << false << "0"
        << "0"
        << "32" << QStringList{"«-w1920»", "«-h1080»", "«-z32»", "«-a0»", "«-f0»"};
    QTest::newRow("resolution missing pieces")
        << QStringList{"-w", "-h"} << "«» x «»" << false << "(not given)"
        << "(not given)"
        << "(not given)" << QStringList{"«-w»", "«-h»"};
    QTest::newRow("nothing at all") << QStringList() << "(not given)" << false << "(not given)"
                                    << "(not given)"
                                    << "(not given)" << QStringList();
    QTest::newRow("spaces and non-ASCII kept")
        << QStringList{" lead", "trail ", "\"Grüße\""} << "(not given)" << false << "(not given)"
        << "(not given)"
        << "(not given)" << QStringList{"« lead»", "«trail »", "«\"Grüße\"»"};
}

void TestStandinWindow::showsWhatTheGameWasGiven()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, resolution);
    QFETCH(bool, windowed);
    QFETCH(QString, antiAliasing);
    QFETCH(QString, shaders);
    QFETCH(QString, depth);
    QFETCH(QStringList, listedArguments);

    const QString cwd = QStringLiteral("/tmp/a dir with spaces/Orvane");
    GameWindow window(parseOrvaneArguments(toStd(arguments)), arguments, cwd);
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvane"));
    QCOMPARE(field(window, "resolution"), resolution);
    QCOMPARE(field(window, "displayMode").startsWith("Windowed"), windowed);
    QCOMPARE(field(window, "displayMode").startsWith("Full screen"), !windowed);
    QCOMPARE(field(window, "antiAliasing"), antiAliasing);
    QCOMPARE(field(window, "shaders"), shaders);
    QCOMPARE(field(window, "colourDepth"), depth);
    QCOMPARE(field(window, "workingDirectory"), cwd);
    QCOMPARE(listed(window), listedArguments);
}

void TestStandinWindow::staysOutOfFullScreen()
{
    const QStringList arguments{"-w640", "-h480", "-z32", "-a0", "-f0"};
    GameWindow window(parseOrvaneArguments(toStd(arguments)), arguments, QStringLiteral("/"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.isFullScreen());
    QVERIFY(field(window, "displayMode").startsWith("Full screen"));
}

void TestStandinWindow::everyControlIsNamed()
{
    GameWindow window(OrvaneOptions(), {QStringLiteral("x")}, QStringLiteral("/"));
    const QList<QWidget *> widgets = window.findChildren<QWidget *>();
    int fields = 0;
    for (QWidget *widget : widgets) {
        const bool isField = !widget->objectName().isEmpty() && qobject_cast<QLabel *>(widget);
        const bool isControl =
            qobject_cast<QAbstractButton *>(widget) || qobject_cast<QListWidget *>(widget);
        if (isField)
            ++fields;
        if (isField || isControl)
            QVERIFY2(!widget->accessibleName().isEmpty(), widget->metaObject()->className());
    }
    QCOMPARE(fields, 6);
}

void TestStandinWindow::quitClosesTheWindow()
{
    GameWindow window(OrvaneOptions(), {}, QStringLiteral("/"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *quit = window.findChild<QPushButton *>(QStringLiteral("quit"));
    QVERIFY(quit);
    QTest::mouseClick(quit, Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestStandinWindow)
#include "tst_standin_window.moc"
