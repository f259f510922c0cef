#include "ServerHost.h"

#include "Preferences.h"
#include "SupervisionSettings.h"

#include "GameCommands.h"
#include "HostConnection.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// How long a finished host waits for its clients to take the last rows.
constexpr int FarewellMs = 3000;
// How long output waits to be sent with what follows it, and how much of it at most.
constexpr int GatherMs = 2;
// How long a host started for another machine waits for the settings to start its server with.
constexpr int AwaitSettingsMs = 60000;
constexpr qsizetype GatherBytes = 256 * 1024;
// Rows kept in the record of the last run.
constexpr int RecordRows = 20;
constexpr int RecordRowLength = 512;

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nobody reads our output any more: the clients and the log still do
        written += n;
    }
}

} // namespace

ServerHost::ServerHost(const Options &options, QObject *parent)
    : QObject(parent), m_options(options), m_session(new ServerSession(this))
{
    m_session->setConsole(this);
    // The same supervision as the window's: a stop that asks first, restarts after a crash.
    m_session->setSupervisionSettings([] { return SupervisionSettings::read(Preferences()); });
    connect(m_session, &ServerSession::stateChanged, this, [this] {
        sendState();
        maybeFinish();
    });
    m_gatherTimer = new QTimer(this);
    m_gatherTimer->setSingleShot(true);
    m_gatherTimer->setTimerType(Qt::PreciseTimer);
    m_gatherTimer->setInterval(GatherMs);
    connect(m_gatherTimer, &QTimer::timeout, this, &ServerHost::sendGathered);
    if (!options.logFolder.isEmpty())
        m_session->setLogFolder(options.logFolder);
    connect(m_session, &ServerSession::runningChanged, this, &ServerHost::runningChanged);
    connect(m_session, &ServerSession::logsChanged, this, [this] {
        sendState();
        maybeFinish();
    });
}

ServerHost::~ServerHost()
{
    // The server goes with the session (a child of ours) and the socket before the lock, so that
    // the next host never finds a socket of a live one.
    delete m_accepting;
    m_listener.reset();
    if (m_lock.isValid())
        m_folder.removeSocket();
    m_session->setConsole(nullptr);
}

bool ServerHost::listen()
{
    m_folder = RuntimeFolder::open(true);
    if (!m_folder.isOpen()) {
        m_problem = m_folder.problem();
        return false;
    }
    switch (m_folder.takeHostLock(&m_lock, &m_otherHost, &m_problem)) {
    case RuntimeFolder::Lock::Taken:
        break;
    case RuntimeFolder::Lock::Held:
        m_problem = m_otherHost > 0 ? tr("A server host runs already (process %1)").arg(m_otherHost)
                                    : tr("A server host runs already");
        return false;
    case RuntimeFolder::Lock::Failed:
        return false;
    }
    m_listener = m_folder.listen(&m_problem);
    if (!m_listener.isValid()) {
        m_lock.reset();
        return false;
    }
    m_accepting = new QSocketNotifier(m_listener.get(), QSocketNotifier::Read, this);
    connect(m_accepting, &QSocketNotifier::activated, this, &ServerHost::accept);
    return true;
}

bool ServerHost::startServer()
{
    return startServer(storedServerSettings());
}

void ServerHost::awaitSettings()
{
    m_awaiting = true;
    QTimer::singleShot(AwaitSettingsMs, this, [this] {
        if (!std::exchange(m_awaiting, false))
            return;
        m_lastEnd = tr("No settings came to start the server with");
        finish();
    });
}

bool ServerHost::startServer(const ServerSettings &settings)
{
    m_awaiting = false;
    if (m_session->start(serverLaunch(m_options.gameDirectory, settings)))
        return true;
    // Nothing ran: the host has nothing to hold on to.
    m_lastEnd = tr("The server could not be started");
    QTimer::singleShot(0, this, &ServerHost::finish);
    return false;
}

void ServerHost::stop()
{
    // A host still waiting for its settings has no server to stop: it goes.
    if (std::exchange(m_awaiting, false)) {
        m_lastEnd = tr("Stopped");
        finish();
        return;
    }
    m_session->stop();
}

HostProtocol::State ServerHost::state() const
{
    HostProtocol::State state;
    state.running = m_session->isRunning();
    state.pid = m_session->pid();
    state.startedMs = state.running ? m_startedMs : 0;
    state.restarts = quint32(std::max(0, m_starts - 1));
    state.lastEnd = m_lastEnd;
    state.log = m_session->logToOpen();
    state.logFolder = m_session->logFolder();
    state.hostPid = ::getpid();
    state.manager = m_options.manager;
    return state;
}

void ServerHost::runningChanged(bool running)
{
    if (running) {
        ++m_starts;
        m_startedMs = QDateTime::currentMSecsSinceEpoch();
        m_run = m_session->currentRun();
    } else {
        // A run we stopped has no end of its own (it was killed before it ended).
        m_lastStatus = m_run ? m_run->ownExitStatus() : std::nullopt;
        m_lastEnd = m_lastStatus ? ServerSession::exitStatusLine(*m_lastStatus) : tr("Stopped");
        m_run.clear();
    }
    sendState();
    maybeFinish();
}

// The console: rows kept as the window's console keeps them, and passed on.

void ServerHost::appendOutput(const QObject *run, const StyledText &text)
{
    m_rows.appendText(text.text, quintptr(run), text.spans);
    m_lastOutputRun = run;
    const quint32 id = runId(run);
    QByteArray frames;
    for (StyledText &piece : HostProtocol::splitOutput(text))
        frames += HostProtocol::encode(HostProtocol::Output{id, std::move(piece)});
    gatherOutput(frames);
    echo(text.text);
}

void ServerHost::endOutput(const QObject *run)
{
    m_rows.endText(quintptr(run));
    broadcast(HostProtocol::encode(HostProtocol::EndOutput{runId(run)}), true);
    m_runIds.erase(run);
}

void ServerHost::appendLine(const QString &line)
{
    m_rows.appendLine(line);
    if (m_capturing)
        m_captured << line;
    broadcast(HostProtocol::encode(HostProtocol::Line{line}), true);
    if (!m_echoAtLineStart)
        echo(u"\n");
    echo(line + u'\n');
}

quint32 ServerHost::runId(const QObject *run)
{
    if (!run)
        return 0;
    const auto found = m_runIds.find(run);
    if (found != m_runIds.end())
        return found->second;
    return m_runIds[run] = m_nextRunId++;
}

void ServerHost::echo(QStringView text)
{
    if (!m_options.echo || text.isEmpty())
        return;
    writeAll(STDOUT_FILENO, text.toUtf8());
    m_echoAtLineStart = text.endsWith(u'\n');
}

// Clients.

void ServerHost::accept()
{
    for (;;) {
        UniqueFd fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd.isValid()) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: all taken; anything else: tried again at the next wake-up
        }
        // The folder keeps others out; the kernel's word on the peer settles it.
        if (!RuntimeFolder::peerIsSameUser(fd.get()))
            continue;
        auto *connection = new HostConnection(std::move(fd), UniqueFd(), this);
        connect(connection, &HostConnection::received, this,
                [this, connection](const HostProtocol::Message &message) {
                    received(connection, message);
                });
        connect(connection, &HostConnection::closed, this,
                [this, connection] { forget(connection); });
        m_clients.push_back({connection});
        connection->send(HostProtocol::Hello{HostProtocol::Version, false});
    }
}

ServerHost::Client *ServerHost::clientOf(HostConnection *connection)
{
    const auto found = std::find_if(m_clients.begin(), m_clients.end(), [&](const Client &client) {
        return client.connection == connection;
    });
    return found == m_clients.end() ? nullptr : &*found;
}

void ServerHost::forget(HostConnection *connection)
{
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [&](const Client &client) {
                                       return !client.connection || client.connection == connection;
                                   }),
                    m_clients.end());
    connection->deleteLater();
    if (m_finishing && m_clients.empty())
        finish();
}

void ServerHost::received(HostConnection *connection, const HostProtocol::Message &message)
{
    Client *client = clientOf(connection);
    if (!client)
        return;
    if (const auto *hello = std::get_if<HostProtocol::Hello>(&message)) {
        greet(*client, *hello);
        return;
    }
    if (!client->greeted) {
        connection->refuse(tr("A client must say hello first"));
        return;
    }
    if (const auto *command = std::get_if<HostProtocol::Command>(&message))
        runCommand(connection, *command);
    else if (std::holds_alternative<HostProtocol::Stop>(message))
        stop();
    else if (const auto *flush = std::get_if<HostProtocol::FlushLog>(&message))
        m_session->flushLog(flush->log);
    else if (const auto *start = std::get_if<HostProtocol::Start>(&message); start && m_awaiting)
        startServer({start->options, start->description, start->password, start->maxClients});
}

void ServerHost::greet(Client &client, const HostProtocol::Hello &hello)
{
    HostConnection *connection = client.connection;
    if (hello.version != HostProtocol::Version) {
        connection->refuse(tr("This host speaks version %1 of the protocol, the client %2")
                               .arg(HostProtocol::Version)
                               .arg(hello.version));
        return;
    }
    // The rows below hold the output gathered so far: the others get it first, this one not.
    sendGathered();
    client.greeted = true;
    client.subscribed = hello.subscribe;
    connection->send(state());
    if (!client.subscribed)
        return;
    // The rows as they stand, then (from the next output on) everything that follows.
    QByteArray history;
    for (int i = 0; i < m_rows.lineCount(); ++i)
        history += HostProtocol::encode(HostProtocol::HistoryRow{m_rows.line(i), m_rows.spans(i)});
    HostProtocol::HistoryEnd end;
    end.open = m_rows.hasOpenRow();
    end.run = end.open ? runId(m_lastOutputRun) : 0;
    history += HostProtocol::encode(end);
    connection->sendFrames(history);
}

void ServerHost::runCommand(HostConnection *connection, const HostProtocol::Command &command)
{
    HostProtocol::CommandResult result;
    result.id = command.id;
    const int fieldLength = std::clamp<int>(command.fieldLength, 1, MaxCommandFieldLength);
    // The session says why a command was not sent in a line of its console: that line is the
    // answer too.
    m_capturing = true;
    m_captured.clear();
    result.sent = m_session->sendCommand(command.text, fieldLength);
    m_capturing = false;
    if (!result.sent)
        result.reason = m_captured.isEmpty() ? tr("No server is running") : m_captured.join(u'\n');
    connection->send(result);
}

void ServerHost::gatherOutput(const QByteArray &frames)
{
    m_gathered += frames;
    if (m_gathered.size() >= GatherBytes)
        sendGathered();
    else if (!m_gatherTimer->isActive())
        m_gatherTimer->start();
}

void ServerHost::sendGathered()
{
    m_gatherTimer->stop();
    if (m_gathered.isEmpty())
        return;
    const QByteArray frames = std::exchange(m_gathered, {});
    broadcast(frames, true);
}

void ServerHost::broadcast(const QByteArray &frames, bool subscribersOnly)
{
    // Whatever is sent goes after the output gathered before it.
    sendGathered();
    // A client that cannot keep up is dropped by its connection while we go through the list.
    std::vector<QPointer<HostConnection>> targets;
    for (const Client &client : m_clients) {
        if (client.greeted && (client.subscribed || !subscribersOnly))
            targets.push_back(client.connection);
    }
    for (const QPointer<HostConnection> &target : targets) {
        if (target)
            target->sendFrames(frames);
    }
}

void ServerHost::sendState()
{
    QByteArray frame = HostProtocol::encode(state());
    if (frame == m_lastState)
        return;
    m_lastState = frame;
    broadcast(frame, false);
}

void ServerHost::maybeFinish()
{
    // A server waiting to be restarted, or one still stopping, keeps the host.
    if (m_finishing || m_session->isActive() || m_session->isStopping() ||
        m_session->activeRunCount() > 0 || m_starts == 0)
        return;
    finish();
}

void ServerHost::finish()
{
    if (m_finished)
        return;
    if (!m_finishing) {
        m_finishing = true;
        sendGathered();
        // No one new comes in from here on, and a host started now finds no socket of ours.
        delete m_accepting;
        m_accepting = nullptr;
        m_listener.reset();
        if (m_lock.isValid())
            m_folder.removeSocket();
        // What a status or a starter shows once we have gone: how the run ended, and its last
        // rows for a server that ended at once.
        QJsonArray rows;
        for (int i = std::max(0, m_rows.lineCount() - RecordRows); i < m_rows.lineCount(); ++i)
            rows.append(m_rows.line(i).left(RecordRowLength));
        QJsonObject record{{QStringLiteral("started"), m_startedMs},
                           {QStringLiteral("ended"), QDateTime::currentMSecsSinceEpoch()},
                           {QStringLiteral("end"), m_lastEnd},
                           {QStringLiteral("log"), m_session->logToOpen()},
                           {QStringLiteral("rows"), rows}};
        if (m_folder.isOpen())
            m_folder.writeLastRun(QJsonDocument(record).toJson(QJsonDocument::Compact));
        // A client that had nothing left to take goes at once, and may finish us on its way.
        for (const Client &client : std::vector<Client>(m_clients)) {
            if (client.connection)
                client.connection->closeWhenWritten();
        }
        if (m_finished)
            return;
        if (!m_clients.empty()) {
            QTimer::singleShot(FarewellMs, this, &ServerHost::finish);
            return;
        }
    }
    m_finished = true;
    const bool fine = !m_lastStatus || (!m_lastStatus->signaled && m_lastStatus->code == 0);
    Q_EMIT finished(fine && m_starts > 0 ? 0 : 1);
}
