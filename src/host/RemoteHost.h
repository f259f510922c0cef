#pragma once

#include "CommandLine.h"
#include "ServerControl.h"
#include "UniqueFd.h"

#include <QPointer>
#include <QStringList>

#include <optional>
#include <vector>

class ChildWatch;
class HostClient;
class QSocketNotifier;
class QTimer;

// The server host on another machine, reached through the user's own ssh: the window's Server
// pane drives it as it drives a host of this computer. ssh carries the host's framed protocol on
// its standard input and output (`REMOTE-COMMAND attach --protocol [--start]` there); its standard
// error is kept for the failure in words. BatchMode: ssh never asks for a password or accepts an
// unknown host key, so nothing waits on a prompt no one sees.
//
// The remote host outlives this object, the window and the connection: only stop() (once
// connected) stops its server. A connection lost while the server ran is tried again with growing
// waits (1 s, doubling, up to 60 s) until it comes back, the server there is found gone, or
// cancel()/close() is called.
//
// Call order: connectToHost(), then the ServerControl calls; main thread only.
class RemoteHost : public ServerControl, private ServerSession::Console
{
    Q_OBJECT
public:
    // How long connecting may take before it is given up: ssh's own wait for the network, the
    // login and the host's start.
    static constexpr int ConnectTimeoutMs = 30000;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 60000;

    // `destination` as ssh takes it (host, user@host or a Host of ~/.ssh/config); `remoteCommand`
    // runs velmora-server there (empty: velmora-server).
    RemoteHost(const QString &destination, const QString &remoteCommand, QObject *parent = nullptr);
    ~RemoteHost() override;

    // Test seam: the ssh program and the options before the destination (a private config).
    static void setSshCommand(const QStringList &command);
    // The argument vector ssh is started with; never holds a server setting.
    QStringList sshArguments(bool startHost) const;

    // Attaches; with `startWith`, a host is started there where none runs, and its server with
    // these settings (sent inside the protocol). Without, a machine where no server runs leaves
    // this disconnected, quietly.
    void connectToHost(std::optional<ServerSettings> startWith = std::nullopt);
    bool isConnecting() const { return m_ssh != nullptr && !m_connected; }
    bool isConnected() const { return m_connected; }
    // Ends connecting, or the connection, and any retry; the server there keeps running.
    void close();
    QString destination() const { return m_destination; }
    // The ssh that carries the conversation now; -1 when none does.
    pid_t sshProcess() const;

    void setConsole(ServerSession::Console *console) override;
    bool isRunning() const override;
    ServerSession::State serverState() const override;
    QString stateText() const override { return m_stateText; }
    bool outlivesWindow() const override { return true; }
    bool sendCommand(const QString &command, int fieldLength) override;
    // Stops the server there once connected; while connecting or waiting to reconnect, gives up.
    void stop() override;
    // The logs lie on the other machine.
    QString logToOpen() const override { return QString(); }
    QString logFolder() const override { return QString(); }
    void flushLog(const QString &) override {}

Q_SIGNALS:
    // The attempt is over without a connection: `why` in words, with the line ssh wrote.
    void failed(const QString &why);
    // The server there was found stopped, or this stopped it: nothing is left to show.
    void ended();

private:
    // The host's rows pass through here: after a reconnection, the rows as they stand come again,
    // and only those this console has not shown yet go on to it.
    void appendOutput(const QObject *run, const StyledText &text) override;
    void endOutput(const QObject *run) override;
    void appendLine(const QString &line) override;
    void remember(const QString &text);
    void releaseHistory();

    struct HeldRow
    {
        const QObject *run = nullptr; // null: a line of the session's own
        StyledText text;
        bool end = false; // endOutput(run)
    };

    bool spawnSsh(bool startHost, QString *problem);
    void readErrors();
    void sshExited();
    void clientDisconnected(const QString &why);
    void stateReceived();
    void timedOut();
    void finishAttempt(const QString &why);
    void scheduleRetry();
    void say(const QString &line);
    void setStateText(const QString &text);
    QString explain(int exitCode) const;
    void dropSsh();

    QString m_destination;
    QString m_remoteCommand;
    std::optional<ServerSettings> m_startWith;
    HostClient *m_client = nullptr;
    ChildWatch *m_ssh = nullptr;
    UniqueFd m_errors;
    QSocketNotifier *m_errorNotifier = nullptr;
    QByteArray m_errorText;
    QTimer *m_deadline = nullptr;
    QTimer *m_retry = nullptr;
    int m_retryMs = FirstRetryMs;
    ServerSession::Console *m_console = nullptr;
    QString m_stateText;
    bool m_connected = false;
    bool m_running = false;
    bool m_stopping = false;
    bool m_closing = false;
    bool m_disconnectHandled = false;
    QString m_clientWhy;
    QString m_recent; // the end of what the console has been given
    bool m_holdingHistory = false;
    std::vector<HeldRow> m_held;
};
