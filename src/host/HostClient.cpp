#include "HostClient.h"

#include "ConsoleModel.h"
#include "HostConnection.h"
#include "ServerCommands.h"

#include <QFileInfo>

HostClient::HostClient(QObject *parent) : ServerControl(parent) {}

HostClient::~HostClient()
{
    if (m_connection)
        disconnect(m_connection, nullptr, this, nullptr);
}

RuntimeFolder::Reach HostClient::connectToHost(bool subscribe, QString *problem)
{
    const RuntimeFolder folder = RuntimeFolder::open(false);
    if (folder.isMissing())
        return RuntimeFolder::Reach::NoHost;
    if (!folder.isOpen()) {
        *problem = folder.problem();
        return RuntimeFolder::Reach::Refused;
    }
    UniqueFd socket;
    const RuntimeFolder::Reach reach = folder.connect(&socket, problem);
    if (reach == RuntimeFolder::Reach::Connected)
        open(std::move(socket), UniqueFd(), subscribe);
    return reach;
}

void HostClient::open(UniqueFd in, UniqueFd out, bool subscribe)
{
    if (m_connection)
        return;
    m_connection = new HostConnection(std::move(in), std::move(out), this);
    connect(m_connection, &HostConnection::received, this, &HostClient::received);
    connect(m_connection, &HostConnection::closed, this, &HostClient::closed);
    m_connection->send(HostProtocol::Hello{HostProtocol::Version, subscribe});
}

quint32 HostClient::command(const QString &text, int fieldLength)
{
    if (!m_connection)
        return 0;
    const quint32 id = m_nextCommand++;
    m_connection->send(HostProtocol::Command{id, fieldLength, text});
    return id;
}

void HostClient::startServer(const ServerSettings &settings)
{
    if (m_connection)
        m_connection->send(HostProtocol::Start{settings.options, settings.description,
                                               settings.password, settings.maxClients});
}

void HostClient::detach()
{
    if (m_connection)
        m_connection->closeWhenWritten();
}

void HostClient::setConsole(ServerSession::Console *console)
{
    m_console = console;
}

bool HostClient::sendCommand(const QString &command, int fieldLength)
{
    if (!m_running || !m_connection)
        return false;
    this->command(command, fieldLength);
    return commandFit(command, fieldLength) == CommandFit::Fits;
}

void HostClient::stop()
{
    if (m_connection)
        m_connection->send(HostProtocol::Stop{});
}

QString HostClient::logToOpen() const
{
    // The host's log, where this client can see it (the same machine).
    const QString log = state().log;
    return !log.isEmpty() && QFileInfo(log).isFile() ? log : QString();
}

QString HostClient::logFolder() const
{
    return state().logFolder;
}

void HostClient::flushLog(const QString &log)
{
    if (m_connection)
        m_connection->send(HostProtocol::FlushLog{log});
}

void HostClient::received(const HostProtocol::Message &message)
{
    if (const auto *hello = std::get_if<HostProtocol::Hello>(&message)) {
        if (hello->version != HostProtocol::Version) {
            m_connection->refuse(tr("The host speaks version %1 of the protocol, this program %2")
                                     .arg(hello->version)
                                     .arg(HostProtocol::Version));
            return;
        }
        m_greeted = true;
        return;
    }
    if (const auto *error = std::get_if<HostProtocol::Error>(&message)) {
        m_connection->close(error->text);
        return;
    }
    if (!m_greeted) {
        m_connection->refuse(tr("The host did not say hello first"));
        return;
    }
    if (const auto *state = std::get_if<HostProtocol::State>(&message)) {
        const bool logChanged = !m_state || m_state->log != state->log;
        m_state = *state;
        if (m_running != state->running) {
            m_running = state->running;
            Q_EMIT runningChanged(m_running);
        }
        if (logChanged)
            Q_EMIT logsChanged();
        Q_EMIT stateReceived();
    } else if (const auto *row = std::get_if<HostProtocol::HistoryRow>(&message)) {
        // The console keeps no more than this; a host that sends more loses the oldest.
        if (m_history.size() >= std::size_t(ConsoleModel::MaxLines))
            m_history.erase(m_history.begin());
        m_history.push_back(*row);
    } else if (const auto *end = std::get_if<HostProtocol::HistoryEnd>(&message)) {
        showHistory(*end);
    } else if (const auto *output = std::get_if<HostProtocol::Output>(&message)) {
        if (m_console)
            m_console->appendOutput(keyOf(output->run), output->text);
    } else if (const auto *ended = std::get_if<HostProtocol::EndOutput>(&message)) {
        if (m_console)
            m_console->endOutput(keyOf(ended->run));
        m_runKeys.erase(ended->run);
    } else if (const auto *line = std::get_if<HostProtocol::Line>(&message)) {
        if (m_console)
            m_console->appendLine(line->text);
    } else if (const auto *result = std::get_if<HostProtocol::CommandResult>(&message)) {
        Q_EMIT commandAnswered(result->id, result->sent, result->reason);
    }
}

void HostClient::showHistory(const HostProtocol::HistoryEnd &end)
{
    std::vector<HostProtocol::HistoryRow> rows;
    rows.swap(m_history);
    if (m_console) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            HostProtocol::HistoryRow &row = rows[i];
            // The last row may still be growing: it goes in as its run's, which continues it.
            if (end.open && i + 1 == rows.size()) {
                m_console->appendOutput(keyOf(end.run), {row.text, row.spans});
            } else if (row.spans.isEmpty()) {
                m_console->appendLine(row.text);
            } else {
                m_console->appendOutput(&m_historyKey, {row.text + u'\n', row.spans});
                m_console->endOutput(&m_historyKey);
            }
        }
    }
    Q_EMIT historyReceived();
}

const QObject *HostClient::keyOf(quint32 run)
{
    if (run == 0)
        return nullptr;
    std::unique_ptr<QObject> &key = m_runKeys[run];
    if (!key)
        key = std::make_unique<QObject>();
    return key.get();
}

void HostClient::closed(const QString &why)
{
    if (m_connection)
        m_connection->deleteLater();
    m_connection = nullptr;
    m_greeted = false;
    // Rows the host's runs left open are complete now: nothing more of them comes.
    for (const auto &[run, key] : m_runKeys) {
        if (m_console)
            m_console->endOutput(key.get());
    }
    m_runKeys.clear();
    m_history.clear();
    if (m_running) {
        m_running = false;
        Q_EMIT runningChanged(false);
    }
    Q_EMIT disconnected(why);
}
