#pragma once

// Helpers shared by the server tests that drive the whole launcher window.

#include "ConsoleView.h"
#include "LauncherFixture.h"
#include "PtyTestSupport.h"
#include "ui_Launcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <cerrno>
#include <csignal>

namespace ServerTestSupport {

// Generous: two cores shared with other builds, and sanitizer builds fork slowly.
constexpr int Patience = 30000;

inline const QString Separator = QStringLiteral(" ");
// The pseudo-terminal turns each line feed into CR LF, and the launcher passes the CR on.
inline const QString LaunchError = QStringLiteral("Error - can't launch server\r");

inline QStringList lines(const LauncherFixture::Window &w)
{
    return w.interface->ui().console->lines();
}

inline QString title(const LauncherFixture::Window &w)
{
    return w.interface->ui().multiplayer->text();
}

inline bool waitForLine(const LauncherFixture::Window &w, const QString &line)
{
    return QTest::qWaitFor([&] { return lines(w).contains(line); }, Patience);
}

// Every run's output has ended and its child is reaped; the runs themselves are gone too.
inline bool drained(const LauncherFixture::Window &w)
{
    if (!QTest::qWaitFor([&] { return w.launcher()->activeRunCount() == 0; }, Patience))
        return false;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return true;
}

// The stand-in's record; an empty object, which fails the caller's comparisons, when none comes.
inline QJsonObject waitForRecord(const QString &file)
{
    if (!QTest::qWaitFor([&] { return QFile::exists(file); }, Patience))
        qWarning("no record at %s", qPrintable(file));
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

inline QStringList strings(const QJsonValue &array)
{
    QStringList out;
    for (const QJsonValue &v : array.toArray())
        out << v.toString();
    return out;
}

// True once the process is reaped: a zombie still answers kill(pid, 0).
inline bool processGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

// One of the scripts beside this header, by file name.
inline QString serverScript(const QString &name)
{
    return QStringLiteral(SERVER_SCRIPTS "/") + name;
}

// Places `script` as the game executable of a new launcher folder `root`, and returns the path
// the launcher executable is taken to have there.
inline QString scriptLauncherFolder(const QString &root, const QString &script)
{
    const QString exeDir = root + QStringLiteral("/Orvane/orvane.app/Contents/MacOS");
    QDir().mkpath(exeDir);
    const QString game = exeDir + QStringLiteral("/orvane");
    QFile::remove(game);
    // A missing script would only show later as a server that never speaks.
    if (!QFile::copy(script, game))
        qWarning("cannot copy %s", qPrintable(script));
    QFile::setPermissions(game, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return root + QStringLiteral("/velmora-launcher");
}

// A launcher folder `root` whose game executable is the /bin/sh script `body`.
inline QString inlineScriptLauncherFolder(const QString &root, const QByteArray &body)
{
    const QString exeDir = root + QStringLiteral("/Orvane/orvane.app/Contents/MacOS");
    QDir().mkpath(exeDir);
    PtyTestSupport::writeScript(exeDir, QStringLiteral("orvane"), body);
    return root + QStringLiteral("/velmora-launcher");
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
