#pragma once

#include "CommandLine.h"
#include "ConsoleModel.h"
#include "HostProtocol.h"
#include "RuntimeFolder.h"
#include "ServerSession.h"

#include <QObject>
#include <QPointer>

#include <optional>
#include <unordered_map>
#include <vector>

class HostConnection;
class QSocketNotifier;
class QTimer;

// The server host: one ServerSession without a window, the console's last rows as they stand,
// and the clients attached on the user's socket (see RuntimeFolder and HostProtocol). Every
// client that subscribes gets the rows as they stood when it came and every row after them;
// any client may type commands, stop the server and ask for the state.
//
// The host lives as long as its server: once the session has stopped and its last run has
// drained, the host tells its clients, stops listening, writes the record of the run, lets its
// clients go (waiting a little for them to take the last rows) and emits finished(). The server
// is the host's child on a terminal of its own and dies with the host.
//
// Call order: listen(), then startServer() once; stop() at any time.
class ServerHost : public QObject, private ServerSession::Console
{
    Q_OBJECT
public:
    struct Options
    {
        QString gameDirectory;
        QString manager;   // what runs the host, in words, for status
        QString logFolder; // empty: the session's default
        bool echo = false; // rows also to standard output
        // Started for a window on another machine: the server starts with the settings that
        // window sends (HostProtocol::Start), not before; none within a minute ends the host.
        bool awaitSettings = false;
    };

    explicit ServerHost(const Options &options, QObject *parent = nullptr);
    ~ServerHost() override;

    // Takes the user's host lock and listens on the socket. False when that cannot be: problem()
    // says why, and otherHost() is the id of the host that runs already (0 when none does).
    bool listen();
    QString problem() const { return m_problem; }
    pid_t otherHost() const { return m_otherHost; }

    // Starts the dedicated server with the stored Server settings. False when no child could be
    // made: the console's line says why, and finished() follows.
    bool startServer();
    bool startServer(const ServerSettings &settings);
    // Waits for a client's settings instead (Options::awaitSettings).
    void awaitSettings();
    // Stops the server as the pane's Stop does.
    void stop();

    ServerSession *session() const { return m_session; }
    HostProtocol::State state() const;
    int clientCount() const { return int(m_clients.size()); }

Q_SIGNALS:
    // The host is done; 0 when its server was stopped or exited normally, 1 otherwise.
    void finished(int exitCode);

private:
    struct Client
    {
        QPointer<HostConnection> connection;
        bool greeted = false;
        bool subscribed = false;
    };

    void appendOutput(const QObject *run, const StyledText &text) override;
    int keptRows() const override { return ConsoleModel::MaxLines; }
    void endOutput(const QObject *run) override;
    void appendLine(const QString &line) override;

    void accept();
    void received(HostConnection *connection, const HostProtocol::Message &message);
    void greet(Client &client, const HostProtocol::Hello &hello);
    void runCommand(HostConnection *connection, const HostProtocol::Command &command);
    void forget(HostConnection *connection);
    Client *clientOf(HostConnection *connection);
    void broadcast(const QByteArray &frames, bool subscribersOnly);
    // Output is gathered for a moment and sent in one piece: a flood read in small chunks costs
    // the host and every window one write and one wake-up per gathering, not per chunk.
    void gatherOutput(const QByteArray &frames);
    void sendGathered();
    void sendState();
    quint32 runId(const QObject *run);
    void echo(QStringView text);
    void runningChanged(bool running);
    void maybeFinish();
    void finish();

    Options m_options;
    RuntimeFolder m_folder;
    UniqueFd m_lock;
    UniqueFd m_listener;
    QSocketNotifier *m_accepting = nullptr;
    QString m_problem;
    pid_t m_otherHost = 0;

    ServerSession *m_session = nullptr; // owned as a child
    ConsoleModel m_rows;
    const QObject *m_lastOutputRun = nullptr; // the run whose row stays open, if one does
    std::unordered_map<const QObject *, quint32> m_runIds;
    quint32 m_nextRunId = 1;
    std::vector<Client> m_clients;
    QByteArray m_lastState;
    QByteArray m_gathered;
    QTimer *m_gatherTimer = nullptr;

    QPointer<ServerRun> m_run; // the running server's run
    qint64 m_startedMs = 0;
    int m_starts = 0;
    QString m_lastEnd;
    std::optional<ExitStatus> m_lastStatus;

    bool m_capturing = false; // the session's lines while a command is handed to it
    QStringList m_captured;
    bool m_echoAtLineStart = true;
    bool m_finishing = false;
    bool m_finished = false;
    bool m_awaiting = false; // for a client's settings
};
