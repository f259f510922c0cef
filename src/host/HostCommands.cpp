#include "HostCommands.h"

#include "ByteRelay.h"
#include "HostClient.h"
#include "HostStarter.h"
#include "LauncherPaths.h"
#include "RuntimeFolder.h"
#include "ServerCommands.h"
#include "ServerHost.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace HostCommands {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("HostCommands", text);
}

void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void say(const QString &text)
{
    writeTo(stdout, text + u'\n');
}

void complain(const QString &text)
{
    writeTo(stderr, text + u'\n');
}

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Runs the event loop until `done` answers true after one of the client's signals, or the
// client is disconnected. Answers `done`'s last word.
bool waitFor(HostClient &client, const std::function<bool()> &done)
{
    if (done() || !client.isConnected())
        return done();
    QEventLoop loop;
    const auto check = [&] {
        if (done() || !client.isConnected())
            loop.quit();
    };
    QObject::connect(&client, &HostClient::stateReceived, &loop, check);
    QObject::connect(&client, &HostClient::historyReceived, &loop, check);
    QObject::connect(&client, &HostClient::commandAnswered, &loop, check);
    QObject::connect(&client, &HostClient::disconnected, &loop, check, Qt::QueuedConnection);
    loop.exec();
    return done();
}

// Connects without subscribing and waits for the host's state. False with the reason said
// when the host cannot be asked; `*none` when no host runs.
bool reachHost(HostClient &client, bool subscribe, bool *none)
{
    QString problem;
    *none = false;
    switch (client.connectToHost(subscribe, &problem)) {
    case RuntimeFolder::Reach::NoHost:
        *none = true;
        return false;
    case RuntimeFolder::Reach::Refused:
        complain(problem);
        return false;
    case RuntimeFolder::Reach::Connected:
        break;
    }
    if (!waitFor(client, [&] { return client.hasState(); })) {
        *none = true; // it went while we asked: it is finishing
        return false;
    }
    return true;
}

// The rows of the console on a terminal: output as it comes, the session's lines each on a line
// of their own.
class PrintingConsole : public ServerSession::Console
{
public:
    void appendOutput(const QObject *run, const StyledText &text) override
    {
        if (run != m_openRun)
            endRow();
        write(text.text);
        m_openRun = m_atLineStart ? nullptr : run;
    }
    void endOutput(const QObject *run) override
    {
        if (run == m_openRun)
            endRow();
    }
    void appendLine(const QString &line) override
    {
        endRow();
        write(line + u'\n');
    }

private:
    void endRow()
    {
        if (!m_atLineStart)
            write(QStringLiteral("\n"));
        m_openRun = nullptr;
    }
    void write(const QString &text)
    {
        if (text.isEmpty())
            return;
        writeTo(stdout, text);
        m_atLineStart = text.endsWith(u'\n');
    }

    const QObject *m_openRun = nullptr;
    bool m_atLineStart = true;
};

// Lines typed on standard input, as they are completed; the end of input once.
class InputLines : public QObject
{
    Q_OBJECT
public:
    explicit InputLines(QObject *parent = nullptr) : QObject(parent)
    {
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &InputLines::read);
    }

Q_SIGNALS:
    void line(const QString &text);
    void ended();

private:
    void read()
    {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            m_notifier->setEnabled(false);
            // A last line without its line feed still counts.
            if (!m_pending.isEmpty())
                Q_EMIT line(QString::fromLocal8Bit(std::exchange(m_pending, {})));
            Q_EMIT ended();
            return;
        }
        m_pending.append(chunk, n);
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            QByteArray text = m_pending.left(end);
            m_pending.remove(0, end + 1);
            if (text.endsWith('\r'))
                text.chop(1);
            Q_EMIT line(QString::fromLocal8Bit(text));
        }
    }

    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};

// What the last host left about its run, in words; empty when it left nothing.
QStringList lastRunLines(bool withRows)
{
    const RuntimeFolder folder = RuntimeFolder::open(false);
    if (!folder.isOpen())
        return {};
    const QJsonObject record = QJsonDocument::fromJson(folder.readLastRun()).object();
    if (record.isEmpty())
        return {};
    QStringList lines;
    lines << tr("Last run: %1 (started %2, ended %3)")
                 .arg(record.value(QStringLiteral("end")).toString(),
                      timeText(qint64(record.value(QStringLiteral("started")).toDouble())),
                      timeText(qint64(record.value(QStringLiteral("ended")).toDouble())));
    const QString log = record.value(QStringLiteral("log")).toString();
    if (!log.isEmpty())
        lines << tr("Log: %1").arg(log);
    if (withRows) {
        for (const QJsonValue &row : record.value(QStringLiteral("rows")).toArray())
            lines << row.toString();
    }
    return lines;
}

} // namespace

int run(bool detached, bool awaitSettings)
{
    HostStarter::ReadyNotice ready;
    ServerHost::Options options;
    options.gameDirectory = LauncherPaths::gameDirectory(LauncherPaths::executablePath());
    options.manager = HostStarter::managerDescription(detached);
    options.echo = !detached;
    options.awaitSettings = awaitSettings;
    ServerHost host(options);
    if (!host.listen()) {
        complain(host.problem());
        return Failure;
    }
    // As Stop does; a second signal ends the host at once, and its server with it.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &host, &ServerHost::stop);
    QObject::connect(&host, &ServerHost::finished, qApp,
                     [](int code) { QCoreApplication::exit(code); });
    if (awaitSettings)
        host.awaitSettings();
    if (!awaitSettings && !host.startServer()) {
        complain(tr("The server could not be started"));
    } else {
        ready.send();
        if (detached) {
            // The starter reads our standard error until it closes: closed without a word, it
            // means ready.
            const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            if (null >= 0) {
                ::dup2(null, STDERR_FILENO);
                ::close(null);
            }
        }
    }
    return QCoreApplication::exec();
}

int start(bool detached)
{
    {
        HostClient client;
        bool none = false;
        if (reachHost(client, false, &none)) {
            if (client.state().running) {
                say(tr("A server runs already (process %1).").arg(client.state().pid));
                return Success;
            }
            // A host that is finishing: the new one starts once it has gone.
            waitFor(client, [] { return false; });
        } else if (!none) {
            return Failure;
        }
    }
    const QString program = LauncherPaths::executablePath();
    // A server that cannot even be executed would run for a moment only: said here, in words.
    const QString game = LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(program));
    if (::access(QFile::encodeName(game).constData(), X_OK) != 0) {
        complain(tr("The game %1 cannot be run: %2").arg(game, qt_error_string(errno)));
        return Failure;
    }
    const HostStarter::Result result = !detached && HostStarter::userManagerReachable()
                                           ? HostStarter::startUnderSystemd(program)
                                           : HostStarter::startDetached(program);
    if (!result.started) {
        complain(result.message);
        return Failure;
    }
    HostClient client;
    bool none = false;
    if (reachHost(client, false, &none) && client.state().running) {
        say(tr("Server started (process %1), %2.")
                .arg(client.state().pid)
                .arg(client.state().manager));
        return Success;
    }
    if (none) {
        // It ran, and ended before we could ask: its record says how.
        complain(tr("The server ended at once."));
        for (const QString &line : lastRunLines(true))
            complain(line);
    }
    return Failure;
}

int status()
{
    HostClient client;
    bool none = false;
    if (!reachHost(client, false, &none)) {
        if (!none)
            return Unknown;
        say(tr("State: not running"));
        for (const QString &line : lastRunLines(false))
            say(line);
        return NotRunning;
    }
    const HostProtocol::State state = client.state();
    if (state.running) {
        say(tr("State: running since %1").arg(timeText(state.startedMs)));
        say(tr("Process: %1").arg(state.pid));
    } else {
        say(tr("State: stopped, the host is finishing"));
    }
    say(tr("Restarts: %1").arg(state.restarts));
    say(tr("Last run: %1")
            .arg(state.lastEnd.isEmpty() ? tr("none before this one") : state.lastEnd));
    say(tr("Host: %1 (process %2)").arg(state.manager).arg(state.hostPid));
    if (!state.log.isEmpty())
        say(tr("Log: %1").arg(state.log));
    return state.running ? Success : NotRunning;
}

int send(const QString &command)
{
    HostClient client;
    bool none = false;
    if (!reachHost(client, false, &none) || !client.state().running) {
        if (none || client.hasState())
            complain(tr("No server is running."));
        return Failure;
    }
    const quint32 id = client.command(command, MaxCommandFieldLength);
    bool answered = false;
    bool sent = false;
    QString reason;
    QObject::connect(&client, &HostClient::commandAnswered, &client,
                     [&](quint32 answer, bool wasSent, const QString &why) {
                         if (answer != id)
                             return;
                         answered = true;
                         sent = wasSent;
                         reason = why;
                     });
    waitFor(client, [&] { return answered; });
    if (!answered) {
        complain(tr("The server host went away before it answered."));
        return Failure;
    }
    if (!sent) {
        complain(reason);
        return Failure;
    }
    client.detach();
    waitFor(client, [] { return false; });
    return Success;
}

int stop()
{
    HostClient client;
    bool none = false;
    if (!reachHost(client, false, &none)) {
        if (!none)
            return Failure;
        say(tr("No server is running."));
        return Success;
    }
    // The host goes once its server has stopped and drained.
    client.stop();
    waitFor(client, [] { return false; });
    say(tr("Server stopped."));
    return Success;
}

int attach(bool protocol, bool start)
{
    TerminationSignals termination;
    if (protocol) {
        RuntimeFolder folder = RuntimeFolder::open(false);
        UniqueFd socket;
        QString problem;
        RuntimeFolder::Reach reach =
            folder.isOpen() ? folder.connect(&socket, &problem) : RuntimeFolder::Reach::NoHost;
        if (reach == RuntimeFolder::Reach::NoHost && start) {
            // The client's Start message brings the settings; none of them is on a command line.
            const QString program = LauncherPaths::executablePath();
            const QStringList arguments{QStringLiteral("--await-settings")};
            const HostStarter::Result result =
                HostStarter::userManagerReachable()
                    ? HostStarter::startUnderSystemd(program, arguments)
                    : HostStarter::startDetached(program, arguments);
            if (!result.started) {
                complain(result.message);
                return Failure;
            }
            folder = RuntimeFolder::open(false);
            reach =
                folder.isOpen() ? folder.connect(&socket, &problem) : RuntimeFolder::Reach::NoHost;
        }
        if (reach != RuntimeFolder::Reach::Connected) {
            complain(folder.problem().isEmpty() && problem.isEmpty() ? tr("No server is running.")
                                                                     : problem + folder.problem());
            return Failure;
        }
        ByteRelay relay(STDIN_FILENO, STDOUT_FILENO, std::move(socket));
        QObject::connect(&relay, &ByteRelay::finished, qApp, &QCoreApplication::quit);
        QObject::connect(&termination, &TerminationSignals::received, qApp,
                         &QCoreApplication::quit);
        QCoreApplication::exec();
        return Success;
    }

    HostClient client;
    PrintingConsole console;
    client.setConsole(&console);
    bool none = false;
    if (!reachHost(client, true, &none)) {
        if (none)
            complain(tr("No server is running."));
        return Failure;
    }
    InputLines input;
    QObject::connect(&input, &InputLines::line, &client, [&client](const QString &line) {
        client.command(line, MaxCommandFieldLength);
    });
    QObject::connect(&client, &HostClient::commandAnswered, &client,
                     [](quint32, bool sent, const QString &reason) {
                         if (!sent)
                             complain(reason);
                     });
    // The end of input or Ctrl+C leaves the server running.
    QObject::connect(&input, &InputLines::ended, &client, &HostClient::detach);
    QObject::connect(&termination, &TerminationSignals::received, &client, &HostClient::detach);
    QObject::connect(&client, &HostClient::disconnected, qApp, [](const QString &why) {
        if (!why.isEmpty())
            complain(why);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return Success;
}

} // namespace HostCommands

#include "HostCommands.moc"
