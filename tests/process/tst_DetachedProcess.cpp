// Starting a program that outlives the launcher: where it runs, what it inherits, the environment
// added to it, how a program named without a slash is found, how a failed start is reported, and
// that an ended program is not left as a zombie.
#include "DetachedProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class DetachedProcessTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void runsWhereAndAsAsked();
    void failuresAreReported_data();
    void failuresAreReported();
    void endedProgramIsReaped();
    void environmentIsAddedAndReplaces();
    void lookupOnPath_data();
    void lookupOnPath();

private:
    QTemporaryDir m_dir;
};

static QString readWhenThere(const QString &file)
{
    if (!QTest::qWaitFor([&] { return QFileInfo(file).size() > 0; }, 10000))
        return QString();
    QTest::qWait(50); // the script writes it in one go; let it finish
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void DetachedProcessTest::runsWhereAndAsAsked()
{
    const QString dir = m_dir.filePath(QStringLiteral("game dir 'q' ü"));
    QVERIFY(QDir().mkpath(dir));
    const QString out = m_dir.filePath(QStringLiteral("out.txt"));
    // A descriptor of ours without close-on-exec: the program must not get it.
    const int leaky = ::open("/dev/null", O_RDONLY);
    QVERIFY(leaky > 2);

    const QString script = QStringLiteral(
        "{ pwd; printf '%s|' \"$@\"; echo; ls /proc/self/fd | sort -n | tr '\\n' ' '; echo;"
        " [ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ] && echo own-session; } > \"$0.tmp\";"
        " mv \"$0.tmp\" \"$0\"");
    const pid_t pid = *DetachedProcess::start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), script, out, QString(), QStringLiteral("a b")}, dir);
    ::close(leaky);
    QVERIFY(pid > 0);
    const QStringList lines = readWhenThere(out).split(u'\n');
    QCOMPARE(lines.value(0), dir);
    QCOMPARE(lines.value(1), QStringLiteral("|a b|")); // the empty argument arrives empty
    // What the program passes on to its own children: 0, 1, 2 and the one ls itself opens to read
    // the folder. (The shell's own table also holds its pipes and saved descriptors, which come
    // and go while the pipeline starts.)
    QVERIFY2(lines.value(2).trimmed().split(u' ').size() <= 4, qPrintable(lines.value(2)));
    QVERIFY2(!lines.value(2).split(u' ').contains(QString::number(leaky)),
             qPrintable(lines.value(2)));
    QCOMPARE(lines.value(3), QStringLiteral("own-session"));
}

void DetachedProcessTest::failuresAreReported_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<int>("error");
    const QString plain = m_dir.filePath(QStringLiteral("plain file"));
    QFile file(plain);
    if (file.open(QIODevice::WriteOnly))
        file.write("#!/bin/sh\n");
    QTest::newRow("missing program")
        << m_dir.filePath(QStringLiteral("nothing here")) << m_dir.path() << int(ENOENT);
    QTest::newRow("not executable") << plain << m_dir.path() << int(EACCES);
    QTest::newRow("missing directory")
        << QStringLiteral("/bin/true") << m_dir.filePath(QStringLiteral("gone")) << int(ENOENT);
}

void DetachedProcessTest::failuresAreReported()
{
    QFETCH(QString, program);
    QFETCH(QString, directory);
    QFETCH(int, error);
    const SysResult<pid_t> started = DetachedProcess::start(program, {}, directory);
    QVERIFY(!started);
    QCOMPARE(started.error(), error);
}

void DetachedProcessTest::endedProgramIsReaped()
{
    const SysResult<pid_t> started =
        DetachedProcess::start(QStringLiteral("/bin/true"), {}, m_dir.path());
    QVERIFY(started);
    const pid_t pid = *started;
    // Reaped while we keep running: the process entry goes away, no zombie stays.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)), 10000);
}

void DetachedProcessTest::environmentIsAddedAndReplaces()
{
    qputenv("VELMORA_KEPT", "kept");
    qputenv("VELMORA_REPLACED", "old");
    const QString out = m_dir.filePath(QStringLiteral("env.txt"));
    const QString script =
        QStringLiteral("{ printf '%s|' \"$VELMORA_KEPT\" \"$VELMORA_REPLACED\" \"$VELMORA_ADDED\";"
                       " env | grep -c '^VELMORA_REPLACED='; } > \"$0.tmp\"; mv \"$0.tmp\" \"$0\"");
    const pid_t pid = *DetachedProcess::start(
        {QStringLiteral("sh"), QStringLiteral("-c"), script, out}, m_dir.path(),
        {{QStringLiteral("VELMORA_REPLACED"), QStringLiteral("new")},
         {QStringLiteral("VELMORA_ADDED"), QStringLiteral("a b=c")}});
    qunsetenv("VELMORA_KEPT");
    qunsetenv("VELMORA_REPLACED");
    QVERIFY(pid > 0);
    QCOMPARE(readWhenThere(out), QStringLiteral("kept|new|a b=c|1\n"));
}

void DetachedProcessTest::lookupOnPath_data()
{
    QTest::addColumn<QString>("searchPath");
    QTest::addColumn<QString>("found");

    // bin/prog is a folder, one/prog is not executable, two/prog and the working folder's prog are.
    const QString base = m_dir.filePath(QStringLiteral("lookup"));
    for (const char *dir : {"bin/prog", "one", "two", "work"})
        QDir().mkpath(base + u'/' + QLatin1String(dir));
    const auto file = [&](const char *path, bool executable) {
        QFile f(base + u'/' + QLatin1String(path));
        if (f.open(QIODevice::WriteOnly))
            f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
        return f.fileName();
    };
    file("one/prog", false);
    const QString two = file("two/prog", true);
    const QString work = file("work/prog", true);

    QTest::newRow("first executable file wins")
        << base + "/bin:" + base + "/one:" + base + "/two:" + base + "/work" << two;
    QTest::newRow("empty entry is the working folder") << base + "/one::" + base + "/two" << work;
    QTest::newRow("relative entry counts from the working folder") << "../two" << two;
    QTest::newRow("nowhere") << base + "/one:" + base + "/bin" << QString();
}

void DetachedProcessTest::lookupOnPath()
{
    QFETCH(QString, searchPath);
    QFETCH(QString, found);
    const QString work = m_dir.filePath(QStringLiteral("lookup/work"));
    // Where a start finds it is what the Main pane tells as the wrapper is typed.
    const DetachedProcess::Environment path{{QStringLiteral("PATH"), searchPath}};
    QCOMPARE(QFileInfo(DetachedProcess::findProgram(QStringLiteral("prog"), work, path))
                 .canonicalFilePath(),
             QFileInfo(found).canonicalFilePath());
    // Started by name, the program is looked up on the PATH the environment gives it.
    const SysResult<pid_t> started = DetachedProcess::start({QStringLiteral("prog")}, work, path);
    QCOMPARE(started.ok(), !found.isEmpty());
    QCOMPARE(started.error(), found.isEmpty() ? ENOENT : 0);
}

QTEST_GUILESS_MAIN(DetachedProcessTest)
#include "tst_DetachedProcess.moc"
