// The server logs on disk: their names, modes, rotation, contents and failures, with real files.
#include "LogFolder.h"
#include "ServerLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QDateTime Start(QDate(2026, 12, 8), QTime(13, 45, 7));

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// A file of `size` bytes that takes no room on disk.
void makeFile(const QString &path, qint64 size = 10)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

const ServerLog::Report ignore = [](const QString &) {};

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}

} // namespace

class TestServerLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fileNames_data();
    void fileNames();
    void defaultFolderFollowsEnvironment();
    void privateFolderAndFile();
    void sameSecondGetsSuffix();
    void rotation_data();
    void rotation();
    void contentsInOrder();
    void growingLogMakesRoom();
    void slowWriterHoldsOutputBack();
    void unwritableFolderSaidOnce();
    void failedWriteSaidOnce();
};

void TestServerLog::fileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isLog");

    QTest::newRow("first of a second") << LogFolder::fileName(Start) << true;
    QTest::newRow("second of a second") << LogFolder::fileName(Start, 2) << true;
    QTest::newRow("tenth") << LogFolder::fileName(Start, 10) << true;
    QTest::newRow("other text") << "notes.txt" << false;
    QTest::newRow("backup of a log") << "2026-12-08T13-45-07.log.bak" << false;
    QTest::newRow("suffix zero") << "2026-12-08T13-45-07-0.log" << false;
    QTest::newRow("no time") << "2026-12-08.log" << false;
    QTest::newRow("colons") << "2026-12-08T13:45:07.log" << false;
}

void TestServerLog::fileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, isLog);
    QCOMPARE(LogFolder::isLogName(name), isLog);
    QCOMPARE(LogFolder::fileName(Start), QStringLiteral("2026-12-08T13-45-07.log"));
    QCOMPARE(LogFolder::fileName(Start, 2), QStringLiteral("2026-12-08T13-45-07-2.log"));
}

void TestServerLog::defaultFolderFollowsEnvironment()
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/state/h\xc3\xa9re");
    QCOMPARE(LogFolder::defaultFolder(),
             QString::fromUtf8("/state/h\xc3\xa9re/Velmora/server-logs"));
    qputenv("XDG_STATE_HOME", "relative/is/ignored");
    QCOMPARE(LogFolder::defaultFolder(),
             QDir::homePath() + QStringLiteral("/.local/state/Velmora/server-logs"));
    qunsetenv("XDG_STATE_HOME");
    QCOMPARE(LogFolder::defaultFolder(),
             QDir::homePath() + QStringLiteral("/.local/state/Velmora/server-logs"));
    qputenv("XDG_STATE_HOME", saved);
}

void TestServerLog::privateFolderAndFile()
{
    QTemporaryDir dir;
    // Whatever the umask lets through, the modes are the log's own.
    const mode_t oldMask = ::umask(0);
    const QString folder = dir.filePath(QStringLiteral("st ate 'é'/Velmora/server-logs"));
    LogWriter writer;
    ServerLog log(writer, folder, Start, ignore);
    ::umask(oldMask);
    QVERIFY(log.isOpen());
    QCOMPARE(log.path(), folder + QStringLiteral("/2026-12-08T13-45-07.log"));
    QCOMPARE(modeOf(folder), mode_t(0700));
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("st ate 'é'/Velmora"))), mode_t(0700));
    QCOMPARE(modeOf(log.path()), mode_t(0600));

    // A folder that was there with looser modes is made private too.
    const QString loose = dir.filePath(QStringLiteral("loose"));
    QVERIFY(QDir().mkpath(loose));
    ::chmod(QFile::encodeName(loose).constData(), 0755);
    ServerLog second(writer, loose, Start, ignore);
    QCOMPARE(modeOf(loose), mode_t(0700));

    // A folder linked elsewhere by the user is used, and its target keeps its modes.
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    ::chmod(QFile::encodeName(elsewhere).constData(), 0755);
    const QString linked = dir.filePath(QStringLiteral("linked"));
    QVERIFY(QFile::link(elsewhere, linked));
    ServerLog third(writer, linked, Start, ignore);
    QVERIFY(third.isOpen());
    QCOMPARE(modeOf(elsewhere), mode_t(0755));
    QCOMPARE(modeOf(third.path()), mode_t(0600));

    // So does a folder reached through a link higher up.
    const QString target = dir.filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target + QStringLiteral("/server-logs")));
    ::chmod(QFile::encodeName(target + QStringLiteral("/server-logs")).constData(), 0750);
    QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("Velmora"))));
    ServerLog fourth(writer, dir.filePath(QStringLiteral("Velmora/server-logs")), Start, ignore);
    QVERIFY(fourth.isOpen());
    QCOMPARE(modeOf(target + QStringLiteral("/server-logs")), mode_t(0750));
}

void TestServerLog::sameSecondGetsSuffix()
{
    QTemporaryDir dir;
    LogWriter writer;
    std::vector<std::unique_ptr<ServerLog>> logs;
    for (int i = 0; i < 3; ++i)
        logs.push_back(std::make_unique<ServerLog>(writer, dir.path(), Start, ignore));
    QCOMPARE(QFileInfo(logs[1]->path()).fileName(), QStringLiteral("2026-12-08T13-45-07-2.log"));
    QCOMPARE(QFileInfo(logs[2]->path()).fileName(), QStringLiteral("2026-12-08T13-45-07-3.log"));
    // Oldest first: the suffix counts, as a number.
    for (int i = 4; i <= 10; ++i)
        makeFile(dir.filePath(LogFolder::fileName(Start, i)));
    const QStringList order = LogFolder::logsOldestFirst(dir.path());
    QCOMPARE(QFileInfo(order.last()).fileName(), LogFolder::fileName(Start, 10));
    QCOMPARE(QFileInfo(order.first()).fileName(), LogFolder::fileName(Start));
    QCOMPARE(LogFolder::newestLog(dir.path()), order.last());
}

void TestServerLog::rotation_data()
{
    QTest::addColumn<int>("existing"); // logs there before, a minute apart, oldest first
    QTest::addColumn<qint64>("size");  // bytes each
    QTest::addColumn<int>("kept");     // of the existing ones, the newest that remain

    const qint64 MiB = 1024 * 1024;
    QTest::newRow("a few small logs") << 5 << qint64(100) << 5;
    QTest::newRow("19 logs: room for the new one") << 19 << qint64(100) << 19;
    QTest::newRow("25 logs: the newest 19 stay") << 25 << qint64(100) << 19;
    QTest::newRow("three of 40 MiB: two fit") << 3 << 40 * MiB << 2;
    QTest::newRow("one of 101 MiB: removed") << 1 << 101 * MiB << 0;
    QTest::newRow("exactly 100 MiB stays") << 4 << 25 * MiB << 4;
    QTest::newRow("the oldest is being written: spared") << 25 << qint64(100) << 18;
}

void TestServerLog::rotation()
{
    QFETCH(int, existing);
    QFETCH(qint64, size);
    QFETCH(int, kept);

    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < existing; ++i) {
        names << LogFolder::fileName(Start.addSecs(-60 * (existing - i)));
        makeFile(dir.filePath(names.last()), size);
    }
    // Not ours: other files, a link named like a log, and a folder named like one.
    const QStringList foreign{
        QStringLiteral("notes.txt"), QStringLiteral("2000-01-01T00-00-00.log.bak"),
        QStringLiteral("2000-01-01T00-00-00.log"), QStringLiteral("2000-01-01T00-00-01.log")};
    makeFile(dir.filePath(foreign[0]));
    makeFile(dir.filePath(foreign[1]));
    QVERIFY(QFile::link(dir.filePath(foreign[0]), dir.filePath(foreign[2])));
    QVERIFY(QDir(dir.path()).mkdir(foreign[3]));

    // Another launcher writing the oldest log holds its lock: that log stays, whatever its age.
    const bool writing = QByteArray(QTest::currentDataTag()).contains("being written");
    const int other = writing ? ::open(QFile::encodeName(dir.filePath(names.first())).constData(),
                                       O_WRONLY | O_CLOEXEC)
                              : -1;
    if (writing)
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);

    LogWriter writer;
    ServerLog log(writer, dir.path(), Start, ignore);
    QVERIFY(log.isOpen());
    if (writing)
        ::close(other);

    QStringList expected = names.mid(existing - kept);
    if (writing)
        expected << names.first();
    expected << LogFolder::fileName(Start) << foreign[0] << foreign[1] << foreign[2];
    expected.sort();
    QCOMPARE(namesIn(dir.path()), expected);
    QVERIFY(QFileInfo(dir.filePath(foreign[3])).isDir());
}

void TestServerLog::contentsInOrder()
{
    QTemporaryDir dir;
    QString path;
    QString expected;
    {
        LogWriter writer;
        ServerLog log(writer, dir.path(), Start, ignore);
        path = log.path();
        log.appendLine(QStringLiteral("first"));
        log.append(QStringLiteral("caf\u00e9 "));
        log.append(QStringLiteral("half"));
        log.appendLine(QStringLiteral(" ")); // starts a line of its own
        QString big;
        for (int i = 0; i < 30000; ++i)
            big += QStringLiteral("line %1 of a long run\n").arg(i);
        log.append(big);
        log.append(QStringLiteral("tail"));
        expected = QStringLiteral("first\ncaf\u00e9 half\n \n") + big + QStringLiteral("tail");
        // The log and then the writer go: everything handed over is written.
    }
    QCOMPARE(readAll(path), expected);
}

void TestServerLog::growingLogMakesRoom()
{
    QTemporaryDir dir;
    const QString oldest = dir.filePath(LogFolder::fileName(Start.addSecs(-120)));
    const QString older = dir.filePath(LogFolder::fileName(Start.addSecs(-60)));
    makeFile(oldest, 50 * 1024 * 1024 - 1000);
    makeFile(older, 50 * 1024 * 1024 - 1000);
    {
        LogWriter writer;
        ServerLog log(writer, dir.path(), Start, ignore);
        QVERIFY(QFile::exists(oldest));
        log.append(QString(3000, u'x'));
        log.flush();
    }
    // The run wrote past the budget: the oldest log made room, the next one stays.
    QVERIFY(!QFile::exists(oldest));
    QVERIFY(QFile::exists(older));
}

void TestServerLog::slowWriterHoldsOutputBack()
{
    QTemporaryDir dir;
    QString path;
    const QString big = QString(int(ServerLog::MaxBehind), u'x') + u'\n';
    {
        LogWriter writer;
        ServerLog log(writer, dir.path(), Start, ignore);
        path = log.path();
        QSemaphore held;
        writer.post([&held] { held.acquire(); });
        log.append(big);
        QVERIFY(log.isBehind());
        int resumed = 0;
        log.whenCaughtUp([&resumed] { ++resumed; });
        QTest::qWait(50);
        QCOMPARE(resumed, 0);
        held.release();
        QTRY_COMPARE(resumed, 1);
        log.whenCaughtUp([&resumed] { ++resumed; });
        QCOMPARE(resumed, 2); // not behind: at once
    }
    QCOMPARE(readAll(path), big);
}

void TestServerLog::unwritableFolderSaidOnce()
{
    QTemporaryDir dir;
    // A file where a folder should be: not even root can make the folder.
    makeFile(dir.filePath(QStringLiteral("state")));
    const QString folder = dir.filePath(QStringLiteral("state/Velmora/server-logs"));
    LogWriter writer;
    QStringList failed;
    ServerLog log(writer, folder, Start, [&failed](const QString &message) { failed << message; });
    QVERIFY(!log.isOpen());
    QVERIFY(log.path().isEmpty());
    log.append(QStringLiteral("lost\n"));
    log.flush();
    QTRY_COMPARE(failed.size(), 1);
    QTest::qWait(50);
    QCOMPARE(failed.size(), 1);
    const QString message = failed.first();
    QVERIFY2(message.contains(folder) && message.contains(QStringLiteral("Not a directory")),
             qPrintable(message));
    QCOMPARE(namesIn(dir.path()), QStringList{QStringLiteral("state")});
}

void TestServerLog::failedWriteSaidOnce()
{
    // A file size limit makes the disk refuse the writes, as a full one would.
    QTemporaryDir dir;
    struct rlimit saved = {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);

    QString path;
    QStringList messages;
    {
        LogWriter writer;
        {
            ServerLog log(writer, dir.path(), Start,
                          [&messages](const QString &message) { messages << message; });
            QVERIFY(log.isOpen());
            path = log.path();
            for (int i = 0; i < 20; ++i)
                log.append(QString(1000, u'a') + u'\n');
            // The run ends before the writer has met the limit: the failure is still told.
        }
        QTRY_COMPARE(messages.size(), 1);
        QTest::qWait(300);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages.first().contains(path), qPrintable(messages.first()));
    // What fitted stays; nothing beyond the limit.
    QVERIFY(QFileInfo(path).size() <= 4096);
    QVERIFY(QFileInfo(path).size() > 0);
}

QTEST_GUILESS_MAIN(TestServerLog)
#include "tst_ServerLog.moc"
