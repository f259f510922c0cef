// The built stand-in, run as a real process the way the launcher and the benchmarks run it.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

namespace {

QString orvanePath()
{
    return qEnvironmentVariable("VELMORA_BUILD_DIR") +
           QStringLiteral("/Orvane/orvane.app/Contents/MacOS/orvane");
}

// The server must not need a display: every run here happens without one.
QProcessEnvironment serverEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVANE_RECORD", "ORVANE_RECORD_TIME"})
        env.remove(QString::fromLatin1(name));
    return env;
}

struct Run
{
    QByteArray out;
    QByteArray err;
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    qint64 pid = 0;
};

// Runs the stand-in to its end; fails the calling test if it does not end by itself.
Run runToEnd(const QStringList &arguments, const QProcessEnvironment &env = serverEnvironment(),
             const QString &workingDirectory = QString())
{
    QProcess process;
    process.setProcessEnvironment(env);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(orvanePath(), arguments);
    Run run;
    if (!process.waitForStarted(30000))
        return run;
    run.pid = process.processId();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    return run;
}

bool endedNormally(const Run &run, int code)
{
    if (run.status == QProcess::NormalExit && run.exitCode == code)
        return true;
    qWarning() << "exit status" << run.status << "code" << run.exitCode << "stderr" << run.err;
    return false;
}

// The output after the banner's closing line.
QByteArray afterBanner(const QByteArray &out)
{
    const QByteArray marker("Server ready.\n");
    const qsizetype at = out.indexOf(marker);
    return at < 0 ? QByteArray("<no banner>") : out.mid(at + marker.size());
}

QJsonObject readRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QStringList strings(const QJsonArray &array)
{
    QStringList out;
    for (const QJsonValue &value : array)
        out << value.toString();
    return out;
}

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

class TestStandinProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void banner_data();
    void banner();
    void linesEndByItself();
    void floodWritesExactlyN();
    void floodThenLog();
    void steeringOutput_data();
    void steeringOutput();
    void runsUntilKilled();
    void endsWhenOutputFails();
    void record_data();
    void record();
    void recordTime();
    void unwritableRecordIsNotFatal();
    void gameModeRecordsAndKeepsRunning();
};

void TestStandinProcess::initTestCase()
{
    QVERIFY2(QFileInfo(orvanePath()).isExecutable(), qPrintable(orvanePath()));
}

void TestStandinProcess::banner_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expectedLines");

    QTest::newRow("launcher's full server line")
        << QStringList{"-d", "--exit", "-nFriday night", "-pHunter2secret", "-c16"}
        << QStringList{"Description: \"Friday night\"", "Password: set", "Client limit: 16",
                       "Extra options: \"--exit\""};
    QTest::newRow("nothing set") << QStringList{"-d", "--exit"}
                                 << QStringList{"Description: none", "Password: none",
                                                "Client limit: none"};
    QTest::newRow("password among the extra options")
        << QStringList{"-d", "-pHunter2secret", "--exit", "--what", "-nX"}
        << QStringList{"Password: set", "Extra options: \"--exit\" \"--what\"",
                       "Unknown options: \"--what\"", "Description: \"X\""};
}

void TestStandinProcess::banner()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expectedLines);

    const Run run = runToEnd(arguments);
    QVERIFY(endedNormally(run, 0));
    QVERIFY2(!run.out.contains("Hunter2secret"), run.out.constData());
    QVERIFY2(!run.err.contains("Hunter2secret"), run.err.constData());
    QVERIFY(run.out.startsWith("Orvane dedicated server"));
    const QStringList lines = QString::fromUtf8(run.out).split('\n');
    for (const QString &expected : expectedLines)
        QVERIFY2(lines.contains(expected), qPrintable(expected + " missing from\n" + run.out));
    // --exit ends right after the banner.
    QCOMPARE(afterBanner(run.out), QByteArray());
}

void TestStandinProcess::linesEndByItself()
{
    const Run run = runToEnd({"-d", "--lines", "12", "--interval", "5", "-c4"});
    QVERIFY(endedNormally(run, 0));
    const QList<QByteArray> lines = afterBanner(run.out).split('\n');
    // Twelve log lines, the closing line, and nothing after the last line feed.
    QCOMPARE(lines.size(), 14);
    for (int i = 0; i < 12; ++i)
        QVERIFY2(lines.at(i).startsWith("[00:00:0") && lines.at(i).contains("/4 players"),
                 lines.at(i).constData());
    QCOMPARE(lines.at(12), QByteArray("Server stopped."));
    QCOMPARE(lines.at(13), QByteArray());
    QVERIFY(lines.at(3).contains("joined"));
    QVERIFY(lines.at(8).contains("left"));
}

void TestStandinProcess::floodWritesExactlyN()
{
    const int count = 200000;
    const Run run = runToEnd({"-d", "--flood", QString::number(count), "--then-exit"});
    QVERIFY(endedNormally(run, 0));
    const QByteArray flood = afterBanner(run.out);
    QVERIFY(flood.endsWith('\n'));
    const QList<QByteArray> lines = flood.left(flood.size() - 1).split('\n');
    QCOMPARE(lines.size(), count);
    // In order and distinct: line i carries counter i + 1.
    for (int i = 0; i < count; ++i) {
        const QByteArray &line = lines.at(i);
        if (line.size() != 60 || line.mid(6, 10).toInt() != i + 1)
            QFAIL(qPrintable(QStringLiteral("line %1: %2").arg(i).arg(QString(line))));
    }
}

void TestStandinProcess::floodThenLog()
{
    const Run run = runToEnd({"-d", "--lines", "2", "--flood", "3", "--interval", "1"});
    QVERIFY(endedNormally(run, 0));
    const QList<QByteArray> lines = afterBanner(run.out).split('\n');
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines.at(2).startsWith("flood 0000000003 "));
    QVERIFY(lines.at(3).startsWith("[00:00:00] heartbeat 1"));
    QVERIFY(lines.at(4).startsWith("[00:00:00] heartbeat 2"));
    QCOMPARE(lines.at(5), QByteArray("Server stopped."));
}

void TestStandinProcess::steeringOutput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("binary") << QStringList{"-d", "--binary", "--exit"} << 0
                            << QByteArray("binary: \x80\xfe\xff caf\xc3\xa9 \xe2\x82\xac end\n");
    QTest::newRow("no newline") << QStringList{"-d", "--no-newline", "partial line", "--exit"} << 0
                                << QByteArray("partial line");
    QTest::newRow("no newline before the flood")
        << QStringList{"-d", "--no-newline", "head:", "--flood", "1", "--then-exit"} << 0
        << QByteArray("head:flood 0000000001 the quick brown fox jumps over the lazy dog\n");
    QTest::newRow("exit code") << QStringList{"-d", "--exit-code", "42"} << 42 << QByteArray();
    QTest::newRow("lines zero") << QStringList{"-d", "--lines", "0"} << 0
                                << QByteArray("Server stopped.\n");
    QTest::newRow("bad count is not fatal")
        << QStringList{"-d", "--flood", "lots", "--exit"} << 0 << QByteArray();
}

void TestStandinProcess::steeringOutput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, expected);

    const Run run = runToEnd(arguments);
    QVERIFY(endedNormally(run, exitCode));
    QCOMPARE(afterBanner(run.out), expected);
}

void TestStandinProcess::runsUntilKilled()
{
    QProcess process;
    process.setProcessEnvironment(serverEnvironment());
    process.start(orvanePath(), {"-d", "--interval", "20"});
    QVERIFY(process.waitForStarted(30000));
    QByteArray out;
    while (afterBanner(out).count('\n') < 5) {
        QVERIFY2(process.waitForReadyRead(30000), out.constData());
        out += process.readAllStandardOutput();
    }
    QCOMPARE(process.state(), QProcess::Running);
    process.kill();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QVERIFY(!out.contains("Server stopped."));
}

void TestStandinProcess::endsWhenOutputFails()
{
    // A server whose terminal has gone must end rather than log into the void for ever.
    QProcess process;
    process.setProcessEnvironment(serverEnvironment());
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(orvanePath(), {"-d", "--interval", "1"});
    QVERIFY(process.waitForStarted(30000));
    const bool finished = process.waitForFinished(60000);
    if (!finished)
        process.kill();
    QVERIFY(finished);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
}

void TestStandinProcess::record_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("empty arguments") << QStringList{"-d", "", "--exit", ""};
    QTest::newRow("spaces") << QStringList{"-d", "-nA  server with  spaces ", " ", "--exit"};
    QTest::newRow("quotes and backslashes")
        << QStringList{"-d", "\"quoted phrase\"", "'single'", "back\\slash", "--exit"};
    QTest::newRow("non-ASCII") << QStringList{"-d", "-nCafé Ørsted ☕", "-pпароль", "--exit"};
    QTest::newRow("control characters") << QStringList{"-d", "tab\there", "line\nbreak", "--exit"};
}

void TestStandinProcess::record()
{
    QFETCH(QStringList, arguments);

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString workingDirectory = temporary.filePath(QStringLiteral("game dir 'q' \"dq\" ü"));
    QVERIFY(QDir().mkpath(workingDirectory));
    const QString recordPath = temporary.filePath(QStringLiteral("record.json"));

    QProcessEnvironment env = serverEnvironment();
    env.insert(QStringLiteral("ORVANE_RECORD"), recordPath);
    const Run run = runToEnd(arguments, env, workingDirectory);
    QVERIFY(endedNormally(run, 0));

    const QJsonObject record = readRecord(recordPath);
    QCOMPARE(strings(record.value("arguments").toArray()), arguments);
    QStringList hex;
    for (const QString &argument : arguments)
        hex << QString::fromLatin1(argument.toUtf8().toHex());
    QCOMPARE(strings(record.value("argumentsHex").toArray()), hex);
    QCOMPARE(record.value("argv0").toString(), orvanePath());
    QCOMPARE(record.value("cwd").toString(), QDir(workingDirectory).canonicalPath());
    QCOMPARE(record.value("mode").toString(), QStringLiteral("server"));
    QCOMPARE(record.value("pid").toInteger(), run.pid);
    QVERIFY(!record.contains("mainStartedNs"));
    // Written through a temporary file: nothing but the record is left in its folder.
    QCOMPARE(QDir(temporary.path()).entryList(QDir::Files), QStringList{"record.json"});
}

void TestStandinProcess::recordTime()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString recordPath = temporary.filePath(QStringLiteral("record.json"));
    QProcessEnvironment env = serverEnvironment();
    env.insert(QStringLiteral("ORVANE_RECORD"), recordPath);
    env.insert(QStringLiteral("ORVANE_RECORD_TIME"), QStringLiteral("1"));

    const qint64 before = monotonicNs();
    const Run run = runToEnd({"-d", "--exit"}, env);
    const qint64 after = monotonicNs();
    QVERIFY(endedNormally(run, 0));
    const qint64 started = readRecord(recordPath).value("mainStartedNs").toInteger(-1);
    QVERIFY2(started > before && started < after, qPrintable(QString::number(started)));
}

void TestStandinProcess::unwritableRecordIsNotFatal()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    QProcessEnvironment env = serverEnvironment();
    env.insert(QStringLiteral("ORVANE_RECORD"), temporary.filePath("missing/record.json"));
    const Run run = runToEnd({"-d", "--exit-code", "3"}, env);
    QVERIFY(endedNormally(run, 3));
    QVERIFY(run.err.contains("missing/record.json"));
    QVERIFY(run.out.contains("Server ready."));
}

void TestStandinProcess::gameModeRecordsAndKeepsRunning()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString recordPath = temporary.filePath(QStringLiteral("record.json"));
    // Extra options that Qt itself would act on must reach the game, not the toolkit.
    const QStringList arguments{"-w1024", "-h768", "-z32",      "-t",      "-a2", "-f1",
                                "a",      "",      "-platform", "nowhere", "b"};

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ORVANE_RECORD"), recordPath);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(temporary.path());
    process.start(orvanePath(), arguments);
    QVERIFY(process.waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(recordPath), 30000);

    const QJsonObject record = readRecord(recordPath);
    QCOMPARE(record.value("mode").toString(), QStringLiteral("game"));
    QCOMPARE(strings(record.value("arguments").toArray()), arguments);
    QCOMPARE(record.value("cwd").toString(), QDir(temporary.path()).canonicalPath());
    QCOMPARE(record.value("pid").toInteger(), process.processId());

    // The same process becomes the window program, which says so once its window is up and then
    // runs until it is closed.
    // The line may have been read already while the record was awaited: take what is there first.
    QByteArray out = process.readAllStandardOutput();
    while (!out.contains('\n')) {
        if (!process.waitForReadyRead(30000))
            QFAIL(process.readAllStandardError().constData());
        out += process.readAllStandardOutput();
    }
    QCOMPARE(out, QByteArray("Orvane started: 1024 x 768, Windowed\n"));
    QCOMPARE(process.state(), QProcess::Running);
    process.kill();
    QVERIFY(process.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(TestStandinProcess)
#include "tst_standin_process.moc"
