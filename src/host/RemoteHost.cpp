#include "RemoteHost.h"

#include "ChildWatch.h"
#include "HostClient.h"
#include "SpawnSetup.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

namespace {

QStringList &sshCommand()
{
    static QStringList command{QStringLiteral("ssh")};
    return command;
}

// Both ends of a pipe, neither inherited by any child but the one each is handed to.
bool makePipe(UniqueFd *readEnd, UniqueFd *writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    *readEnd = UniqueFd(fds[0]);
    *writeEnd = UniqueFd(fds[1]);
    return true;
}

} // namespace

RemoteHost::RemoteHost(const QString &destination, const QString &remoteCommand, QObject *parent)
    : ServerControl(parent), m_destination(destination),
      m_remoteCommand(remoteCommand.trimmed().isEmpty() ? QStringLiteral("velmora-server")
                                                        : remoteCommand.trimmed())
{
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(ConnectTimeoutMs);
    connect(m_deadline, &QTimer::timeout, this, &RemoteHost::timedOut);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, [this] { connectToHost(); });
}

RemoteHost::~RemoteHost()
{
    // The server there keeps running: only our end of the conversation goes.
    m_closing = true;
    if (m_client)
        disconnect(m_client, nullptr, this, nullptr);
    if (m_ssh && !m_ssh->isReaped())
        ::kill(m_ssh->pid(), SIGTERM);
}

void RemoteHost::setSshCommand(const QStringList &command)
{
    sshCommand() = command;
}

QStringList RemoteHost::sshArguments(bool startHost) const
{
    QStringList arguments = sshCommand();
    // ConnectTimeout bounds ssh's own wait for the network; the keep-alives notice a connection
    // that died without a word (a laptop asleep, a cable pulled) within about 45 s.
    arguments << QStringLiteral("-T") << QStringLiteral("-o") << QStringLiteral("BatchMode=yes")
              << QStringLiteral("-o") << QStringLiteral("ConnectTimeout=20") << QStringLiteral("-o")
              << QStringLiteral("ServerAliveInterval=15") << QStringLiteral("-o")
              << QStringLiteral("ServerAliveCountMax=3")
              // A destination that starts with '-' is a destination, not an option.
              << QStringLiteral("--") << m_destination
              << m_remoteCommand + QStringLiteral(" attach --protocol") +
                     (startHost ? QStringLiteral(" --start") : QString());
    return arguments;
}

void RemoteHost::connectToHost(std::optional<ServerSettings> startWith)
{
    if (m_ssh)
        return;
    m_closing = false;
    m_stopping = false;
    m_connected = false;
    m_disconnectHandled = false;
    m_clientWhy.clear();
    m_errorText.clear();
    if (startWith)
        m_startWith = startWith;
    QString problem;
    if (!spawnSsh(m_startWith.has_value(), &problem)) {
        say(problem);
        Q_EMIT failed(problem);
        return;
    }
    setStateText(tr("Connecting to %1…").arg(m_destination));
    m_deadline->start();
}

bool RemoteHost::spawnSsh(bool startHost, QString *problem)
{
    UniqueFd toSsh, sshIn, fromSsh, sshOut, errors, sshErr;
    if (!makePipe(&sshIn, &toSsh) || !makePipe(&fromSsh, &sshOut) || !makePipe(&errors, &sshErr)) {
        *problem = tr("ssh cannot be started: %1").arg(qt_error_string(errno));
        return false;
    }
    const QStringList arguments = sshArguments(startHost);
    QList<QByteArray> words;
    for (const QString &argument : arguments)
        words << QFile::encodeName(argument);
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    // A group of its own: a Ctrl+C in the terminal the launcher was started from is not for it.
    posix_spawnattr_setpgroup(&setup.attr, 0);
    setup.resetSignals(POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_adddup2(&setup.actions, sshIn.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, sshOut.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, sshErr.get(), STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    pid_t pid = -1;
    const int spawned =
        posix_spawnp(&pid, argv[0], &setup.actions, &setup.attr, argv.data(), environ);
    if (spawned != 0) {
        *problem = tr("%1 cannot be started: %2").arg(arguments.first(), qt_error_string(spawned));
        return false;
    }

    m_ssh = new ChildWatch(pid, this);
    connect(m_ssh, &ChildWatch::exited, this, &RemoteHost::sshExited, Qt::QueuedConnection);
    m_errors = std::move(errors);
    m_errorNotifier = new QSocketNotifier(m_errors.get(), QSocketNotifier::Read, this);
    connect(m_errorNotifier, &QSocketNotifier::activated, this, &RemoteHost::readErrors);

    m_client = new HostClient(this);
    m_client->setConsole(this);
    // A reconnection: the history holds rows shown already.
    m_holdingHistory = m_retryMs != FirstRetryMs && !m_recent.isEmpty();
    m_held.clear();
    connect(m_client, &HostClient::historyReceived, this, &RemoteHost::releaseHistory);
    connect(m_client, &HostClient::stateReceived, this, &RemoteHost::stateReceived);
    connect(m_client, &HostClient::disconnected, this, &RemoteHost::clientDisconnected);
    m_client->open(std::move(fromSsh), std::move(toSsh), true);
    Q_EMIT runningChanged(isRunning());
    return true;
}

void RemoteHost::readErrors()
{
    char buffer[4096];
    const ssize_t n = ::read(m_errors.get(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_errorNotifier->setEnabled(false);
        return;
    }
    // Enough for the reason; ssh says it in a line or two.
    if (m_errorText.size() < 64 * 1024)
        m_errorText.append(buffer, n);
}

void RemoteHost::stateReceived()
{
    m_deadline->stop();
    const bool first = !m_connected;
    m_connected = true;
    if (first) {
        if (m_retryMs != FirstRetryMs)
            say(tr("Connected to %1 again.").arg(m_destination));
        m_retryMs = FirstRetryMs;
        setStateText(tr("On %1").arg(m_destination));
    }
    const HostProtocol::State state = m_client->state();
    if (m_startWith && !state.running) {
        // A host waiting for its settings: the window's, inside the protocol.
        m_client->startServer(*m_startWith);
    }
    m_startWith.reset();
    if (state.running != m_running) {
        m_running = state.running;
        Q_EMIT runningChanged(isRunning());
    }
    Q_EMIT stateChanged();
}

void RemoteHost::clientDisconnected(const QString &why)
{
    m_clientWhy = why;
    // ssh is told to go; its end (and what it wrote) decides what this was.
    if (m_ssh && !m_ssh->isReaped())
        ::kill(m_ssh->pid(), SIGTERM);
    if (m_ssh && m_ssh->exitStatus())
        sshExited();
}

void RemoteHost::sshExited()
{
    // Both ends must be over: the conversation may still hold the host's last rows.
    if (!m_ssh || !m_ssh->exitStatus() || (m_client && m_client->isConnected()) ||
        m_disconnectHandled)
        return;
    m_disconnectHandled = true;
    while (m_errorNotifier && m_errorNotifier->isEnabled())
        readErrors();
    const ExitStatus status = *m_ssh->exitStatus();
    finishAttempt(status.signaled ? QString() : explain(status.code));
}

void RemoteHost::timedOut()
{
    m_clientWhy =
        tr("No answer from %1 within %2 s").arg(m_destination).arg(ConnectTimeoutMs / 1000);
    if (m_ssh && !m_ssh->isReaped())
        ::kill(m_ssh->pid(), SIGTERM);
    if (m_client)
        m_client->detach();
}

void RemoteHost::finishAttempt(const QString &explained)
{
    const bool wasConnected = m_connected;
    const bool serverWasRunning = m_running;
    const QString noServer = QStringLiteral("No server is running.");
    const bool serverGone = m_errorText.contains(noServer.toUtf8());
    dropSsh();
    if (m_closing) {
        setStateText(QString());
    } else if (wasConnected && serverWasRunning && !m_stopping) {
        say(tr("The connection to %1 was lost; the server there keeps running.")
                .arg(m_destination));
        scheduleRetry();
    } else if (wasConnected || serverGone) {
        // The server there stopped (this window's Stop, or another's), or was gone already.
        if (serverGone && m_retryMs != FirstRetryMs)
            say(tr("The server on %1 is no longer running.").arg(m_destination));
        m_retryMs = FirstRetryMs;
        setStateText(QString());
        Q_EMIT ended();
    } else {
        const QString why = m_clientWhy.isEmpty() ? explained : m_clientWhy;
        say(why);
        if (m_retryMs != FirstRetryMs) {
            scheduleRetry();
        } else {
            setStateText(why);
            Q_EMIT failed(why);
        }
    }
    m_running = false;
    Q_EMIT runningChanged(isRunning());
    Q_EMIT stateChanged();
}

QString RemoteHost::explain(int exitCode) const
{
    QString said;
    for (const QByteArray &line : m_errorText.split('\n')) {
        if (!line.trimmed().isEmpty())
            said = QString::fromLocal8Bit(line.trimmed());
    }
    const QString text = QString::fromLocal8Bit(m_errorText).toLower();
    QString why;
    if (text.contains(u"could not resolve hostname") || text.contains(u"name or service not known"))
        why = tr("There is no host %1").arg(m_destination);
    else if (text.contains(u"connection refused"))
        why = tr("%1 refused the connection: no SSH server listens there").arg(m_destination);
    else if (text.contains(u"host key verification failed") ||
             text.contains(u"identification has changed"))
        why = tr("The host key of %1 is unknown or has changed: check it, and accept it with "
                 "ssh %1 in a terminal")
                  .arg(m_destination);
    else if (text.contains(u"permission denied"))
        why = tr("%1 refused the login: it accepts none of your keys (a password cannot be asked "
                 "for here)")
                  .arg(m_destination);
    else if (text.contains(u"timed out") || text.contains(u"no route to host") ||
             text.contains(u"network is unreachable"))
        why = tr("%1 cannot be reached").arg(m_destination);
    else if (exitCode == 127 || text.contains(u"command not found") ||
             text.contains(u"no such file"))
        why = tr("%1 is not installed on %2 (Remote command)").arg(m_remoteCommand, m_destination);
    else
        why = tr("The connection to %1 ended (ssh's exit status %2)")
                  .arg(m_destination)
                  .arg(exitCode);
    return said.isEmpty() ? why : tr("%1; ssh said: %2").arg(why, said);
}

void RemoteHost::scheduleRetry()
{
    setStateText(tr("Connection lost; trying again in %1 s").arg(m_retryMs / 1000));
    m_retry->start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, LastRetryMs);
}

void RemoteHost::dropSsh()
{
    m_holdingHistory = false;
    m_held.clear();
    m_deadline->stop();
    m_connected = false;
    if (m_client) {
        disconnect(m_client, nullptr, this, nullptr);
        m_client->deleteLater();
        m_client = nullptr;
    }
    delete m_errorNotifier;
    m_errorNotifier = nullptr;
    m_errors.reset();
    if (m_ssh) {
        m_ssh->deleteLater();
        m_ssh = nullptr;
    }
}

void RemoteHost::close()
{
    m_closing = true;
    m_retry->stop();
    m_deadline->stop();
    m_startWith.reset();
    if (m_client)
        m_client->detach();
    if (m_ssh && !m_ssh->isReaped())
        ::kill(m_ssh->pid(), SIGTERM);
    if (!m_ssh) {
        setStateText(QString());
        Q_EMIT runningChanged(isRunning());
    }
}

pid_t RemoteHost::sshProcess() const
{
    return m_ssh && !m_ssh->isReaped() ? m_ssh->pid() : -1;
}

void RemoteHost::setConsole(ServerSession::Console *console)
{
    m_console = console;
}

void RemoteHost::appendOutput(const QObject *run, const StyledText &text)
{
    if (m_holdingHistory) {
        m_held.push_back({run, text, false});
        return;
    }
    remember(text.text);
    if (m_console)
        m_console->appendOutput(run, text);
}

void RemoteHost::endOutput(const QObject *run)
{
    if (m_holdingHistory) {
        m_held.push_back({run, {}, true});
        return;
    }
    if (m_console)
        m_console->endOutput(run);
}

void RemoteHost::appendLine(const QString &line)
{
    if (m_holdingHistory) {
        m_held.push_back({nullptr, {line, {}}, false});
        return;
    }
    remember((m_recent.endsWith(u'\n') || m_recent.isEmpty() ? QString() : QStringLiteral("\n")) +
             line + u'\n');
    if (m_console)
        m_console->appendLine(line);
}

void RemoteHost::remember(const QString &text)
{
    m_recent += text;
    if (m_recent.size() > 16384)
        m_recent.remove(0, m_recent.size() - 8192);
}

void RemoteHost::releaseHistory()
{
    if (!std::exchange(m_holdingHistory, false))
        return;
    // The last whole row shown before the connection went: the rows after it in the history are
    // the ones missed. Without it there (more than the history holds went by), all of them are.
    const QString shown = m_recent.endsWith(u'\n') ? m_recent.chopped(1) : m_recent;
    const QString lastRow = shown.mid(shown.lastIndexOf(u'\n') + 1);
    std::size_t from = 0;
    for (std::size_t i = 0; i < m_held.size(); ++i) {
        const HeldRow &row = m_held[i];
        const QString text =
            row.run ? row.text.text.chopped(row.text.text.endsWith(u'\n') ? 1 : 0) : row.text.text;
        if (!row.end && text == lastRow)
            from = i + 1;
    }
    std::vector<HeldRow> rows;
    rows.swap(m_held);
    for (std::size_t i = from; i < rows.size(); ++i) {
        if (rows[i].end)
            endOutput(rows[i].run);
        else if (rows[i].run)
            appendOutput(rows[i].run, rows[i].text);
        else
            appendLine(rows[i].text.text);
    }
}

bool RemoteHost::isRunning() const
{
    // Connecting and waiting to reconnect count: Stop is what gives them up.
    return (m_ssh && !m_closing) || m_retry->isActive();
}

ServerSession::State RemoteHost::serverState() const
{
    if (m_stopping && m_ssh)
        return ServerSession::State::Stopping;
    return isRunning() ? ServerSession::State::Running : ServerSession::State::Stopped;
}

bool RemoteHost::sendCommand(const QString &command, int fieldLength)
{
    if (!m_connected || !m_client) {
        say(tr("Not connected to %1: the command was not sent.").arg(m_destination));
        return false;
    }
    return m_client->sendCommand(command, fieldLength);
}

void RemoteHost::stop()
{
    if (m_connected && m_client) {
        m_stopping = true;
        m_client->stop();
        Q_EMIT stateChanged();
        return;
    }
    if (isConnecting() || m_retry->isActive()) {
        say(tr("Connecting to %1 given up; a server there keeps running.").arg(m_destination));
        close();
    }
}

void RemoteHost::say(const QString &line)
{
    if (m_console)
        m_console->appendLine(line);
}

void RemoteHost::setStateText(const QString &text)
{
    if (m_stateText == text)
        return;
    m_stateText = text;
    Q_EMIT stateChanged();
}
