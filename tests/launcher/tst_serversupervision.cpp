// How the window is wired to the session's supervision: the settings from their controls through
// the preferences file to the session; Stop, closing and a signal to the launcher waiting for a
// server that saves; the state beside the button through a restart; a notification's action
// showing the Server pane.
#include "LauncherFixture.h"

#include "ServerTestSupport.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "TerminationSignals.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"
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
    void stopWaitsForTheServer_data();
    void stopWaitsForTheServer();
    void restartNotifiesAndStopCancels();

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
    QVERIFY(m_service.start() && m_service.registerService());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_service.address());
#endif
}

void ServerSupervisionWindowTest::stopWaitsForTheServer_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("twice"); // asked again while the server is stopping: killed at once
    QTest::newRow("Stop: saved") << "stop" << false;
    QTest::newRow("Stop twice: killed at once") << "stop" << true;
    QTest::newRow("closing: saved, then closed") << "close" << false;
    QTest::newRow("Stop, then closing: saved, then closed") << "stop, close" << false;
    QTest::newRow("closing twice: killed and closed") << "close" << true;
    QTest::newRow("SIGTERM to the launcher: saved, then closed") << "signal" << false;
}

void ServerSupervisionWindowTest::stopWaitsForTheServer()
{
    QFETCH(QString, how);
    QFETCH(bool, twice);
    storePreferences({{SettingsKeys::serverOptions,
                       twice ? "--ignore-term" : "--commands --quit-delay 400 --ignore-term"}});
    const auto w = openWindow(m_launcher);
    Ui::ServerPaneForm &server = w->interface->serverUi();
    QVERIFY(server.serverNotifyCheck->isChecked()); // on while nothing is stored
    server.serverStopTimeoutSpin->setValue(30);
    server.serverQuitCommandEdit->setText(QStringLiteral("quit"));
    server.serverQuitCommandEdit->setModified(true);
    w->interface->binding()->commitEditing();
    QMainWindow *window = w->interface->window();
    window->show();
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::received, window, &QWidget::close);
    QLabel *state = server.serverState;
    const pid_t pid = startServer(*w);
    QVERIFY(waitForLine(*w, ReadyLine));
    QVERIFY(state->text().startsWith(QStringLiteral("Running since ")));
    const auto ask = [&] {
        if (how.startsWith(u"stop"))
            w->launcher()->multiplayerAction();
        else if (how == u"close")
            window->close();
        else
            ::raise(SIGTERM);
    };
    ask();
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Stopping…"), Patience);
    QCOMPARE(state->accessibleDescription(), QStringLiteral("Stopping…"));
    QVERIFY(window->isVisible() && w->terminateCalls == 0);
    if (how == u"stop, close")
        QVERIFY(!window->close()); // waits with the stop under way
    if (twice) {
        ask();
        QCOMPARE(title(*w), QStringLiteral("Start"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QCOMPARE(state->text(), QStringLiteral("Stopped"));
    QCOMPARE(w->terminateCalls, how == u"stop" ? 0 : 1);
    QCOMPARE(lines(*w).contains(QStringLiteral("Saving before stopping")), !twice);
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));
}

void ServerSupervisionWindowTest::restartNotifiesAndStopCancels()
{
    storePreferences({{SettingsKeys::serverOptions, "--exit-after 500 --exit-code 3"},
                      {SettingsKeys::serverDescription, "Friday"}});
    const auto w = openWindow(m_launcher);
    w->interface->serverUi().serverRestartCheck->toggle();
    QLabel *state = w->interface->serverUi().serverState;
    QVERIFY(startServer(*w) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Restarting in 1 s"), Patience);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
    QTRY_VERIFY_WITH_TIMEOUT(!m_service.calls.isEmpty(), Patience);
    QCOMPARE(m_service.calls.last().summary, QStringLiteral("The server “Friday” crashed"));
    QCOMPARE(w->interface->window()->centralWidget(), w->launcher()->view1());
    Q_EMIT m_service.ActionInvoked(m_service.calls.last().id, QStringLiteral("default"));
    QTRY_COMPARE_WITH_TIMEOUT(w->interface->window()->centralWidget(), w->launcher()->view2(),
                              Patience);
#endif
    QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(QStringLiteral("Running since ")), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Restarting in 2 s"), Patience);
    w->launcher()->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(state->text(), QStringLiteral("Stopped"));
    QCOMPARE(lines(*w).last(), QStringLiteral("Restart cancelled"));
    QVERIFY(drained(*w));
}

VELMORA_LAUNCHER_TEST_MAIN(ServerSupervisionWindowTest)

#include "tst_serversupervision.moc"
