// The launcher window driven in-process: settings controls and the preferences, Play with the real
// stand-in game (also under a wrapper), the command preview, the launch failure alert, Help,
// closing, the resolution list and paths.
#include "LauncherFixture.h"
#include "UrlRecorder.h"

#include "ConsoleView.h"
#include "LauncherPaths.h"
#include "MessageBar.h"
#include "Preferences.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "ShellWords.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>

using namespace LauncherFixture;

Q_DECLARE_METATYPE(std::shared_ptr<FakeDisplayModes>)

class LauncherTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void controlsShowStoredValues();
    void serverPaneIsMadeOnFirstNeed();
    void userChangesAreStored();
    void startUpWritesNothing();
    void preferencesProblemsAreTold_data();
    void preferencesProblemsAreTold();
    void editDeleteInATextField_data();
    void editDeleteInATextField();

    void playStartsTheGame_data();
    void playStartsTheGame();
    void playUsesValueStillBeingTyped();
    void returnPressesPlay();
    void playFailureShowsAlert();
    void playUnderWrapper_data();
    void playUnderWrapper();
    void wrapperThatCannotStart_data();
    void wrapperThatCannotStart();
    void previewFollowsTheSettings();
    void longAndOddValues();

    void helpOpensReadmeBesideLauncher();
    void closingTheWindowQuits();
    void cwdFollowsMovedLauncher();

    void resolutionList_data();
    void resolutionList();
    void savedPositionOutOfRange_data();
    void savedPositionOutOfRange();
    void choosingAnEntryStoresItsPosition();

private:
    QJsonObject waitForRecord(const QString &file);
    QTemporaryDir m_dir;
    QByteArray m_configHome; // to restore, when a test moved the preferences
    QString m_launcher;      // executable path inside a launcher folder with the stand-in
    QList<qint64> m_games;
};

void LauncherTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_launcher = makeLauncherFolder(m_dir.filePath(QStringLiteral("plain")));
    QVERIFY(QFileInfo(LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(m_launcher)))
                .isExecutable());
}

void LauncherTest::init()
{
    clearPreferences();
}

void LauncherTest::cleanup()
{
    if (!m_configHome.isEmpty()) {
        qputenv("XDG_CONFIG_HOME", m_configHome);
        m_configHome.clear();
    }
    // The game runs until it is closed: close every one this test started.
    for (qint64 pid : std::as_const(m_games))
        ::kill(pid_t(pid), SIGKILL);
    m_games.clear();
    qunsetenv("ORVANE_RECORD");
}

QJsonObject LauncherTest::waitForRecord(const QString &file)
{
    const QJsonObject record = LauncherFixture::waitForRecord(file);
    m_games << record.value(QStringLiteral("pid")).toInteger();
    return record;
}

void LauncherTest::controlsShowStoredValues()
{
    storePreferences({{SettingsKeys::fullscreen, 1},
                      {SettingsKeys::fsaa, 4},
                      {SettingsKeys::shader, 2},
                      {SettingsKeys::advancedOptions, QStringLiteral("+name Bob, the builder")},
                      {SettingsKeys::serverDescription, QStringLiteral("Friday night")},
                      {SettingsKeys::serverPassword, QStringLiteral("hunter2")},
                      {SettingsKeys::serverMaxClients, 12},
                      {SettingsKeys::serverOptions, QStringLiteral("+map arena")},
                      {SettingsKeys::consoleUserFont, 1},
                      {SettingsKeys::resolution, 1}});
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    Ui::ServerPaneForm &server = w->interface->serverUi();
    QVERIFY(ui.fullscreenCheck->isChecked());
    QCOMPARE(ui.fsaaCombo->currentText(), QStringLiteral("4×"));
    QCOMPARE(ui.shaderCombo->currentIndex(), 2);
    QCOMPARE(ui.advancedOptionsEdit->text(), QStringLiteral("+name Bob, the builder"));
    QCOMPARE(server.serverDescriptionEdit->text(), QStringLiteral("Friday night"));
    QCOMPARE(server.serverPasswordEdit->text(), QStringLiteral("hunter2"));
    QCOMPARE(server.serverPasswordEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(server.serverMaxClientsSpin->value(), 12);
    QCOMPARE(server.serverOptionsEdit->text(), QStringLiteral("+map arena"));
    QVERIFY(server.consoleUserFontCheck->isChecked());
    QCOMPARE(server.console->rowFont(), ConsoleView::textFont(true));
    QCOMPARE(ui.resolutions->currentText(), QStringLiteral("800 x 600"));
    QCOMPARE(server.multiplayer->text(), QStringLiteral("&Start"));
}

void LauncherTest::serverPaneIsMadeOnFirstNeed()
{
    const auto w = openWindow(m_launcher);
    QVERIFY(w->interface->ui().view2->findChildren<QWidget *>().isEmpty());
    // What another route stored meanwhile is what the pane shows once made, and what it stores.
    storePreferences({{SettingsKeys::serverDescription, QStringLiteral("Late")},
                      {SettingsKeys::serverMaxClients, 7}});
    Ui::ServerPaneForm &server = w->interface->serverUi();
    QCOMPARE(server.serverDescriptionEdit->text(), QStringLiteral("Late"));
    QCOMPARE(server.serverMaxClientsSpin->value(), 7);
    QCOMPARE(server.multiplayer->text(), QStringLiteral("&Start"));
    server.serverRestartCheck->toggle();
    QCOMPARE(Preferences().integerForKey(SettingsKeys::serverRestart), 1);
}

void LauncherTest::userChangesAreStored()
{
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    Ui::ServerPaneForm &server = w->interface->serverUi();
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->interface->window()));

    QTest::keyClick(ui.fullscreenCheck, Qt::Key_Space);
    QTest::keyClick(server.consoleUserFontCheck, Qt::Key_Space);
    QCOMPARE(server.console->rowFont(), ConsoleView::textFont(true));
    QTest::keyClick(ui.fsaaCombo, Qt::Key_Down);
    QTest::keyClick(ui.shaderCombo, Qt::Key_End);
    QTest::keyClick(ui.resolutions, Qt::Key_Down);
    ui.advancedOptionsEdit->setFocus();
    QTest::keyClicks(ui.advancedOptionsEdit, QStringLiteral(" a  b "));
    QTest::keyClick(ui.advancedOptionsEdit, Qt::Key_Tab); // leaving the field stores it
    QCOMPARE(w->terminateCalls, 0);

    const Preferences prefs;
    QCOMPARE(prefs.integerForKey(SettingsKeys::fullscreen), 1);
    QCOMPARE(prefs.integerForKey(SettingsKeys::consoleUserFont), 1);
    QCOMPARE(prefs.integerForKey(SettingsKeys::fsaa), 2);
    QCOMPARE(prefs.integerForKey(SettingsKeys::shader), 3);
    QCOMPARE(prefs.integerForKey(SettingsKeys::resolution), 1);
    QCOMPARE(prefs.stringForKey(SettingsKeys::advancedOptions), QStringLiteral(" a  b "));

    // And they survive a restart of the launcher.
    const auto again = openWindow(m_launcher);
    QCOMPARE(again->interface->ui().advancedOptionsEdit->text(), QStringLiteral(" a  b "));
    QCOMPARE(again->interface->ui().resolutions->currentIndex(), 1);
    QVERIFY(again->interface->ui().fullscreenCheck->isChecked());
}

void LauncherTest::startUpWritesNothing()
{
    storePreferences({{SettingsKeys::fsaa, 3}}); // not one of the offered values
    const auto w = openWindow(m_launcher);
    QCOMPARE(w->interface->ui().fsaaCombo->currentIndex(), -1);
    w->interface->binding()->commitEditing();
    const QSettings settings(preferencesFile(), QSettings::NativeFormat);
    QCOMPARE(settings.allKeys(), QStringList{QStringLiteral("fsaa")});
    QCOMPARE(Preferences().integerForKey(SettingsKeys::fsaa), 3);
}

void LauncherTest::preferencesProblemsAreTold_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("toldAtStart");

    // Root writes anywhere: a folder on the way that is a file stops it all the same.
    QTest::newRow("save fails") << "below a file" << qt_error_string(ENOTDIR) << 0;
    QTest::newRow("folder at the path") << "folder" << qt_error_string(EISDIR) << 1;
    QTest::newRow("FIFO at the path") << "fifo"
                                      << "named pipe" << 1;
}

void LauncherTest::preferencesProblemsAreTold()
{
    QFETCH(QString, what);
    QFETCH(QString, reason);
    QFETCH(int, toldAtStart);
    QString file = preferencesFile();
    if (what == u"below a file") {
        const QString blocker = m_dir.filePath(QStringLiteral("not a folder"));
        QFile plain(blocker);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        m_configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));
        file = preferencesFile();
    } else {
        QFile::remove(file);
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(what == u"folder" ? QDir().mkdir(file)
                                  : ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
    }

    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    MessageBar *messages = w->interface->messages();
    QSignalSpy told(messages, &MessageBar::messageShown);
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->interface->window()));
    QCOMPARE(messages->isVisible(), toldAtStart == 1);
    if (toldAtStart)
        QVERIFY2(messages->text().contains(file) && messages->text().contains(reason),
                 qPrintable(messages->text()));
    QVERIFY(!messages->accessibleName().isEmpty());

    // Each change is one save; each failed save is told once.
    QTest::keyClick(ui.fullscreenCheck, Qt::Key_Space);
    ui.advancedOptionsEdit->setFocus();
    QTest::keyClicks(ui.advancedOptionsEdit, QStringLiteral("+kept"));
    w->interface->binding()->commitEditing();
    QCOMPARE(told.count(), toldAtStart ? 0 : 2);
    QVERIFY(messages->isVisible());
    // The warning picture is looked up only once a message is due; the bar never shows without it.
    const auto *picture = messages->findChild<QLabel *>(QStringLiteral("messageIcon"));
    QVERIFY(picture && !picture->pixmap().isNull());
    QVERIFY2(messages->text().contains(file) && messages->text().contains(reason),
             qPrintable(messages->text()));

    // The values stay in their controls and are this session's: Play uses them.
    QVERIFY(ui.fullscreenCheck->isChecked());
    QCOMPARE(ui.advancedOptionsEdit->text(), QStringLiteral("+kept"));
    const Preferences prefs;
    QCOMPARE(prefs.integerForKey(SettingsKeys::fullscreen), 1);
    QCOMPARE(prefs.stringForKey(SettingsKeys::advancedOptions), QStringLiteral("+kept"));
    QCOMPARE(w->terminateCalls, 0);
    if (what != u"below a file")
        QVERIFY(QFileInfo(file).isDir() == (what == u"folder") && !QFileInfo(file).isFile());
}

void LauncherTest::editDeleteInATextField_data()
{
    QTest::addColumn<int>("selectFrom"); // -1: nothing selected
    QTest::addColumn<int>("selectLength");
    QTest::addColumn<QString>("left");
    QTest::newRow("nothing selected") << -1 << 0 << "abcdef";
    QTest::newRow("a selection") << 1 << 2 << "adef";
}

void LauncherTest::editDeleteInATextField()
{
    QFETCH(int, selectFrom);
    QFETCH(int, selectLength);
    QFETCH(QString, left);
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowActive(w->interface->window()));
    QLineEdit *edit = ui.advancedOptionsEdit;
    edit->setFocus();
    edit->setText(QStringLiteral("abcdef"));
    edit->setCursorPosition(2);
    if (selectFrom >= 0)
        edit->setSelection(selectFrom, selectLength);
    QCOMPARE(QApplication::focusWidget(), edit);
    ui.actionDelete->trigger();
    QCOMPARE(edit->text(), left);
}

void LauncherTest::playStartsTheGame_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("fullscreen");
    QTest::addColumn<QString>("advanced");
    QTest::addColumn<QStringList>("expected");

    // The splitting rules are tst_commandline's, odd paths' way through exec tst_DetachedProcess's;
    // these rows check that Play reads the stored settings and starts the game in the folder the
    // window derives.
    QTest::newRow("factory settings")
        << "plain" << 0 << QString() << QStringList{"-w1024", "-h768", "-z32", "-t", "-a0", "-f0"};
    QTest::newRow("odd path, full screen, empty pieces, quotes, non-ASCII")
        << "My Games/it's \"quoted\" Ünïcødé ☃" << 1 << " a  \"x --name=Jürgen"
        << QStringList{"-w1024", "-h768", "-z32", "-a0", "-f0",
                       "",       "a",     "",     "\"x", "--name=Jürgen"};
}

void LauncherTest::playStartsTheGame()
{
    QFETCH(QString, folder);
    QFETCH(int, fullscreen);
    QFETCH(QString, advanced);
    QFETCH(QStringList, expected);
    {
        Preferences prefs;
        prefs.setInteger(SettingsKeys::fullscreen, fullscreen);
        if (!advanced.isNull())
            prefs.setString(SettingsKeys::advancedOptions, advanced);
        prefs.sync();
    }
    const QString exe = makeLauncherFolder(m_dir.filePath(folder));
    const QString record =
        m_dir.filePath(QStringLiteral("record-%1.json").arg(QTest::currentDataTag()));
    qputenv("ORVANE_RECORD", QFile::encodeName(record));

    const auto w = openWindow(exe);
    QVERIFY(w->launcher()->playFile());
    QCOMPARE(w->terminateCalls, 1);
    QVERIFY(!w->interface->window()->findChild<QMessageBox *>());

    const QJsonObject rec = waitForRecord(record);
    QCOMPARE(strings(rec.value(QStringLiteral("arguments"))), expected);
    QCOMPARE(rec.value(QStringLiteral("cwd")).toString(),
             QFileInfo(m_dir.filePath(folder) + QStringLiteral("/Orvane")).absoluteFilePath());
    QCOMPARE(rec.value(QStringLiteral("mode")).toString(), QStringLiteral("game"));
}

void LauncherTest::playUsesValueStillBeingTyped()
{
    const QString record = m_dir.filePath(QStringLiteral("typed.json"));
    qputenv("ORVANE_RECORD", QFile::encodeName(record));
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    // Typed, not yet committed: no Return, no focus change.
    QTest::keyClicks(ui.advancedOptionsEdit, QStringLiteral("+fast"));
    QVERIFY(Preferences().stringForKey(SettingsKeys::advancedOptions).isNull());

    w->launcher()->playAction();
    QCOMPARE(w->terminateCalls, 1);
    QCOMPARE(Preferences().stringForKey(SettingsKeys::advancedOptions), QStringLiteral("+fast"));
    const QJsonObject rec = waitForRecord(record);
    QCOMPARE(strings(rec.value(QStringLiteral("arguments"))).last(), QStringLiteral("+fast"));
}

void LauncherTest::returnPressesPlay()
{
    const QString record = m_dir.filePath(QStringLiteral("return.json"));
    qputenv("ORVANE_RECORD", QFile::encodeName(record));
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->interface->window()));
    ui.advancedOptionsEdit->setFocus();
    QTest::keyClicks(ui.advancedOptionsEdit, QStringLiteral("+go"));
    QTest::keyClick(ui.advancedOptionsEdit, Qt::Key_Return);
    QCOMPARE(w->terminateCalls, 1);
    QCOMPARE(strings(waitForRecord(record).value(QStringLiteral("arguments"))).last(),
             QStringLiteral("+go"));
}

// The ways the start can fail (no program, not executable, no folder) are tst_DetachedProcess's;
// this checks that a failing Play tells it and leaves the window usable.
void LauncherTest::playFailureShowsAlert()
{
    const QString breakage = QStringLiteral("no directory");
    const QString exe =
        makeBrokenLauncherFolder(m_dir.filePath(QStringLiteral("broken ") + breakage), breakage);
    QVERIFY(!exe.isEmpty());

    const auto w = openWindow(exe);
    w->interface->window()->show();
    QCOMPARE(w->launcher()->playFile(), false);
    QCOMPARE(w->terminateCalls, 0);

    auto *alert = w->interface->window()->findChild<QMessageBox *>();
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Velmora")); // a title bar that fits
    QCOMPARE(alert->text(), QStringLiteral("Can't start Velmora"));
    // The sentence about the game's path, then the system's own reason.
    QCOMPARE(alert->informativeText(),
             QStringLiteral("Please move the directory containing Velmora to a path that doesn't "
                            "contain weird characters or start it manually.\n%1: No such file or "
                            "directory")
                 .arg(gameExecutableOf(exe)));
    QCOMPARE(alert->icon(), QMessageBox::Critical);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    QTRY_VERIFY(alert->isVisible());

    // The launcher stays usable: dismiss, and Play can be pressed again.
    alert->accept();
    QCOMPARE(w->launcher()->playFile(), false);

    // A wrapper that is not installed is named, rather than blamed on the game's path.
    qDeleteAll(w->interface->window()->findChildren<QMessageBox *>());
    storePreferences({{QStringLiteral("launchWrapper"), QStringLiteral("no-such-wrapper -x")}});
    QCOMPARE(w->launcher()->playFile(), false);
    alert = w->interface->window()->findChild<QMessageBox *>();
    QVERIFY(alert);
    QCOMPARE(alert->informativeText(),
             QStringLiteral("The program no-such-wrapper was not found."));
    clearPreferences();
}

namespace {

// A wrapper as players use them: it notes what it was given (its arguments NUL-separated, its
// working directory, its environment NUL-separated, and its process id, which the game it becomes
// keeps) beside $WRAP_RECORD, then drops its own options up to "--" and runs the rest.
const QByteArray recordingWrapper = R"(
{ printf '%s\0' "$@" > "$WRAP_RECORD.args"; pwd > "$WRAP_RECORD.cwd"; env -0 > "$WRAP_RECORD.env"; }
echo $$ > "$WRAP_RECORD.pid"
: > "$WRAP_RECORD.done"
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do shift; done
shift
exec "$@"
)";

struct WrapperRecord
{
    QStringList arguments;
    QString cwd;
    QStringList environment;
    qint64 pid = 0;
};

QStringList nulSeparated(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList items;
    for (const QByteArray &item : f.readAll().split('\0'))
        items << QString::fromUtf8(item);
    items.removeLast(); // after the last terminator
    return items;
}

WrapperRecord waitForWrapperRecord(const QString &base)
{
    if (!QTest::qWaitFor([&] { return QFile::exists(base + QStringLiteral(".done")); }, Patience))
        qWarning("the wrapper left no record at %s", qPrintable(base));
    WrapperRecord record;
    record.arguments = nulSeparated(base + QStringLiteral(".args"));
    record.environment = nulSeparated(base + QStringLiteral(".env"));
    QFile pid(base + QStringLiteral(".pid"));
    if (pid.open(QIODevice::ReadOnly))
        record.pid = pid.readAll().trimmed().toLongLong();
    QFile cwd(base + QStringLiteral(".cwd"));
    if (cwd.open(QIODevice::ReadOnly))
        record.cwd = QString::fromUtf8(cwd.readAll()).chopped(1);
    return record;
}

void removeRecords(const QString &wrapperBase, const QString &gameRecord)
{
    for (const char *suffix : {".args", ".cwd", ".env", ".pid", ".done"})
        QFile::remove(wrapperBase + QLatin1String(suffix));
    QFile::remove(gameRecord);
}

} // namespace

void LauncherTest::playUnderWrapper_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("wrapper");
    QTest::addColumn<QString>("pathLine");
    QTest::addColumn<QStringList>("wrapperOptions");

    const QString scripts = m_dir.filePath(QStringLiteral("wrappers 'a' ü"));
    QDir().mkpath(scripts);
    const QString script = ProcessTestSupport::writeScript(scripts, QStringLiteral("record-wrap"),
                                                           recordingWrapper.mid(1));
    QTest::newRow("wrapper by its path, quoted")
        << "by path"
        << "\"" + script + "\" --flag 'two words' --" << QString()
        << QStringList{"--flag", "two words", "--"};
    QTest::newRow("wrapper by name, on the PATH the environment sets")
        << "by name"
        << "record-wrap --"
        << "PATH=" + scripts + ":/usr/bin:/bin" << QStringList{"--"};
}

void LauncherTest::playUnderWrapper()
{
    QFETCH(QString, name);
    QFETCH(QString, wrapper);
    QFETCH(QString, pathLine);
    QFETCH(QStringList, wrapperOptions);
    const QString &tag = name;
    const QString folder = m_dir.filePath(QStringLiteral("wrapped %1 it's").arg(tag));
    const QString exe = makeLauncherFolder(folder);
    const QString wrapBase = m_dir.filePath(QStringLiteral("wrap %1").arg(tag));
    const QString gameRecord = m_dir.filePath(QStringLiteral("wrapped game %1.json").arg(tag));
    // Set for the launcher, and replaced by the environment lines.
    qputenv("VELMORA_REPLACED", "launcher's");
    const QString environment = QStringLiteral("MANGOHUD=1\nVELMORA_REPLACED=the player's\n") +
                                QStringLiteral("WRAP_RECORD=") + wrapBase +
                                QStringLiteral("\nnot a variable\nORVANE_RECORD=") + gameRecord +
                                u'\n' + pathLine;
    storePreferences({{SettingsKeys::launchWrapper, wrapper},
                      {SettingsKeys::launchEnvironment, environment},
                      {SettingsKeys::serverPassword, QStringLiteral("hunter2-secret")}});

    const auto w = openWindow(exe);
    QVERIFY(w->launcher()->playFile());
    QCOMPARE(w->terminateCalls, 1);
    QVERIFY(!w->interface->window()->findChild<QMessageBox *>());

    const QString gameDir = LauncherPaths::gameDirectory(exe);
    const QString gamePath = LauncherPaths::gameExecutable(gameDir);
    const QStringList gameArgs{"-w1024", "-h768", "-z32", "-t", "-a0", "-f0"};
    const auto check = [&](const char *how) {
        const WrapperRecord wrapped = waitForWrapperRecord(wrapBase);
        if (wrapped.pid > 0)
            m_games << wrapped.pid; // the game it became, should its own record not come
        QCOMPARE(wrapped.arguments, wrapperOptions + QStringList{gamePath} + gameArgs);
        QCOMPARE(wrapped.cwd, gameDir);
        QVERIFY2(wrapped.environment.contains(QStringLiteral("MANGOHUD=1")), how);
        QCOMPARE(wrapped.environment.filter(QStringLiteral("VELMORA_REPLACED=")),
                 QStringList{QStringLiteral("VELMORA_REPLACED=the player's")});
        // The launcher's own environment is passed on; the line that is no variable is not.
        QVERIFY2(wrapped.environment.contains("VELMORA_BUILD_DIR=" +
                                              qEnvironmentVariable("VELMORA_BUILD_DIR")),
                 how);
        QVERIFY2(wrapped.environment.filter(QStringLiteral("not a variable")).isEmpty(), how);
        QVERIFY2(wrapped.environment.filter(QStringLiteral("hunter2")).isEmpty(), how);
        // Through the wrapper the game runs, in its directory, with the environment lines.
        const QJsonObject rec = waitForRecord(gameRecord);
        QCOMPARE(rec.value(QStringLiteral("argv0")).toString(), gamePath);
        QCOMPARE(strings(rec.value(QStringLiteral("arguments"))), gameArgs);
        QCOMPARE(rec.value(QStringLiteral("cwd")).toString(), gameDir);
    };
    check("Play");

    // The command the pane shows, run by a shell in the game directory, does the same.
    const QString shown = w->interface->ui().commandPreview->toPlainText();
    QVERIFY(!shown.contains(QStringLiteral("hunter2")));
    removeRecords(wrapBase, gameRecord);
    QProcess sh;
    sh.setWorkingDirectory(gameDir);
    sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shown});
    QVERIFY(sh.waitForStarted());
    check("the shown command");
    sh.waitForFinished(0);
    qunsetenv("VELMORA_REPLACED");
}

void LauncherTest::wrapperThatCannotStart_data()
{
    QTest::addColumn<QString>("wrapper");
    QTest::addColumn<bool>("unreadable");
    // A missing or non-executable program is tst_DetachedProcess's (failuresAreReported); these
    // rows cover the look-up on the PATH, a folder, and a wrapper that cannot be read at all.
    QTest::newRow("not on the PATH") << "velmora-no-such-wrapper --" << false;
    QTest::newRow("a directory") << "'" + m_dir.path() + "'" << false;
    QTest::newRow("a quote left open") << "gamemoderun 'x" << true;
}

void LauncherTest::wrapperThatCannotStart()
{
    QFETCH(QString, wrapper);
    QFETCH(bool, unreadable);
    storePreferences({{SettingsKeys::launchWrapper, wrapper}});
    const auto w = openWindow(m_launcher);
    w->interface->window()->show();
    QVERIFY(w->interface->ui().launchWrapperError->isVisible());
    QCOMPARE(w->launcher()->playFile(), false);
    QCOMPARE(w->terminateCalls, 0);
    auto *alert = w->interface->window()->findChild<QMessageBox *>();
    QVERIFY(alert);
    QCOMPARE(alert->text(), QStringLiteral("Can't start Velmora"));
    QCOMPARE(alert->icon(), QMessageBox::Critical);
    QCOMPARE(w->interface->ui().copyCommandButton->isEnabled(), !unreadable);
}

void LauncherTest::previewFollowsTheSettings()
{
    storePreferences({{SettingsKeys::serverPassword, QStringLiteral("hunter2-secret")},
                      {SettingsKeys::serverDescription, QStringLiteral("desc")}});
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->interface->window()));
    const QString game =
        ShellWords::quote(LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(m_launcher)));
    const auto preview = [&] { return ui.commandPreview->toPlainText(); };

    // Factory settings: the game's own command.
    QCOMPARE(preview(), game + " -w1024 -h768 -z32 -t -a0 -f0");
    QVERIFY(ui.commandPreview->isReadOnly());
    QVERIFY(ui.launchWrapperError->isHidden());
    QVERIFY(ui.launchEnvironmentError->isHidden());

    // Typed, not yet stored: shown already, as Play would store it first.
    ui.launchWrapperEdit->setFocus();
    QTest::keyClicks(ui.launchWrapperEdit, QStringLiteral("gamescope -W 1920 -- "));
    QCOMPARE(preview(), "gamescope -W 1920 -- " + game + " -w1024 -h768 -z32 -t -a0 -f0");
    ui.launchEnvironmentEdit->setFocus();
    QTest::keyClicks(ui.launchEnvironmentEdit, QStringLiteral("MANGOHUD=1"));
    QTest::keyClick(ui.launchEnvironmentEdit, Qt::Key_Return);
    QTest::keyClicks(ui.launchEnvironmentEdit, QStringLiteral("9LIVES=x"));
    QTest::keyClick(ui.launchEnvironmentEdit, Qt::Key_Return);
    QTest::keyClicks(ui.launchEnvironmentEdit, QStringLiteral("DXVK_HUD=fps devinfo"));
    QCOMPARE(w->terminateCalls, 0); // Return in the environment is a new line, not Play
    QCOMPARE(preview(), "MANGOHUD=1 DXVK_HUD='fps devinfo' gamescope -W 1920 -- " + game +
                            " -w1024 -h768 -z32 -t -a0 -f0");
    QVERIFY(ui.launchEnvironmentError->isVisible());
    QVERIFY2(ui.launchEnvironmentError->text().contains(QStringLiteral("line 2")),
             qPrintable(ui.launchEnvironmentError->text()));
    QVERIFY(Preferences().stringForKey(SettingsKeys::launchEnvironment).isNull());

    // Leaving the field stores it as typed, the line that is not used included.
    QTest::keyClick(ui.launchEnvironmentEdit, Qt::Key_Tab);
    QCOMPARE(Preferences().stringForKey(SettingsKeys::launchEnvironment),
             QStringLiteral("MANGOHUD=1\n9LIVES=x\nDXVK_HUD=fps devinfo"));
    QTest::keyClick(ui.fsaaCombo, Qt::Key_Down);
    QVERIFY(preview().endsWith(QStringLiteral(" -a2 -f0")));
    QVERIFY(!preview().contains(QStringLiteral("hunter2")));

    ui.copyCommandButton->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), preview());

    // A wrapper quote left open: shown under the field, nothing to copy.
    ui.launchWrapperEdit->setFocus();
    QTest::keyClicks(ui.launchWrapperEdit, QStringLiteral("'"));
    QVERIFY(ui.launchWrapperError->isVisible());
    QVERIFY(preview().isEmpty());
    QVERIFY(!ui.copyCommandButton->isEnabled());

    // Play stores what is still being typed; a new window shows it all again.
    QTest::keyClick(ui.launchWrapperEdit, Qt::Key_Backspace);
    ui.launchEnvironmentEdit->setFocus();
    QTest::keyClick(ui.launchEnvironmentEdit, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ui.launchEnvironmentEdit, QStringLiteral(",hdr"));
    w->interface->binding()->commitEditing();
    QCOMPARE(Preferences().stringForKey(SettingsKeys::launchWrapper),
             QStringLiteral("gamescope -W 1920 -- "));
    const auto again = openWindow(m_launcher);
    QCOMPARE(again->interface->ui().launchEnvironmentEdit->toPlainText(),
             QStringLiteral("MANGOHUD=1\n9LIVES=x\nDXVK_HUD=fps devinfo,hdr"));
    QCOMPARE(again->interface->ui().commandPreview->toPlainText(),
             "MANGOHUD=1 DXVK_HUD='fps devinfo,hdr' gamescope -W 1920 -- " + game +
                 " -w1024 -h768 -z32 -t -a2 -f0");
}

void LauncherTest::longAndOddValues()
{
    const QString odd = QStringLiteral("a\u00a0b\u2028c\u2029d\re"); // what a text field changes
    const QString longValue(Preferences::MaxTextLength / 2, u'x');
    storePreferences({{SettingsKeys::launchEnvironment, "ODD=" + odd + "\nLONG=" + longValue}});
    const auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    QVERIFY(ui.commandPreview->toPlainText().size() < longValue.size());
    ui.copyCommandButton->click();
    QVERIFY(QGuiApplication::clipboard()->text().startsWith("ODD=" + ShellWords::quote(odd) +
                                                            " LONG=" + longValue + u' '));
    ui.launchEnvironmentEdit->selectAll(); // more than a setting keeps: told, not stored, not cut
    ui.launchEnvironmentEdit->insertPlainText(QString(Preferences::MaxTextLength + 1, u'y'));
    w->interface->binding()->commitEditing();
    QVERIFY(w->interface->messages()->text().contains(QStringLiteral("16384")));
    QCOMPARE(ui.launchEnvironmentEdit->toPlainText().size(), Preferences::MaxTextLength + 1);
    QVERIFY(Preferences().stringForKey(SettingsKeys::launchEnvironment).endsWith(longValue));
}

void LauncherTest::helpOpensReadmeBesideLauncher()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "openUrl");
    const QString folder = m_dir.filePath(QStringLiteral("help ä"));
    const QString exe = makeLauncherFolder(folder);
    const auto w = openWindow(exe);

    // Only inside the game directory: not used, nothing shown.
    QFile inGame(folder + QStringLiteral("/Orvane/README.html"));
    QVERIFY(inGame.open(QIODevice::WriteOnly));
    inGame.close();
    w->launcher()->helpAction();
    QVERIFY(recorder.urls.isEmpty());

    QFile beside(folder + QStringLiteral("/README.html"));
    QVERIFY(beside.open(QIODevice::WriteOnly));
    beside.close();
    w->launcher()->helpAction();
    QCOMPARE(recorder.urls,
             QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("/README.html"))});
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void LauncherTest::closingTheWindowQuits()
{
    const auto w = openWindow(m_launcher);
    w->interface->window()->show();
    QVERIFY(w->interface->window()->close());
    QCOMPARE(w->terminateCalls, 1);
    QCOMPARE(w->launcher()->server(), pid_t(-1));
}

void LauncherTest::cwdFollowsMovedLauncher()
{
    // A copy of this test, run from a launcher folder, reports its game directory, moves its own
    // folder, and reports again.
    const QString before = m_dir.filePath(QStringLiteral("moving/before"));
    const QString after = m_dir.filePath(QStringLiteral("moving/after é"));
    QVERIFY(QDir().mkpath(before));
    const QString copy = before + QStringLiteral("/velmora-launcher");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    QVERIFY(
        QFile::setPermissions(copy, QFile::permissions(QCoreApplication::applicationFilePath())));

    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMORA_MOVE_PROBE_FROM"), before);
    env.insert(QStringLiteral("VELMORA_MOVE_PROBE_TO"), after);
    probe.setProcessEnvironment(env);
    probe.start(copy, {});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(u'\n');
    QCOMPARE(lines.value(0), before + QStringLiteral("/Orvane"));
    QCOMPARE(lines.value(1), after + QStringLiteral("/Orvane"));
}

void LauncherTest::resolutionList_data()
{
    QTest::addColumn<std::shared_ptr<FakeDisplayModes>>("source");
    QTest::addColumn<QStringList>("titles");
    using F = FakeDisplayModes;

    auto shared = std::make_shared<F>();
    shared->addDisplay({{1280, 1024}, {1024, 768}});
    shared->addDisplay({{1024, 768}, {1920, 1080}});
    QTest::newRow("two displays sharing a size")
        << shared << QStringList{"1280 x 1024", "1024 x 768", "1920 x 1080"};

    auto depths = std::make_shared<F>();
    depths->addDisplay(
        QList<ModeDescription>{F::mode(800, 600, {{"Depth", 16}, {"RefreshRate", 60}}),
                               F::mode(800, 600, {{"Depth", 32}, {"RefreshRate", 60}}),
                               F::mode(800, 600, {{"Depth", 32}, {"RefreshRate", 75}})});
    QTest::newRow("one size at several depths and rates") << depths << QStringList{"800 x 600"};

    auto order = std::make_shared<F>();
    order->addDisplay({{1280, 1024}, {640, 480}, {1280, 1024}});
    QTest::newRow("first occurrence, never sorted")
        << order << QStringList{"1280 x 1024", "640 x 480"};

    auto wide = std::make_shared<F>();
    wide->addDisplay({{1440, 900}});
    QTest::newRow("width first") << wide << QStringList{"1440 x 900"};

    auto many = std::make_shared<F>();
    for (int i = 0; i < 20; ++i)
        many->addDisplay({{100 + i, 100}});
    QStringList first16;
    for (int i = 0; i < 16; ++i)
        first16 << QStringLiteral("%1 x 100").arg(100 + i);
    QTest::newRow("only the first 16 displays") << many << first16;

    auto failing = std::make_shared<F>();
    failing->addDisplay({{1024, 768}});
    failing->setListFails(true);
    QTest::newRow("failing display list") << failing << QStringList{};

    auto noModes = std::make_shared<F>();
    noModes->addDisplayWithoutModes();
    noModes->addDisplay({{640, 480}});
    QTest::newRow("display without a mode list") << noModes << QStringList{"640 x 480"};

    auto noWidth = std::make_shared<F>();
    noWidth->addDisplay(QList<ModeDescription>{ModeDescription{{"Height", 768}},
                                               ModeDescription{{"Width", 0}, {"Height", 768}},
                                               F::mode(1024, 768)});
    QTest::newRow("missing Width reads 0") << noWidth << QStringList{"0 x 768", "1024 x 768"};
}

void LauncherTest::resolutionList()
{
    QFETCH(std::shared_ptr<FakeDisplayModes>, source);
    QFETCH(QStringList, titles);
    // The interface file's own entries never survive.
    auto interface = std::make_unique<LauncherInterface>();
    interface->ui().resolutions->addItems({"stale entry", "1024 x 768"});
    auto fake = std::make_unique<FakeDisplayModes>(*source);
    interface->launcher()->setDisplayModeSource(std::move(fake));
    interface->launcher()->setTerminateHandler([] {});
    interface->launcher()->awakeFromNib();

    QStringList shown;
    for (int i = 0; i < interface->ui().resolutions->count(); ++i)
        shown << interface->ui().resolutions->itemText(i);
    QCOMPARE(shown, titles);
    QCOMPARE(interface->ui().resolutions->currentIndex(), titles.isEmpty() ? -1 : 0);
}

void LauncherTest::savedPositionOutOfRange_data()
{
    QTest::addColumn<int>("saved");
    QTest::newRow("negative") << -1;
    QTest::newRow("past the end") << 2;
    QTest::newRow("far past the end") << 1000000;
}

void LauncherTest::savedPositionOutOfRange()
{
    QFETCH(int, saved);
    storePreferences({{SettingsKeys::resolution, saved}});
    const QString record = m_dir.filePath(QStringLiteral("range-%1.json").arg(saved));
    qputenv("ORVANE_RECORD", QFile::encodeName(record));
    const auto w = openWindow(m_launcher); // two entries
    // Nothing is selected, and the stored value stays as it was.
    QCOMPARE(w->interface->ui().resolutions->currentIndex(), -1);
    QCOMPARE(Preferences().integerForKey(SettingsKeys::resolution), saved);
    // Play still starts the game, with no size in its resolution arguments.
    w->launcher()->playFile();
    const QJsonObject rec = waitForRecord(record);
    QCOMPARE(strings(rec.value(QStringLiteral("arguments"))).mid(0, 2),
             (QStringList{QStringLiteral("-w"), QStringLiteral("-h")}));
}

void LauncherTest::choosingAnEntryStoresItsPosition()
{
    auto fake = std::make_unique<FakeDisplayModes>();
    fake->addDisplay({{1920, 1080}, {1280, 720}, {640, 480}});
    const auto w = openWindow(m_launcher, std::move(fake));
    QComboBox *list = w->interface->ui().resolutions;
    QCOMPARE(list->currentIndex(), 0);
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(Preferences().integerForKey(SettingsKeys::resolution), 2);
    QCOMPARE(list->currentText(), QStringLiteral("640 x 480"));
}

// Run as a moved launcher: prints the game directory before and after its folder is renamed.
static int moveProbe(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Launcher launcher;
    QTextStream out(stdout);
    out << launcher.cwd() << '\n';
    out.flush();
    if (!QDir().rename(qEnvironmentVariable("VELMORA_MOVE_PROBE_FROM"),
                       qEnvironmentVariable("VELMORA_MOVE_PROBE_TO")))
        return 2;
    out << launcher.cwd() << '\n';
    return 0;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("VELMORA_MOVE_PROBE_FROM"))
        return moveProbe(argc, argv);
    return runWithPrivatePreferences<LauncherTest>(argc, argv);
}

#include "tst_launcher.moc"
