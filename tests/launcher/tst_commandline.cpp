// The game's and the server's command lines, as the game and the server will receive them; the
// player's wrapper and environment lines around the game's; the command shown as a shell line; and
// the commands a user types for a running server.
#include "CommandLine.h"
#include "LaunchCommand.h"
#include "ServerCommands.h"
#include "ShellWords.h"

#include <QProcess>
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
    void commandFit();
    void commandHistory_data();
    void commandHistory();
    void wrapperWords_data();
    void wrapperWords();
    void environmentLines_data();
    void environmentLines();
    void shellLine_data();
    void shellLine();
    void playCommand_data();
    void playCommand();
};

namespace {

const QString game = QStringLiteral("/games/Orvane/orvane.app/Contents/MacOS/orvane");

// What `shell` makes of `line` as the arguments of a command: each word it reads, in order.
QStringList wordsAsTheShellReadsThem(const QString &line, const QString &shell = "/bin/sh")
{
    QProcess sh;
    // printf alone would still print one empty word.
    sh.start(shell,
             {QStringLiteral("-c"), "set -- " + line + "\n[ $# -eq 0 ] || printf '%s\\0' \"$@\""});
    if (!sh.waitForFinished(30000) || sh.exitCode() != 0)
        return {QStringLiteral("sh failed: ") + QString::fromUtf8(sh.readAllStandardError())};
    QStringList words;
    for (const QByteArray &word : sh.readAllStandardOutput().split('\0'))
        words << QString::fromUtf8(word);
    words.removeLast(); // after the last terminator
    return words;
}

} // namespace

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

void CommandLineTest::commandFit()
{
    const QString line(MaxTerminalLineBytes, u'x');
    QCOMPARE(::commandFit(line + u'\x03'), CommandFit::Fits); // left out, so not counted
    QCOMPARE(::commandFit(line + u'x'), CommandFit::LongerThanTerminal);
    QCOMPARE(::commandFit(QString(1366, u'€')), CommandFit::LongerThanTerminal); // 4098 bytes
    QCOMPARE(::commandFit(QString(MaxCommandFieldLength, u'x')), CommandFit::FillsField);
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

void CommandLineTest::wrapperWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<int>("problem");
    const int none = int(ShellWords::Problem::None);

    QTest::newRow("empty") << "" << QStringList{} << none;
    QTest::newRow("blanks only") << " \t " << QStringList{} << none;
    QTest::newRow("one program") << "gamemoderun" << QStringList{"gamemoderun"} << none;
    QTest::newRow("program and arguments")
        << "gamescope -W 1920 -H 1080 --"
        << QStringList{"gamescope", "-W", "1920", "-H", "1080", "--"} << none;
    QTest::newRow("runs of blanks and tabs") << "  a \t b  " << QStringList{"a", "b"} << none;
    QTest::newRow("single quotes keep everything")
        << R"('a  b' 'c"d' '\' '$x')" << QStringList{"a  b", "c\"d", "\\", "$x"} << none;
    QTest::newRow("double quotes escape only $ ` \" \\")
        << R"("a b" "it's" "x\"y" "\\" "\$HOME" "\n" "\`")"
        << QStringList{"a b", "it's", "x\"y", "\\", "$HOME", "\\n", "`"} << none;
    QTest::newRow("backslash outside quotes")
        << R"(a\ b c\'d \\ \")" << QStringList{"a b", "c'd", "\\", "\""} << none;
    QTest::newRow("empty words") << R"('' "" x)" << QStringList{"", "", "x"} << none;
    QTest::newRow("quoted pieces join into one word")
        << R"(a'b c'"d e"f)" << QStringList{"ab cd ef"} << none;
    QTest::newRow("escaped shell characters")
        << R"(\$HOME \~ \*.so \;\|\& \>out)" << QStringList{"$HOME", "~", "*.so", ";|&", ">out"}
        << none;
    // Where a shell would expand, redirect or end the command, the text is taken as typed.
    QTest::newRow("unlike a shell: nothing is expanded")
        << "$HOME ~ *.so ;|& >out" << QStringList{"$HOME", "~", "*.so", ";|&", ">out"} << none;
    QTest::newRow("line continuation joins") << "a\\\nb \\\n c" << QStringList{"ab", "c"} << none;
    QTest::newRow("non-ASCII") << "Grüße 'été ☃'" << QStringList{"Grüße", "été ☃"} << none;
    QTest::newRow("single quote left open")
        << "gamescope 'abc" << QStringList{} << int(ShellWords::Problem::UnmatchedSingleQuote);
    QTest::newRow("double quote left open")
        << R"(a "b\")" << QStringList{} << int(ShellWords::Problem::UnmatchedDoubleQuote);
    QTest::newRow("backslash at the end")
        << "a \\" << QStringList{} << int(ShellWords::Problem::TrailingBackslash);
    QTest::newRow("null character") << QString::fromUtf16(u"a\u0000b", 3) << QStringList{}
                                    << int(ShellWords::Problem::NullCharacter);
}

void CommandLineTest::wrapperWords()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QFETCH(int, problem);
    const ShellWords::Split split = ShellWords::split(text);
    QCOMPARE(split.words, words);
    QCOMPARE(int(split.problem), problem);
    // A shell reads the same text into the same words.
    if (problem == int(ShellWords::Problem::None) &&
        !QByteArray(QTest::currentDataTag()).startsWith("unlike a shell"))
        QCOMPARE(wordsAsTheShellReadsThem(text), words);
}

void CommandLineTest::environmentLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QList<int>>("invalid");

    QTest::newRow("empty") << "" << QStringList{} << QList<int>{};
    QTest::newRow("one") << "MANGOHUD=1" << QStringList{"MANGOHUD=1"} << QList<int>{};
    QTest::newRow("CRLF, blank lines, indentation")
        << "DRI_PRIME=1\r\n\n  \t\n\t__NV_PRIME_RENDER_OFFLOAD=1\n"
        << QStringList{"DRI_PRIME=1", "__NV_PRIME_RENDER_OFFLOAD=1"} << QList<int>{};
    QTest::newRow("value taken as written")
        << "A=x=y z \nB=\"q\"\nC=\nD=$HOME" << QStringList{"A=x=y z ", "B=\"q\"", "C=", "D=$HOME"}
        << QList<int>{};
    QTest::newRow("a name given again takes the later value")
        << "A=1\nB=2\nA=3" << QStringList{"A=3", "B=2"} << QList<int>{};
    QTest::newRow("lines that are not NAME=value")
        << "OK=1\nno equals\n=x\n1A=x\nA B=1\nA-B=1\nÄ=1\nA =1\nLAST=2"
        << QStringList{"OK=1", "LAST=2"} << QList<int>{2, 3, 4, 5, 6, 7, 8};
    QTest::newRow("null character")
        << QString::fromUtf16(u"A=x\u0000y\nB=1", 9) << QStringList{"B=1"} << QList<int>{1};
}

void CommandLineTest::environmentLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, variables);
    QFETCH(QList<int>, invalid);
    const EnvironmentLines lines = parseEnvironmentLines(text);
    QStringList got;
    for (const EnvironmentVariable &v : lines.variables)
        got << v.name + u'=' + v.value;
    QCOMPARE(got, variables);
    QCOMPARE(lines.invalidLines, invalid);
}

void CommandLineTest::shellLine_data()
{
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("line");

    QTest::newRow("plain words stay as they are")
        << "" << QStringList{game, "-w1024", "-h768", "-z32", "-t", "-a0", "-f-1"}
        << game + " -w1024 -h768 -z32 -t -a0 -f-1";
    QTest::newRow("harmless punctuation")
        << "" << QStringList{"./run", "--x=a:b,c@d%e+f_g.h/i"} << "./run --x=a:b,c@d%e+f_g.h/i";
    QTest::newRow("spaces and quotes in the path")
        << "" << QStringList{"/My Games/it's \"here\"/orvane", "-w1"}
        << R"('/My Games/it'\''s "here"/orvane' -w1)";
    QTest::newRow("empty argument") << "" << QStringList{game, "", "b"} << game + " '' b";
    QTest::newRow("shell characters")
        << "" << QStringList{game, "$HOME", "*", "a;b",   "a|b", "&",  "`x`", "(x)", "<x>",
                             "!",  "#c",    "~", "{a,b}", "[x]", "x?", "\\",  "\"",  "'"}
        << game + R"( '$HOME' '*' 'a;b' 'a|b' '&' '`x`' '(x)' '<x>' '!' '#c' '~' '{a,b}')" +
               R"( '[x]' 'x?' '\' '"' ''\''')";
    // What a terminal or a text field would act on or change, as escapes of UTF-8 bytes.
    QTest::newRow("controls") << "" << QStringList{game, "a\tb\nc\r", "\x1b[2J\x7f\x01\x66"}
                              << game + R"( $'a\tb\nc\r' $'\x1b[2J\x7f\x01f')";
    QTest::newRow("odd spaces, separators, format characters; quotes in escapes")
        << "A=it's \\ é\u00a0\rx" << QStringList{game, "\u2028\u2029", "\u200b\u202e"}
        << R"(A=$'it\'s \\ é\xc2\xa0\rx' )" + game +
               R"( $'\xe2\x80\xa8\xe2\x80\xa9' $'\xe2\x80\x8b\xe2\x80\xae')";
    QTest::newRow("letters of any script; other characters quoted")
        << "" << QStringList{game, "Jürgen", "Ωμέγα", "☃"} << game + " Jürgen Ωμέγα '☃'";
    QTest::newRow("environment in front")
        << "MANGOHUD=1\nDXVK_HUD=fps,devinfo\nWINE='x y'\nEMPTY=\nHOME_TOO=~/x"
        << QStringList{"gamemoderun", game}
        << R"(MANGOHUD=1 DXVK_HUD=fps,devinfo WINE=''\''x y'\''' EMPTY='' HOME_TOO='~/x' )"
           "gamemoderun " +
               game;
    QTest::newRow("program that looks like an assignment")
        << "" << QStringList{"A=b", game} << "'A=b' " + game;
    QTest::newRow("program with a quote that looks like an assignment")
        << "" << QStringList{"A=it's", game} << R"('A=it'\''s' )" + game;
    QTest::newRow("program that is a reserved word")
        << "" << QStringList{"time", game} << "'time' " + game;
    QTest::newRow("reserved word as an argument")
        << "" << QStringList{game, "time", "if"} << game + " time if";
}

void CommandLineTest::shellLine()
{
    QFETCH(QString, environment);
    QFETCH(QStringList, words);
    QFETCH(QString, line);
    LaunchCommand command;
    command.words = words;
    command.environment = parseEnvironmentLines(environment).variables;
    QCOMPARE(shellCommandLine(command), line);

    // Read back by bash (and dash, where no word needs $'...'): NAME=value words, then words.
    QStringList expected;
    for (const EnvironmentVariable &v : command.environment)
        expected << v.name + u'=' + v.value;
    expected << words;
    QCOMPARE(wordsAsTheShellReadsThem(line, "/bin/bash"), expected);
    if (!line.contains(u"$'"))
        QCOMPARE(wordsAsTheShellReadsThem(line), expected);
}

void CommandLineTest::playCommand_data()
{
    QTest::addColumn<QString>("wrapper");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<bool>("canStart");

    const QStringList args{"-w1024", "-h768", "-z32", "-t", "-a0", "-f0"};
    QTest::newRow("neither set: the game's own command") << ""
                                                         << "" << QStringList{game} + args << true;
    QTest::newRow("blank wrapper, blank lines") << "  "
                                                << "\n \n"
                                                << QStringList{game} + args << true;
    QTest::newRow("wrapper in front")
        << "gamescope -W 1920 -H 1080 --"
        << "MANGOHUD=1" << QStringList{"gamescope", "-W", "1920", "-H", "1080", "--", game} + args
        << true;
    QTest::newRow("wrapper that cannot be read starts nothing") << "prime-run 'oops"
                                                                << "" << QStringList{} << false;
}

void CommandLineTest::playCommand()
{
    QFETCH(QString, wrapper);
    QFETCH(QString, environment);
    QFETCH(QStringList, words);
    QFETCH(bool, canStart);
    const QStringList args = ::gameArguments(QStringLiteral("1024 x 768"), GameSettings{});
    const LaunchCommand command = launchCommand(game, args, wrapper, environment);
    QCOMPARE(command.words, words);
    QCOMPARE(command.canStart(), canStart);
    QCOMPARE(shellCommandLine(command).isEmpty(), !canStart);
    if (environment.trimmed().isEmpty())
        QVERIFY(command.environment.isEmpty());
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
