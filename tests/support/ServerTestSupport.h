#pragma once

// Helpers shared by the server tests that drive the whole launcher window.

#include "ConsoleView.h"
#include "LauncherFixture.h"
#include "ProcessTestSupport.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <cerrno>
#include <csignal>

namespace ServerTestSupport {

using LauncherFixture::Patience;

inline const QString Separator = QStringLiteral(" ");
// The pseudo-terminal turns each line feed into CR LF; the console ends the line at the pair.
inline const QString LaunchError = QStringLiteral("Error - can't launch server");

inline QStringList lines(const LauncherFixture::Window &w)
{
    return w.interface->serverUi().console->lines();
}

inline QString title(const LauncherFixture::Window &w)
{
    return w.interface->serverUi().multiplayer->text().remove(
        u'&'); // as shown, without the mnemonic
}

// The Server pane's command line.
inline QLineEdit *commandLine(const LauncherFixture::Window &w)
{
    return w.interface->serverUi().serverCommand;
}

// Puts `command` into the command line as typing would (QTest types ASCII only) and presses
// Return.
inline void typeCommand(const LauncherFixture::Window &w, const QString &command)
{
    QLineEdit *field = commandLine(w);
    field->clear();
    field->insert(command);
    QTest::keyClick(field, Qt::Key_Return);
}

inline bool waitForLine(const LauncherFixture::Window &w, const QString &line)
{
    return QTest::qWaitFor([&] { return lines(w).contains(line); }, Patience);
}

// The stand-in's last banner line.
inline const QString ReadyLine = QStringLiteral("Server ready.");

// Presses Start; the new run's server, or -1 when none started.
inline pid_t startServer(const LauncherFixture::Window &w)
{
    w.launcher()->multiplayerAction();
    return w.launcher()->server();
}

// Every run's output has ended and its child is reaped; the runs themselves are gone too.
inline bool drained(const LauncherFixture::Window &w)
{
    if (!QTest::qWaitFor([&] { return w.launcher()->activeRunCount() == 0; }, Patience))
        return false;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return true;
}

// Presses Stop and waits until every run has drained.
inline bool stopServer(const LauncherFixture::Window &w)
{
    w.launcher()->multiplayerAction();
    return drained(w);
}

// True once the process is reaped: a zombie still answers kill(pid, 0).
inline bool processGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

using ProcessTestSupport::processDead;

// The process ids of the stand-in's helpers (--children), from their "child PID" and
// "grandchild PID" lines.
inline QList<pid_t> announcedHelpers(const LauncherFixture::Window &w)
{
    QList<pid_t> pids;
    for (const QString &line : lines(w)) {
        const QStringList words = line.trimmed().split(u' ');
        if (words.size() == 2 && (words.at(0) == u"child" || words.at(0) == u"grandchild"))
            pids << pid_t(words.at(1).toInt());
    }
    return pids;
}

// One of the server scripts in tests/launcher/server, by file name.
inline QString serverScript(const QString &name)
{
    return QStringLiteral(SERVER_SCRIPTS "/") + name;
}

// Captures every message while alive, debug categories included, and lets none through.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_messages.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
        m_previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    static QStringList messages() { return s_messages; }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        s_messages << message;
    }
    static inline QStringList s_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace ServerTestSupport
