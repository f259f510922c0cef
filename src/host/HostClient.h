#pragma once

#include "CommandLine.h"
#include "HostProtocol.h"
#include "RuntimeFolder.h"
#include "ServerControl.h"

#include <QObject>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class HostConnection;

// A client of the server host: the window's Server pane while it is attached to a host, and
// the terminal tool. As a ServerControl it stands in for a session of this process: rows reach
// the console (the history first, as it stood, then live), the state drives the button, and
// commands and Stop go to the host.
//
// Call order: connectToHost() or open(), then wait for stateReceived(); disconnected() ends it.
// Main thread only.
class HostClient : public ServerControl
{
    Q_OBJECT
public:
    explicit HostClient(QObject *parent = nullptr);
    ~HostClient() override;

    // Connects to this user's host and says hello. A subscriber gets the console's rows.
    RuntimeFolder::Reach connectToHost(bool subscribe, QString *problem);
    // Says hello over streams the caller made (a relay, an SSH channel); takes both over. `out`
    // may be invalid when `in` is a socket.
    void open(UniqueFd in, UniqueFd out, bool subscribe);
    bool isConnected() const { return m_connection != nullptr; }
    // Known once stateReceived() has come.
    bool hasState() const { return m_state.has_value(); }
    HostProtocol::State state() const { return m_state.value_or(HostProtocol::State()); }

    // Sends a command line; commandAnswered() follows with the id returned (0: not connected).
    quint32 command(const QString &text, int fieldLength);
    // Starts the server of a host that waits for its settings (one started for another machine).
    void startServer(const ServerSettings &settings);
    // Leaves the host and its server running; disconnected() follows once what was sent is out.
    void detach();

    void setConsole(ServerSession::Console *console) override;
    bool isRunning() const override { return m_running; }
    // The host supervises its server; this window shows only whether it runs.
    ServerSession::State serverState() const override
    {
        return m_running ? ServerSession::State::Running : ServerSession::State::Stopped;
    }
    QString stateText() const override { return QString(); }
    bool outlivesWindow() const override { return true; }
    // Sent to the host whatever it holds, so that the host's console says why it refuses one;
    // the answer here follows the same rule the host applies, so the field keeps what fails.
    bool sendCommand(const QString &command, int fieldLength) override;
    void stop() override;
    QString logToOpen() const override;
    QString logFolder() const override;
    void flushLog(const QString &log) override;

Q_SIGNALS:
    void stateReceived();
    // The rows as they stood have been handed to the console.
    void historyReceived();
    void commandAnswered(quint32 id, bool sent, const QString &reason);
    // The conversation is over: `why` is empty when it ended cleanly.
    void disconnected(const QString &why);

private:
    void received(const HostProtocol::Message &message);
    void closed(const QString &why);
    void showHistory(const HostProtocol::HistoryEnd &end);
    const QObject *keyOf(quint32 run);

    HostConnection *m_connection = nullptr;
    ServerSession::Console *m_console = nullptr;
    std::optional<HostProtocol::State> m_state;
    bool m_running = false;
    bool m_greeted = false;
    std::vector<HostProtocol::HistoryRow> m_history;
    // Tags that tell the host's runs apart in the console, as the runs themselves do locally.
    std::unordered_map<quint32, std::unique_ptr<QObject>> m_runKeys;
    QObject m_historyKey;
    quint32 m_nextCommand = 1;
};
