// The game's and the server's command lines, as the game and the server will receive them, and
// the commands a user types for a running server.
#include "CommandLine.h"
#include "ServerCommands.h"

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
    void terminalCommandBytes_data();
    void terminalCommandBytes();
    void commandHistory_data();
    void commandHistory();
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

void CommandLineTest::terminalCommandBytes_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << "say hello" << QByteArray("say hello\n");
    QTest::newRow("empty is a bare line feed") << "" << QByteArray("\n");
    QTest::newRow("spaces and tabs stay") << " kick\tWren " << QByteArray(" kick\tWren \n");
    QTest::newRow("UTF-8") << "say Grüße €"
                           << QByteArray("say Gr\xc3\xbc\xc3\x9f"
                                         "e \xe2\x82\xac\n");
    QTest::newRow("interrupt, end of file, suspend left out")
        << "quit\x03\x04\x1a" << QByteArray("quit\n");
    QTest::newRow("output stop and start left out") << "\x13say\x11" << QByteArray("say\n");
    QTest::newRow("line breaks make no second command")
        << "say a\nexit 3\r" << QByteArray("say aexit 3\n");
    QTest::newRow("erase, kill line, literal next, escape left out")
        << "ab\x7f\x15\x16\x1b[2Jc" << QByteArray("ab[2Jc\n");
    QTest::newRow("C1 controls left out")
        << QStringLiteral("a\u0085b\u009bc") << QByteArray("abc\n");
}

void CommandLineTest::terminalCommandBytes()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, bytes);
    QCOMPARE(::terminalCommandBytes(command), bytes);
}

// Steps on a history and the field it fills: "type TEXT" puts TEXT in the field, "send" hands the
// field's text to the history and clears the field, "up" and "down" walk, "= TEXT" checks the
// field. The last column is what the history keeps.
void CommandLineTest::commandHistory_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("walk back and forth, stopping at both ends")
        << QStringList{"type a", "send", "type b", "send", "type c", "send", "up",   "= c",
                       "up",     "= b",  "up",     "= a",  "up",     "= a",  "down", "= b",
                       "down",   "= c",  "down",   "= ",   "down",   "= "}
        << QStringList{"a", "b", "c"};
    QTest::newRow("the draft comes back past the newest")
        << QStringList{"type a", "send", "type hal", "up", "= a", "down", "= hal"}
        << QStringList{"a"};
    QTest::newRow("an immediate repeat is kept once")
        << QStringList{"type a", "send", "type a", "send", "type b", "send", "type a", "send"}
        << QStringList{"a", "b", "a"};
    QTest::newRow("an empty command is not kept")
        << QStringList{"send", "up", "= ", "type  ", "send"} << QStringList{" "};
    QTest::newRow("nothing to walk")
        << QStringList{"type draft", "up", "= draft", "down", "= draft"} << QStringList{};
    QTest::newRow("a recalled command sent again is the newest")
        << QStringList{"type a", "send", "type b", "send", "up", "up", "= a",
                       "send",   "= ",   "up",     "= a",  "up", "= b"}
        << QStringList{"a", "b", "a"};
    QTest::newRow("a recalled command edited and sent")
        << QStringList{"type a", "send", "up", "type a2", "send", "up", "= a2", "up", "= a"}
        << QStringList{"a", "a2"};
    QTest::newRow("a recalled newest command sent again is kept once")
        << QStringList{"type a", "send", "up", "send", "up", "= a", "up", "= a"}
        << QStringList{"a"};

    QStringList many;
    QStringList kept;
    for (int i = 0; i < CommandHistory::MaxEntries + 5; ++i) {
        many << QStringLiteral("type c%1").arg(i) << QStringLiteral("send");
        if (i >= 5)
            kept << QStringLiteral("c%1").arg(i);
    }
    for (int i = 0; i < CommandHistory::MaxEntries; ++i)
        many << QStringLiteral("up");
    many << QStringLiteral("= c5") << QStringLiteral("up") << QStringLiteral("= c5");
    QTest::newRow("at most 100, the oldest go") << many << kept;
}

void CommandLineTest::commandHistory()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, kept);
    CommandHistory history;
    QString field;
    for (const QString &step : std::as_const(steps)) {
        if (step.startsWith(u"type "))
            field = step.mid(5);
        else if (step == u"send")
            history.add(std::exchange(field, QString()));
        else if (step == u"up")
            field = history.previous(field).value_or(field);
        else if (step == u"down")
            field = history.next().value_or(field);
        else if (step.startsWith(u"= "))
            QVERIFY2(field == step.mid(2),
                     qPrintable(step + QStringLiteral(": field holds ") + field));
        else
            QFAIL(qPrintable(step));
    }
    QCOMPARE(history.entries(), kept);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
