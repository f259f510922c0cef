// What reaches the console and the log, and what stays behind, when a server is stopped, cycled or
// given a password, driven through the whole launcher window with real children.
#include "LauncherFixture.h"

#include "ConsoleView.h"
#include "LogFolder.h"
#include "Preferences.h"
#include "ProcessTestSupport.h"
#include "ServerRun.h"
#include "ServerTestSupport.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "UrlRecorder.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <sys/stat.h>

using namespace LauncherFixture;
using ProcessTestSupport::childProcesses;
using ProcessTestSupport::openDescriptors;
using namespace ServerTestSupport;

class ServerOutputTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { clearPreferences(); }
    void cleanup();

    void outputAfterStop_data();
    void outputAfterStop();
    void cyclesLeaveNothingBehind();
    void logHoldsWhatTheConsoleShowed();
    void logMenuItemsAndUnwritableFolder();
    void passwordStaysPrivate_data();
    void passwordStaysPrivate();

private:
    QTemporaryDir m_dir;
    QString m_launcher; // a launcher folder with the stand-in
};

void ServerOutputTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_launcher = makeLauncherFolder(m_dir.filePath(QStringLiteral("plain")));
}

void ServerOutputTest::cleanup()
{
    // Whatever a failed test left running: killed and reaped before the next test counts.
    if (!QTest::qWaitFor([] { return childProcesses().isEmpty(); }, Patience))
        qWarning("child processes still alive after the test");
}

// Output still in the terminal after Stop is shown after the separator, and its end adds nothing.
void ServerOutputTest::outputAfterStop_data()
{
    QTest::addColumn<bool>("flood");
    QTest::newRow("writer that outlives the server") << false;
    QTest::newRow("flood") << true;
}

void ServerOutputTest::outputAfterStop()
{
    QFETCH(bool, flood);
    QString exe = m_launcher;
    if (flood) {
        storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--flood 1000000000")}});
    } else {
        exe = makeLauncherFolderWithGame(m_dir.filePath(QStringLiteral("after stop")),
                                         serverScript(QStringLiteral("after-stop.sh")));
    }
    const auto w = openWindow(exe);
    w->launcher()->multiplayerAction();
    const pid_t pid = w->launcher()->server();
    QVERIFY(pid > 0);
    QVERIFY(QTest::qWaitFor([&] { return lines(*w).size() > (flood ? 20 : 0); }, Patience));

    w->launcher()->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(lines(*w).last(), Separator);
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(w->launcher()->server(), pid_t(-1));

    const QStringList all = lines(*w);
    if (flood) {
        // The console keeps 201 lines, so a long tail may have pushed the separator out. The
        // separator closes the line being written at Stop, so the rest of that line has a row of
        // its own: the last row is the separator (the terminal held nothing more at Stop) or
        // some piece of a flood line.
        QVERIFY(all.count(Separator) <= 1);
        QString last = all.last();
        last.replace(QRegularExpression(QStringLiteral("\\d")), QStringLiteral("0"));
        QVERIFY2(last == Separator ||
                     QStringLiteral("flood 0000000000 the quick brown fox jumps over the lazy dog")
                         .contains(last),
                 qPrintable(all.last()));
    } else {
        QCOMPARE(all, (QStringList{"serving", Separator, "after 1", "after 2", "after 3"}));
    }
}

// What the window adds to a run, its log above all, is closed again after each cycle. Many cycles
// of the runs themselves are tst_ServerRunLifecycle's.
void ServerOutputTest::cyclesLeaveNothingBehind()
{
    const auto w = openWindow(m_launcher);
    Launcher *launcher = w->launcher();
    // One cycle first: the event dispatcher and friends open what they keep for good.
    launcher->multiplayerAction();
    launcher->multiplayerAction();
    QVERIFY(drained(*w));
    // A run's log is closed once its writer has caught up, shortly after the run is gone.
    const QString logs = LogFolder::defaultFolder();
    const auto logsClosed = [&logs] {
        const QStringList open = openDescriptors().values();
        return std::none_of(open.begin(), open.end(),
                            [&logs](const QString &target) { return target.startsWith(logs); });
    };
    QVERIFY(QTest::qWaitFor(logsClosed, Patience));
    const QMap<int, QString> before = openDescriptors();

    for (int i = 0; i < 6; ++i) {
        launcher->multiplayerAction();
        QVERIFY(launcher->server() > 0);
        // Every other run is killed before it could write, the rest once it has spoken.
        if (i % 2) {
            QVERIFY(waitForLine(*w, QStringLiteral("Orvane dedicated server (stand-in), pid %1")
                                        .arg(launcher->server())));
        }
        launcher->multiplayerAction();
        QCOMPARE(launcher->server(), pid_t(-1));
        QVERIFY2(drained(*w), qPrintable(QStringLiteral("cycle %1").arg(i)));
    }
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(childProcesses(), (QMap<pid_t, char>()));
    QVERIFY(QTest::qWaitFor(logsClosed, Patience));
    QCOMPARE(openDescriptors().keys(), before.keys());
}

// The run's log holds what the console showed, the exit-status and separator lines included, as
// private text, and is the log Open Log opens. Decoding and escape sequences are the decoder's and
// the console's tests; this run's invalid bytes show only that its output goes through both.
void ServerOutputTest::logHoldsWhatTheConsoleShowed()
{
    storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--binary --then-exit")}});
    const auto w = openWindow(m_launcher);
    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server() > 0);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QVERIFY(drained(*w));
    const QStringList shown = lines(*w);
    QCOMPARE(shown.mid(shown.size() - 3),
             (QStringList{QStringLiteral("binary: \uFFFD\uFFFD\uFFFD café € end"),
                          QStringLiteral("Server exited normally"), Separator}));
    // The launcher's own rows are drawn apart from the server's.
    const ConsoleModel &model = w->interface->serverUi().console->model();
    QCOMPARE(model.kind(model.lineCount() - 3), ConsoleModel::RowKind::Output);
    QCOMPARE(model.kind(model.lineCount() - 2), ConsoleModel::RowKind::Note);
    QCOMPARE(model.kind(model.lineCount() - 1), ConsoleModel::RowKind::Separator);

    const QStringList logs = LogFolder::logsOldestFirst(LogFolder::defaultFolder());
    QVERIFY(!logs.isEmpty());
    QCOMPARE(w->launcher()->logToOpen(), logs.last());
    QFile log(logs.last());
    QCOMPARE(log.permissions() &
                 ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
             QFile::Permissions());
    QString logged;
    // Written on the log's own thread: it catches up shortly after the run is over.
    const bool complete = QTest::qWaitFor(
        [&] {
            log.open(QIODevice::ReadOnly);
            logged = QString::fromUtf8(log.readAll());
            log.close();
            return logged.endsWith(u'\n' + Separator + u'\n');
        },
        Patience);
    QVERIFY2(complete, qPrintable(logged));
    QCOMPARE(logged, shown.join(u'\n') + u'\n');
}

void ServerOutputTest::logMenuItemsAndUnwritableFolder()
{
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    UrlRecorder viewer;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "openUrl");

    const auto w = openWindow(m_launcher);
    Launcher *launcher = w->launcher();
    QAction *openLog = launcher->openLogMenuItem();
    QAction *showFolder = launcher->showLogFolderMenuItem();
    ConsoleView *console = w->interface->serverUi().console;
    for (QAction *action : {openLog, showFolder}) {
        QVERIFY(w->interface->ui().menuEdit->actions().contains(action));
        QVERIFY(console->actions().contains(action));
    }
    launcher->updateLogActions();
    QVERIFY(!openLog->isEnabled());
    QVERIFY(!showFolder->isEnabled());

    launcher->multiplayerAction();
    QVERIFY(waitForLine(*w, QStringLiteral("Server ready.")));
    QVERIFY(openLog->isEnabled());
    QVERIFY(showFolder->isEnabled());
    const QString folder = state.filePath(QStringLiteral("Velmora/server-logs"));
    const QStringList logs = LogFolder::logsOldestFirst(folder);
    QCOMPARE(logs.size(), 1);
    openLog->trigger();
    showFolder->trigger();
    QCOMPARE(viewer.urls,
             (QList<QUrl>{QUrl::fromLocalFile(logs.first()), QUrl::fromLocalFile(folder)}));
    launcher->multiplayerAction();
    QVERIFY(drained(*w));

    // A file where the folder should be: the console says so once and the server runs on.
    QTemporaryDir blocked;
    QFile file(blocked.filePath(QStringLiteral("Velmora")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_STATE_HOME", QFile::encodeName(blocked.path()));
    console->deleteLines();
    launcher->multiplayerAction();
    const pid_t pid = launcher->server();
    QVERIFY(pid > 0);
    const auto said = [&] {
        return lines(*w).filter(QStringLiteral("Can't create the server log folder")).size();
    };
    QVERIFY(QTest::qWaitFor([&] { return said() > 0; }, Patience));
    QVERIFY(waitForLine(*w, QStringLiteral("Server ready.")));
    QTest::qWait(200);
    QCOMPARE(said(), 1);
    QCOMPARE(launcher->server(), pid);
    QVERIFY(!showFolder->isEnabled() || QFileInfo(LogFolder::defaultFolder()).isDir());
    launcher->multiplayerAction();
    QVERIFY(drained(*w));
    QCOMPARE(QDir(blocked.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Velmora")});

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    qputenv("XDG_STATE_HOME", savedState);
}

void ServerOutputTest::passwordStaysPrivate_data()
{
    QTest::addColumn<bool>("openFileBefore"); // a preferences file that others could read
    QTest::newRow("new preferences file") << false;
    QTest::newRow("world-readable file from before") << true;
}

void ServerOutputTest::passwordStaysPrivate()
{
    QFETCH(bool, openFileBefore);
    const QString secret = QStringLiteral("s3cret-Passw0rd");
    const QString file = preferencesFile();
    if (openFileBefore) {
        storePreferences({{SettingsKeys::serverDescription, QStringLiteral("Old")}});
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    } else {
        QFile::remove(file);
    }

    const auto w = openWindow(m_launcher);
    MessageCapture capture;
    QLineEdit *edit = w->interface->serverUi().serverPasswordEdit;
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->interface->window()));
    edit->setFocus();
    QTest::keyClicks(edit, secret);
    w->interface->binding()->commitEditing();
    QCOMPARE(Preferences().stringForKey(SettingsKeys::serverPassword), secret);
    struct stat info = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));

    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server() > 0);
    QVERIFY(waitForLine(*w, QStringLiteral("Password: set")));
    w->launcher()->multiplayerAction();
    QVERIFY(drained(*w));

    for (const QString &line : lines(*w))
        QVERIFY2(!line.contains(secret), qPrintable(line));
    for (const QString &message : MessageCapture::messages())
        QVERIFY2(!message.contains(secret), "the password reached a log message");
}

VELMORA_LAUNCHER_TEST_MAIN(ServerOutputTest)

#include "tst_serveroutput.moc"
