#pragma once

#include "EscapeParser.h"
#include "GameCommands.h"
#include "LogWriter.h"
#include "NotificationThrottle.h"
#include "RestartPolicy.h"
#include "ServerCommands.h"
#include "ServerRun.h"
#include "SupervisionSettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

class ServerLog;

// The Server pane's controller, with no widgets: it owns the runs (the current one and stopped
// ones still draining their output), each run's escape parser and log, the log writer and the
// flow control between a run's reads and its log, typed commands and the lines that say how a
// run ended. It also looks after the server: a stop that asks first and kills only after a
// timeout, a restart after a crash, and a word to the host (through a Notifier) when it falls.
// A front end (the window's pane, or one without a window) gives it a Console for the rows and
// follows runningChanged() and stateChanged() for the rest.
//
// Main thread only.
class ServerSession : public QObject
{
    Q_OBJECT
public:
    // Where the session's rows go. Output rows carry the run they belong to, so that a row a
    // read cut in two is continued by the next read of the same run only.
    class Console
    {
    public:
        // The session's own lines apart from its notes (appendLine()): a command it sent, and the
        // separator after a run.
        enum class LineKind
        {
            Command,
            Separator
        };

        virtual ~Console() = default;
        // Output of one run, escape sequences taken out, line feeds still in it.
        virtual void appendOutput(const QObject *run, const StyledText &text) = 0;
        // The run's output has ended: a row it left open is complete.
        virtual void endOutput(const QObject *run) = 0;
        // One of the session's own lines: an exit status, a refusal, a failure.
        virtual void appendLine(const QString &line) = 0;
        // A line of the session's of another kind, for a console that shows kinds apart. By
        // default a command is shown as any other line, and the separator as output of no run.
        virtual void appendSessionLine(LineKind kind, const QString &line);
        // How many of the newest rows this console keeps: the output's older rows get no style
        // spans, since they are dropped unseen. -1: all of them.
        virtual int keptRows() const { return -1; }
    };

    // What a sent command is echoed as, in the console and in the log.
    static QString commandEcho(const QString &command);

    // Where the session tells the host that the server fell (crashed, was restarted, was given up,
    // or had to be killed on its way out). Each call must return at once, whatever the desktop
    // does; the session has already let the same event through only once a minute.
    class Notifier
    {
    public:
        virtual ~Notifier() = default;
        virtual void notify(const QString &summary, const QString &body) = 0;
    };

    enum class State
    {
        Stopped,        // no server; also after a stop, a kill or an end that was no crash
        Running,        // a server runs (isRunning())
        Stopping,       // asked to stop, waiting up to the stop timeout (isRunning() still)
        RestartPending, // crashed; started again when the wait is over
        GaveUp          // crashed too often to be restarted
    };

    explicit ServerSession(QObject *parent = nullptr);
    ~ServerSession() override;

    // Not owned; it must outlive the session or be replaced first. Null shows nothing.
    void setConsole(Console *console);
    // Not owned, like the console; null tells nothing.
    void setNotifier(Notifier *notifier);
    // Where the supervision settings come from, asked at each use (a stop, a crash, a notice); by
    // default the defaults: no quit command, no stop timeout (Stop kills at once), no restart.
    void setSupervisionSettings(std::function<SupervisionSettings()> source);
    // Test seam: how long one second of the wait before a restart lasts.
    void setRestartSecond(std::chrono::milliseconds length) { m_restartSecond = length; }
    // Where the runs' logs go; the default is LogFolder::defaultFolder() as it is at each start.
    void setLogFolder(const QString &folder);
    QString logFolder() const;

    bool isRunning() const { return m_current != nullptr; }
    // The running server's process id, or -1 when none runs. A stopped run that is still
    // draining its output does not count.
    pid_t pid() const;
    ServerRun *currentRun() const { return m_current; }
    // The runs whose output is still being read: the current one and stopped ones still draining.
    int activeRunCount() const { return int(m_runs.size()); }

    // Running or waiting to restart: what Stop acts on.
    bool isActive() const { return m_current != nullptr || m_state == State::RestartPending; }
    bool isStopping() const { return m_state == State::Stopping; }
    State state() const { return m_state; }
    // The state in words, for a label beside the button or a host's status line: "Running since
    // 14:02", "Stopping…", "Restarting in 4 s" (counting down: ask again to refresh it), "Crashed
    // 5 times within 10 minutes: not restarting", "Stopped".
    QString stateText() const;

    // Starts a server unless one runs, forgetting earlier crashes (a pending restart is dropped).
    // False when no child could be made: the console says so and nothing else changes.
    bool start(const ServerLaunch &launch);
    // Stops the server as the settings say. With a stop timeout of 0: SIGKILL to the running
    // server's process group, then serverTerminated(). Above 0: the quit command typed into its
    // terminal, SIGTERM to the group, and the state Stopping until the server has ended (its
    // process and its output) or the timeout has passed, when the group gets SIGKILL; it never
    // waits in the call. A stop while Stopping kills at once; while a restart is pending it drops
    // the restart.
    void stop();
    // Kills at once whatever the settings say (SIGKILL to the group, then serverTerminated());
    // drops a pending restart.
    void kill();
    // Marks the running server as gone: it stays to drain its output, the console gets the
    // separator line.
    void serverTerminated();
    // One completed read of `run`'s output.
    void serverDataAvailable(ServerRun *run, const QString &text, ServerRun::Read read);

    // Writes a typed command and a line feed to the running server's terminal, never waiting on
    // it. True when the server has it (or will, as soon as it reads); otherwise a console line
    // says why, and nothing was sent. A command is refused whole, never cut: one longer than
    // the terminal takes in a line, or one that fills all `fieldLength` characters of the field
    // it was typed in (part of it may be missing).
    bool sendCommand(const QString &command, int fieldLength = MaxCommandFieldLength);

    // The log Open Log opens: the newest run's, or the newest in the folder; empty if none.
    QString logToOpen() const;
    // Hands what the console has shown so far to the writer of `log`, if a run writes it, so
    // that a viewer opened now reads all of it.
    void flushLog(const QString &log);
    // The line that tells how a server ended by itself.
    static QString exitStatusLine(const ExitStatus &status);

Q_SIGNALS:
    void runningChanged(bool running);
    // state() or stateText() changed (except the restart countdown, which changes every second).
    void stateChanged();
    // A log was made or a run ended: Open Log may have something else to open.
    void logsChanged();
    // A log failed (said once per log, also in the console): for the window's message bar.
    void logFailed(const QString &message);

private:
    struct RunOutput
    {
        EscapeParser escapes;
        std::unique_ptr<ServerLog> log;
    };

    void startLog(ServerRun *run);
    void show(ServerRun *run, RunOutput &output, const StyledText &shown);
    // One of the session's own lines, in the console and in the current run's log.
    void showLine(const QString &line);
    void showCommand(const QString &command);
    void serverExited(ServerRun *run);
    void releaseRun(ServerRun *run);
    void readNext(ServerRun *run, RunOutput &output);

    bool startRun(const ServerLaunch &launch);
    // The current run has ended (its server and its output): says how and decides what follows.
    void runEnded(ServerRun *run);
    // Kills the current run's group and lets the run drain.
    void killCurrent();
    // serverTerminated() with the state that follows.
    void endRun(State next);
    void setState(State state);
    void stopTimedOut();
    void restartNow();
    void crashed(const ExitStatus &status);
    void tell(const QString &event, const QString &summary, const QString &body);
    QString serverName() const;
    static QString giveUpLine();
    SupervisionSettings supervisionSettings() const;
    static qint64 monotonicNow();

    Console *m_console = nullptr;
    Notifier *m_notifier = nullptr;
    std::function<SupervisionSettings()> m_settings;
    State m_state = State::Stopped;
    ServerLaunch m_launch;     // of the current or last run: what a restart starts again
    QDateTime m_runStartedAt;  // wall-clock time, for the state in words
    qint64 m_runStartedMs = 0; // monotonic
    // The current run's output has ended while its server still saves: it is kept unreaped and
    // unread until the server ends or the stop times out.
    bool m_outputEnded = false;
    int m_stopTimeoutSeconds = 0;
    QElapsedTimer m_stopClock;
    QTimer m_stopTimer;
    QTimer m_restartTimer;
    qint64 m_restartDueMs = 0;
    std::chrono::milliseconds m_restartSecond{1000};
    RestartPolicy m_restarts;
    QString m_lastCrash; // how the last crashed run ended, for the restart's notification
    NotificationThrottle m_throttle;
    QString m_logFolder;
    // Declared before the runs' output, so that the writer outlives every log.
    std::unique_ptr<LogWriter> m_logWriter;
    std::unordered_map<const ServerRun *, RunOutput> m_outputs;
    std::vector<std::unique_ptr<ServerRun>> m_runs;
    ServerRun *m_current = nullptr;
    QString m_lastLog; // the newest run's log
};
