#pragma once

#include "EscapeParser.h"
#include "GameCommands.h"
#include "LogWriter.h"
#include "ServerCommands.h"
#include "ServerRun.h"

#include <QObject>
#include <QString>

#include <memory>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

class ServerLog;

// The Server pane's controller, with no widgets: it owns the runs (the current one and stopped
// ones still draining their output), each run's escape parser and log, the log writer and the
// flow control between a run's reads and its log, typed commands and the lines that say how a
// run ended. A front end (the window's pane, or one without a window) gives it a Console for
// the rows and follows runningChanged() for the rest.
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
    };

    // What a sent command is echoed as, in the console and in the log.
    static QString commandEcho(const QString &command);

    explicit ServerSession(QObject *parent = nullptr);
    ~ServerSession() override;

    // Not owned; it must outlive the session or be replaced first. Null shows nothing.
    void setConsole(Console *console);
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

    // Starts a server unless one runs. False when no child could be made: the console says so
    // and nothing else changes.
    bool start(const ServerLaunch &launch);
    // SIGKILL to the running server's process group, then serverTerminated().
    void stop();
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

    Console *m_console = nullptr;
    QString m_logFolder;
    // Declared before the runs' output, so that the writer outlives every log.
    std::unique_ptr<LogWriter> m_logWriter;
    std::unordered_map<const ServerRun *, RunOutput> m_outputs;
    std::vector<std::unique_ptr<ServerRun>> m_runs;
    ServerRun *m_current = nullptr;
    QString m_lastLog; // the newest run's log
};
