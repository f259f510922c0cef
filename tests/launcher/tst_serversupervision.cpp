// How the window is wired to the session's supervision: the settings through the preferences
// file, Stop, closing and a signal to the launcher waiting for a server that saves, the state
// beside the button through a restart, and a notification's action showing the Server pane.
#include "LauncherFixture.h"

#include "Preferences.h"
#include "ServerTestSupport.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "SupervisionSettings.h"
#include "TerminationSignals.h"
#include "ui_Launcher.h"
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
#include "NotificationService.h"
#endif

#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QSpinBox>

using namespace LauncherFixture;
using namespace ServerTestSupport;

class ServerSupervisionWindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { clearPreferences(); }
    void settingsRoundTrip();
    void stopWaitsForTheServer_data();
    void stopWaitsForTheServer();
    void restartCountsDownAndStopCancels();
    void notificationShowsTheServerPane();

private:
    QTemporaryDir m_dir;
    QString m_launcher;
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
    NotificationService m_service;
#endif
};

void ServerSupervisionWindowTest::initTestCase()
{
    m_launcher = makeLauncherFolder(m_dir.filePath(QStringLiteral("plain")));
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
    // Before anything asks for the session bus: the launcher's notifications come here.
    QString whyNot;
    QVERIFY2(m_service.start(&whyNot), qPrintable(whyNot));
    QVERIFY(m_service.registerService());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_service.address());
#endif
}

void ServerSupervisionWindowTest::settingsRoundTrip()
{
    auto w = openWindow(m_launcher);
    Ui::LauncherWindow &ui = w->interface->ui();
    QCOMPARE(ui.serverQuitCommandEdit->accessibleName(), QStringLiteral("Quit command"));
    QCOMPARE(ui.serverStopTimeoutSpin->accessibleName(), QStringLiteral("Stop timeout"));
    QCOMPARE(ui.serverRestartCheck->accessibleName(), QStringLiteral("Restart if it crashes"));
    QCOMPARE(ui.serverNotifyCheck->accessibleName(),
             QStringLiteral("Notify me when the server falls"));
    QVERIFY(ui.serverNotifyCheck->isChecked()); // on while nothing is stored

    ui.serverQuitCommandEdit->setText(QStringLiteral("save-all; stop"));
    ui.serverQuitCommandEdit->setModified(true);
    ui.serverStopTimeoutSpin->setValue(45);
    ui.serverRestartCheck->toggle();
    ui.serverNotifyCheck->toggle();
    w->interface->binding()->commitEditing();
    const SupervisionSettings stored = SupervisionSettings::read(Preferences());
    QCOMPARE(stored.quitCommand, QStringLiteral("save-all; stop"));
    QCOMPARE(stored.stopTimeoutSeconds, 45);
    QVERIFY(stored.restartOnCrash);
    QVERIFY(!stored.notify);

    w = openWindow(m_launcher);
    QCOMPARE(w->interface->ui().serverQuitCommandEdit->text(), QStringLiteral("save-all; stop"));
    QCOMPARE(w->interface->ui().serverStopTimeoutSpin->value(), 45);
    QVERIFY(w->interface->ui().serverRestartCheck->isChecked());
    QVERIFY(!w->interface->ui().serverNotifyCheck->isChecked());
}

void ServerSupervisionWindowTest::stopWaitsForTheServer_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("twice"); // asked again while the server is stopping: killed at once
    QTest::newRow("Stop: saved") << "stop" << false;
    QTest::newRow("Stop twice: killed at once") << "stop" << true;
    QTest::newRow("closing: saved, then closed") << "close" << false;
    QTest::newRow("closing twice: killed and closed") << "close" << true;
    QTest::newRow("SIGTERM to the launcher: saved, then closed") << "signal" << false;
}

void ServerSupervisionWindowTest::stopWaitsForTheServer()
{
    QFETCH(QString, how);
    QFETCH(bool, twice);
    storePreferences({{SettingsKeys::serverOptions, twice ? QStringLiteral("--ignore-term")
                                                          : QStringLiteral("--term-delay 400")},
                      {SettingsKeys::serverStopTimeout, 30}});
    const auto w = openWindow(m_launcher);
    QMainWindow *window = w->interface->window();
    window->show();
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::received, window, &QWidget::close);
    QLabel *state = w->interface->ui().serverState;
    const pid_t pid = startServer(*w);
    QVERIFY(waitForLine(*w, ReadyLine));
    QVERIFY(state->text().startsWith(QStringLiteral("Running since ")));

    const auto ask = [&] {
        if (how == u"stop")
            w->launcher()->multiplayerAction();
        else if (how == u"close")
            QVERIFY(!window->close() || twice);
        else
            ::raise(SIGTERM);
    };
    ask();
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Stopping…"), Patience);
    QCOMPARE(state->accessibleDescription(), QStringLiteral("Stopping…"));
    QVERIFY(window->isVisible());
    QCOMPARE(w->terminateCalls, 0);
    if (twice) {
        ask();
        QCOMPARE(title(*w), QStringLiteral("Start"));
        QVERIFY(lines(*w).contains(QStringLiteral("Stopped at once: killed")));
    }
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QCOMPARE(state->text(), QStringLiteral("Stopped"));
    QCOMPARE(w->terminateCalls, how == u"stop" ? 0 : 1);
    QCOMPARE(lines(*w).contains(QStringLiteral("Saving before stopping")), !twice);
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));
}

void ServerSupervisionWindowTest::restartCountsDownAndStopCancels()
{
    storePreferences(
        {{SettingsKeys::serverOptions, QStringLiteral("--exit-after 500 --exit-code 3")},
         {SettingsKeys::serverRestart, 1}});
    const auto w = openWindow(m_launcher);
    QLabel *state = w->interface->ui().serverState;
    QVERIFY(startServer(*w) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Restarting in 1 s"), Patience);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(QStringLiteral("Running since ")), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Restarting in 2 s"), Patience);
    QVERIFY(waitForLine(*w, QStringLiteral("Restarting in 2 s (crash 2 of 5 within 10 minutes)")));

    w->launcher()->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(state->text(), QStringLiteral("Stopped"));
    QCOMPARE(lines(*w).last(), QStringLiteral("Restart cancelled"));
    QVERIFY(drained(*w));
}

void ServerSupervisionWindowTest::notificationShowsTheServerPane()
{
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
    storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--exit-code 3")},
                      {SettingsKeys::serverDescription, QStringLiteral("Friday")}});
    const auto w = openWindow(m_launcher);
    const qsizetype before = m_service.calls().size();
    QVERIFY(startServer(*w) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_service.calls().size(), before + 1, Patience);
    const NotificationService::Call call = m_service.calls().last();
    QCOMPARE(call.summary, QStringLiteral("The server “Friday” crashed"));
    QCOMPARE(w->interface->window()->centralWidget(), w->launcher()->view1());
    m_service.invokeAction(call.id, QStringLiteral("default"));
    QTRY_COMPARE_WITH_TIMEOUT(w->interface->window()->centralWidget(), w->launcher()->view2(),
                              Patience);
    QVERIFY(w->interface->window()->isVisible());
    QVERIFY(drained(*w));
#else
    QSKIP("built without QtDBus");
#endif
}

VELMORA_LAUNCHER_TEST_MAIN(ServerSupervisionWindowTest)

#include "tst_serversupervision.moc"
