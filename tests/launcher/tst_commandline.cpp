// The game's and the server's command lines, as the game and the server will receive them.
#include "CommandLine.h"

#include <QTest>

class CommandLineTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void gameArguments_data();
    void gameArguments();
    void resolutionTitles_data();
    void resolutionTitles();
    void serverArguments_data();
    void serverArguments();
};

void CommandLineTest::gameArguments_data()
{
    QTest::addColumn<int>("fullscreen");
    QTest::addColumn<int>("fsaa");
    QTest::addColumn<int>("shader");
    QTest::addColumn<QString>("advanced");
    QTest::addColumn<QStringList>("expected");

    const QString e; // an empty argument
    QTest::newRow("worked example, windowed")
        << 0 << 2 << 1 << "a  b"
        << QStringList{"-w1024", "-h768", "-z32", "-t", "-a2", "-f1", "a", e, "b"};
    QTest::newRow("worked example, full screen")
        << 1 << 2 << 1 << "" << QStringList{"-w1024", "-h768", "-z32", "-a2", "-f1"};
    QTest::newRow("factory settings")
        << 0 << 0 << 0 << "" << QStringList{"-w1024", "-h768", "-z32", "-t", "-a0", "-f0"};
    QTest::newRow("negative full screen is full screen")
        << -3 << 0 << 0 << "" << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0"};
    QTest::newRow("negative numbers pass as they are")
        << 1 << -1 << -7 << "" << QStringList{"-w1024", "-h768", "-z32", "-a-1", "-f-7"};
    QTest::newRow("one space gives two empty arguments")
        << 1 << 0 << 0 << " " << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0", e, e};
    QTest::newRow("leading space")
        << 1 << 0 << 0 << " x" << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0", e, "x"};
    QTest::newRow("trailing space")
        << 1 << 0 << 0 << "x " << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0", "x", e};
    QTest::newRow("quotes do not group")
        << 1 << 0 << 0 << "-name \"Big Bob\""
        << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0", "-name", "\"Big", "Bob\""};
    QTest::newRow("tabs stay inside a piece")
        << 1 << 0 << 0 << "a\tb c"
        << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0", "a\tb", "c"};
}

void CommandLineTest::gameArguments()
{
    QFETCH(int, fullscreen);
    QFETCH(int, fsaa);
    QFETCH(int, shader);
    QFETCH(QString, advanced);
    QFETCH(QStringList, expected);
    const GameSettings settings{fullscreen, fsaa, shader, advanced};
    QCOMPARE(::gameArguments(QStringLiteral("1024 x 768"), settings), expected);
}

void CommandLineTest::resolutionTitles_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::newRow("plain") << "1440 x 900"
                           << "-w1440"
                           << "-h900";
    QTest::newRow("text copied, not parsed") << "0800 x 0600"
                                             << "-w0800"
                                             << "-h0600";
    QTest::newRow("more than two pieces") << "1 x 2 x 3"
                                          << "-w1"
                                          << "-h2";
    QTest::newRow("no separator") << "1024x768"
                                  << "-w1024x768"
                                  << "-h";
    QTest::newRow("no selection") << QString() << "-w"
                                  << "-h";
}

void CommandLineTest::resolutionTitles()
{
    QFETCH(QString, title);
    QFETCH(QString, width);
    QFETCH(QString, height);
    const QStringList args = ::gameArguments(title, GameSettings{1, 0, 0, QString()});
    QCOMPARE(args.size(), 5);
    QCOMPARE(args.at(0), width);
    QCOMPARE(args.at(1), height);
}

void CommandLineTest::serverArguments_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("maxClients");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QByteArray path = "/games/My Game/Orvane/orvane.app/Contents/MacOS/orvane";
    QTest::newRow("nothing set") << ""
                                 << ""
                                 << "" << 0 << QList<QByteArray>{path, "-d"};
    QTest::newRow("everything set, in order")
        << "+map arena"
        << "Bob's server"
        << "s3cret" << 16
        << QList<QByteArray>{path, "-d", "+map", "arena", "-nBob's server", "-ps3cret", "-c16"};
    QTest::newRow("empty pieces dropped") << "  a   b  "
                                          << ""
                                          << "" << 0 << QList<QByteArray>{path, "-d", "a", "b"};
    QTest::newRow("only spaces adds nothing") << "   "
                                              << ""
                                              << "" << 0 << QList<QByteArray>{path, "-d"};
    QTest::newRow("blank description is passed")
        << ""
        << "  "
        << "" << 0 << QList<QByteArray>{path, "-d", "-n  "};
    QTest::newRow("inner spaces stay in one argument")
        << ""
        << ""
        << "open sesame" << 0 << QList<QByteArray>{path, "-d", "-popen sesame"};
    QTest::newRow("tabs and quotes stay inside pieces")
        << "a\tb \"x y\""
        << ""
        << "" << 0 << QList<QByteArray>{path, "-d", "a\tb", "\"x", "y\""};
    QTest::newRow("password of one space") << ""
                                           << ""
                                           << " " << 0 << QList<QByteArray>{path, "-d", "-p "};
    QTest::newRow("no limit below one") << ""
                                        << ""
                                        << "" << -5 << QList<QByteArray>{path, "-d"};
    QTest::newRow("non-ASCII as UTF-8") << "--motd=Grüße"
                                        << "Café"
                                        << "" << 1
                                        << QList<QByteArray>{path, "-d",
                                                             "--motd=Gr\xc3\xbc\xc3\x9f"
                                                             "e",
                                                             "-nCaf\xc3\xa9", "-c1"};
}

void CommandLineTest::serverArguments()
{
    QFETCH(QString, options);
    QFETCH(QString, description);
    QFETCH(QString, password);
    QFETCH(int, maxClients);
    QFETCH(QList<QByteArray>, expected);
    const ServerSettings settings{options, description, password, maxClients};
    QCOMPARE(::serverArguments(expected.first(), settings), expected);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
