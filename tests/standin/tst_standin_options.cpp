#include "DedicatedServer.h"
#include "OrvaneOptions.h"
#include "RunRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

std::vector<std::string> toStd(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &item : list)
        out.push_back(item.toStdString());
    return out;
}

QString joined(const std::vector<std::string> &items)
{
    QStringList quoted;
    for (const std::string &item : items)
        quoted.append(QLatin1Char('<') + QString::fromStdString(item) + QLatin1Char('>'));
    return quoted.join(QLatin1Char(' '));
}

// Every field that differs from a default-constructed OrvaneOptions, as "name=value", so that a row
// states all of its outcome and a stray side effect shows up as an unexpected entry.
QStringList describe(const OrvaneOptions &o)
{
    QStringList out;
    const auto text = [&](const char *name, const std::optional<std::string> &value) {
        if (value)
            out << QString::fromLatin1(name) + QLatin1Char('=') + QString::fromStdString(*value);
    };
    const auto count = [&](const char *name, const std::optional<unsigned long long> &value) {
        if (value)
            out << QString::fromLatin1(name) + QLatin1Char('=') + QString::number(*value);
    };
    if (o.server)
        out << QStringLiteral("server");
    text("width", o.width);
    text("height", o.height);
    text("depth", o.colourDepth);
    text("aa", o.antiAliasing);
    text("shaders", o.shaders);
    if (o.windowed)
        out << QStringLiteral("windowed");
    text("description", o.description);
    if (o.passwordSet)
        out << QStringLiteral("password");
    text("clients", o.clientLimit);
    count("flood", o.flood);
    count("lines", o.lines);
    text("noNewline", o.noNewline);
    if (o.binary)
        out << QStringLiteral("binary");
    if (o.exitCode)
        out << QStringLiteral("exit=") + QString::number(*o.exitCode);
    if (o.exitSignal)
        out << QStringLiteral("signal=") + QString::number(*o.exitSignal);
    count("children", o.children);
    if (o.thenExit)
        out << QStringLiteral("thenExit");
    if (o.intervalMs != 1000)
        out << QStringLiteral("interval=") + QString::number(o.intervalMs);
    if (!o.extraOptions.empty())
        out << QStringLiteral("extra=") + joined(o.extraOptions);
    if (!o.unknown.empty())
        out << QStringLiteral("unknown=") + joined(o.unknown);
    for (const std::string &problem : o.problems)
        out << QStringLiteral("problem=") + QString::fromStdString(problem);
    return out;
}

QJsonObject parsedRecord(const RunRecord &record)
{
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(record.toJson()), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "record is not JSON:" << error.errorString();
    return document.object();
}

} // namespace

class TestStandinOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsing_data();
    void parsing();
    void recordRoundTrip_data();
    void recordRoundTrip();
    void recordMembers();
    void bannerNeverShowsPassword();
    void logCyclesThroughJoinAndLeave();
};

void TestStandinOptions::parsing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no arguments") << QStringList() << QStringList();
    QTest::newRow("windowed game with empty extra pieces")
        << QStringList{"-w1024", "-h768", "-z32", "-t", "-a2", "-f1", "a", "", "b"}
        << QStringList{"width=1024",
                       "height=768",
                       "depth=32",
                       "aa=2",
                       "shaders=1",
                       "windowed",
                       "extra=<-w1024> <-h768> <-z32> <-t> <-a2> <-f1> <a> <> <b>",
                       "unknown=<a> <> <b>"};
    QTest::newRow("full screen, negative numbers kept as text")
        << QStringList{"-w800", "-h600", "-z32", "-a-1", "-f-3"}
        << QStringList{"width=800", "height=600", "depth=32",
                       "aa=-1",     "shaders=-3", "extra=<-w800> <-h600> <-z32> <-a-1> <-f-3>"};
    QTest::newRow("resolution texts empty or odd")
        << QStringList{"-w", "-h 768"}
        << QStringList{"width=", "height= 768", "extra=<-w> <-h 768>"};
    QTest::newRow("server with every setting")
        << QStringList{"-d", "--flood", "1000000", "-nMy Server", "-psecret", "-c16"}
        << QStringList{"server",     "description=My Server", "password",
                       "clients=16", "flood=1000000",         "extra=<--flood> <1000000>"};
    QTest::newRow("server, blank description, empty password")
        << QStringList{"-d", "-n   ", "-p"} << QStringList{"server", "description=   "};
    QTest::newRow("last description wins")
        << QStringList{"-d", "-nfirst", "-nsecond"} << QStringList{"server", "description=second"};
    QTest::newRow("equals forms") << QStringList{"--flood=5", "--lines=2", "--interval=0"}
                                  << QStringList{"flood=5", "lines=2", "interval=0",
                                                 "extra=<--flood=5> <--lines=2> <--interval=0>"};
    QTest::newRow("count missing at the end")
        << QStringList{"-d", "--flood"}
        << QStringList{"server", "extra=<--flood>", "problem=--flood needs a count"};
    QTest::newRow("bad counts are consumed, not unknown")
        << QStringList{"--flood", "abc", "--lines", "-5", "--flood", "+3"}
        << QStringList{"extra=<--flood> <abc> <--lines> <-5> <--flood> <+3>",
                       "problem=--flood: \"abc\" is not a count",
                       "problem=--lines: \"-5\" is not a count",
                       "problem=--flood: \"+3\" is not a count"};
    QTest::newRow("count too large")
        << QStringList{"--lines", "99999999999999999999999"}
        << QStringList{"extra=<--lines> <99999999999999999999999>",
                       "problem=--lines: \"99999999999999999999999\" is not a count"};
    QTest::newRow("zero lines") << QStringList{"--lines", "0"}
                                << QStringList{"lines=0", "extra=<--lines> <0>"};
    QTest::newRow("no-newline takes the next argument whatever it is")
        << QStringList{"--no-newline", "--exit", "--binary"}
        << QStringList{"noNewline=--exit", "binary", "extra=<--no-newline> <--exit> <--binary>"};
    QTest::newRow("no-newline without text")
        << QStringList{"--no-newline"}
        << QStringList{"extra=<--no-newline>", "problem=--no-newline needs a text"};
    QTest::newRow("exit and then-exit")
        << QStringList{"--exit", "--then-exit"}
        << QStringList{"exit=0", "thenExit", "extra=<--exit> <--then-exit>"};
    QTest::newRow("exit code") << QStringList{"--exit-code", "7"}
                               << QStringList{"exit=7", "extra=<--exit-code> <7>"};
    QTest::newRow("exit code out of range")
        << QStringList{"--exit-code", "256"}
        << QStringList{"extra=<--exit-code> <256>", "problem=--exit-code: 256 is above 255"};
    QTest::newRow("exit signal and children")
        << QStringList{"--exit-signal", "15", "--children=2"}
        << QStringList{"signal=15", "children=2", "extra=<--exit-signal> <15> <--children=2>"};
    QTest::newRow("exit signal out of range")
        << QStringList{"--exit-signal", "0", "--exit-signal", "65"}
        << QStringList{"extra=<--exit-signal> <0> <--exit-signal> <65>",
                       "problem=--exit-signal: 0 is not a signal",
                       "problem=--exit-signal: 65 is not a signal"};
    QTest::newRow("too many children")
        << QStringList{"--children", "17"}
        << QStringList{"extra=<--children> <17>", "problem=--children: 17 is above 16"};
    QTest::newRow("interval above a day")
        << QStringList{"--interval", "86400001"}
        << QStringList{"extra=<--interval> <86400001>",
                       "problem=--interval: 86400001 is above a day"};
    QTest::newRow("unknown options are kept, not fatal")
        << QStringList{"-d", "--verbose", "-x", "-tx", "-dd", "+foo"}
        << QStringList{"server", "extra=<--verbose> <-x> <-tx> <-dd> <+foo>",
                       "unknown=<--verbose> <-x> <-tx> <-dd> <+foo>"};
}

void TestStandinOptions::parsing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(parseOrvaneArguments(toStd(arguments))), expected);
}

void TestStandinOptions::recordRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("spaces and quotes")
        << QByteArray(" \"quoted phrase\" 'single' ") << QString(" \"quoted phrase\" 'single' ");
    QTest::newRow("backslashes") << QByteArray("C:\\dir\\\\x") << QString("C:\\dir\\\\x");
    QTest::newRow("control characters")
        << QByteArray("tab\there\nnew\x01\x7f") << QString("tab\there\nnew\x01\x7f");
    QTest::newRow("non-ASCII") << QByteArray("Grüße € 𝄞") << QString::fromUtf8("Grüße € 𝄞");
    QTest::newRow("invalid bytes") << QByteArray("a\xff"
                                                 "b\x80"
                                                 "c\xc3")
                                   << QString::fromUtf8("a\xef\xbf\xbd"
                                                        "b\xef\xbf\xbd"
                                                        "c\xef\xbf\xbd");
    QTest::newRow("overlong and surrogate")
        << QByteArray("\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80")
        << QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd|\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|"
                             "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
}

void TestStandinOptions::recordRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    RunRecord record;
    record.arguments = {"first", bytes.toStdString(), "last"};
    record.cwd = bytes.toStdString();
    const QJsonObject object = parsedRecord(record);

    const QJsonArray arguments = object.value("arguments").toArray();
    QCOMPARE(arguments.size(), 3);
    QCOMPARE(arguments.at(1).toString(), text);
    QCOMPARE(object.value("cwd").toString(), text);
    // The hex member keeps exactly the bytes, whatever JSON text could carry.
    const QJsonArray hex = object.value("argumentsHex").toArray();
    QCOMPARE(hex.size(), 3);
    QCOMPARE(QByteArray::fromHex(hex.at(1).toString().toLatin1()), bytes);
    QCOMPARE(hex.at(1).toString(), QString::fromLatin1(bytes.toHex()));
}

void TestStandinOptions::recordMembers()
{
    RunRecord record;
    record.argv0 = "/opt/game dir/orvane";
    record.mode = "server";
    record.pid = 4242;
    QJsonObject object = parsedRecord(record);
    QCOMPARE(object.value("argv0").toString(), QString("/opt/game dir/orvane"));
    QCOMPARE(object.value("mode").toString(), QString("server"));
    QCOMPARE(object.value("pid").toInteger(), 4242);
    QVERIFY(object.value("arguments").isArray());
    QVERIFY(object.value("arguments").toArray().isEmpty());
    QVERIFY(!object.contains("mainStartedNs"));

    // Monotonic nanoseconds exceed 2^53 after about 104 days of uptime; JSON readers that go
    // through doubles would round them, so the value must at least survive as an integer here.
    record.mainStartedNs = 9007199254740993LL;
    object = parsedRecord(record);
    QCOMPARE(object.value("mainStartedNs").toInteger(), 9007199254740993LL);
}

void TestStandinOptions::bannerNeverShowsPassword()
{
    const OrvaneOptions options = parseOrvaneArguments(
        {"-d", "-psw0rdfish", "-nPublic game", "-c8", "--lines", "3", "--bogus"});
    const QString banner = QString::fromStdString(DedicatedServer::banner(options, 77));
    QVERIFY2(!banner.contains("sw0rdfish"), qPrintable(banner));
    const QStringList lines = banner.split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.contains("Description: \"Public game\""));
    QVERIFY(lines.contains("Password: set"));
    QVERIFY(lines.contains("Client limit: 8"));
    QVERIFY(lines.contains("Extra options: \"--lines\" \"3\" \"--bogus\""));
    QVERIFY(lines.contains("Unknown options: \"--bogus\""));
    QCOMPARE(lines.last(), QString("Server ready."));

    const QString bare =
        QString::fromStdString(DedicatedServer::banner(parseOrvaneArguments({"-d"}), 1));
    QVERIFY(bare.contains("Password: none\n"));
    QVERIFY(bare.contains("Description: none\n"));
    QVERIFY(bare.contains("Client limit: none\n"));
    QVERIFY(bare.contains("Extra options: none\n"));
    QVERIFY(!bare.contains("Unknown options"));
}

void TestStandinOptions::logCyclesThroughJoinAndLeave()
{
    QStringList lines;
    for (unsigned long long i = 0; i < 20; ++i)
        lines << QString::fromStdString(DedicatedServer::logLine(i, 3725, "16"));
    for (const QString &line : lines)
        QVERIFY2(line.startsWith("[01:02:05] "), qPrintable(line));
    QCOMPARE(lines.filter("joined").size(), 2);
    QCOMPARE(lines.filter("left").size(), 2);
    QCOMPARE(lines.filter("heartbeat").size(), 16);
    // Whoever joins in a cycle leaves in the same cycle, and the next cycle brings someone else.
    const auto name = [](const QString &line) { return line.section('"', 1, 1); };
    QCOMPARE(name(lines.filter("left").at(0)), name(lines.filter("joined").at(0)));
    QVERIFY(name(lines.filter("joined").at(0)) != name(lines.filter("joined").at(1)));
    QVERIFY(lines.filter("joined").at(0).contains("(1/16 players)"));
    QVERIFY(lines.filter("left").at(0).contains("(0/16 players)"));
    QVERIFY(QString::fromStdString(DedicatedServer::logLine(0, 0, "")).endsWith(": 0 players"));
}

QTEST_GUILESS_MAIN(TestStandinOptions)
#include "tst_standin_options.moc"
