#include "ServerSession.h"

#include "LogFolder.h"
#include "ServerLog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cstring>

void ServerSession::Console::appendSessionLine(LineKind kind, const QString &line)
{
    if (kind == LineKind::Separator)
        appendOutput(nullptr, {QLatin1Char('\n') + line + QLatin1Char('\n'), {}});
    else
        appendLine(line);
}

QString ServerSession::commandEcho(const QString &command)
{
    return QStringLiteral("> ") + command;
}

ServerSession::ServerSession(QObject *parent) : QObject(parent)
{
    m_stopTimer.setSingleShot(true);
    m_restartTimer.setSingleShot(true);
    connect(&m_stopTimer, &QTimer::timeout, this, &ServerSession::stopTimedOut);
    connect(&m_restartTimer, &QTimer::timeout, this, &ServerSession::restartNow);
}

ServerSession::~ServerSession()
{
    // The runs go first (ending their groups), then their logs, then the writer, which lets
    // every write handed to it finish.
    m_current = nullptr;
    m_runs.clear();
    m_outputs.clear();
}

void ServerSession::setConsole(Console *console)
{
    m_console = console;
}

void ServerSession::setNotifier(Notifier *notifier)
{
    m_notifier = notifier;
}

void ServerSession::setSupervisionSettings(std::function<SupervisionSettings()> source)
{
    m_settings = std::move(source);
}

SupervisionSettings ServerSession::supervisionSettings() const
{
    return m_settings ? m_settings() : SupervisionSettings();
}

qint64 ServerSession::monotonicNow()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void ServerSession::setLogFolder(const QString &folder)
{
    m_logFolder = folder;
}

QString ServerSession::logFolder() const
{
    return m_logFolder.isEmpty() ? LogFolder::defaultFolder() : m_logFolder;
}

pid_t ServerSession::pid() const
{
    return m_current ? m_current->pid() : -1;
}

bool ServerSession::start(const ServerLaunch &launch)
{
    if (m_current)
        return false;
    // The host's own start: earlier crashes no longer count against this server.
    m_restartTimer.stop();
    m_restarts.reset();
    return startRun(launch);
}

bool ServerSession::startRun(const ServerLaunch &launch)
{
    auto run = std::make_unique<ServerRun>();
    // The session echoes what it sends, as a line of its own.
    run->setEcho(false);
    if (run->start(launch.path, launch.argv, launch.workingDirectory) == -1) {
        if (m_console)
            m_console->appendLine(QStringLiteral("Error - can't launch server"));
        if (m_state == State::RestartPending)
            setState(State::Stopped);
        return false;
    }
    // Each run reports its own reads, so the end of a stopped run's output is told apart from
    // the end of the running server's.
    connect(run.get(), &ServerRun::readCompleted, this, &ServerSession::serverDataAvailable);
    connect(run.get(), &ServerRun::serverExited, this, &ServerSession::serverExited);
    connect(run.get(), &ServerRun::finished, this, &ServerSession::releaseRun);
    m_current = run.get();
    m_launch = launch;
    m_runStartedAt = QDateTime::currentDateTime();
    m_runStartedMs = monotonicNow();
    m_outputEnded = false;
    startLog(run.get());
    m_runs.push_back(std::move(run));
    m_current->readInBackgroundAndNotify();
    setState(State::Running);
    Q_EMIT runningChanged(true);
    return true;
}

void ServerSession::stop()
{
    if (!m_current) {
        if (m_state == State::RestartPending) {
            m_restartTimer.stop();
            if (m_console)
                m_console->appendLine(tr("Restart cancelled"));
            setState(State::Stopped);
        }
        return;
    }
    if (m_state == State::Stopping) {
        kill();
        return;
    }
    const SupervisionSettings settings = supervisionSettings();
    if (settings.stopTimeoutSeconds <= 0) {
        kill();
        return;
    }
    // Both at once: a server that saves on its quit command and one that saves on SIGTERM are
    // each asked in their own way; the group's other members get SIGTERM too.
    bool typed = false;
    if (!settings.quitCommand.isEmpty() && commandFit(settings.quitCommand) == CommandFit::Fits) {
        const PtyWriter::Write write =
            m_current->writeInput(terminalCommandBytes(settings.quitCommand));
        typed = write == PtyWriter::Write::Sent || write == PtyWriter::Write::Queued;
    }
    m_current->terminate();
    m_stopTimeoutSeconds = settings.stopTimeoutSeconds;
    m_stopClock.start();
    m_stopTimer.start(std::chrono::seconds(m_stopTimeoutSeconds));
    showLine((typed ? tr("Stopping: sent the quit command and SIGTERM, waiting up to %1 s")
                    : tr("Stopping: sent SIGTERM, waiting up to %1 s"))
                 .arg(m_stopTimeoutSeconds));
    setState(State::Stopping);
}

void ServerSession::kill()
{
    if (!m_current) {
        stop();
        return;
    }
    if (m_state == State::Stopping)
        showLine(tr("Stopped at once: killed"));
    killCurrent();
    endRun(State::Stopped);
}

void ServerSession::killCurrent()
{
    m_current->kill();
    // Its output was over already and kept open only to pin the group: the run may go now.
    if (m_outputEnded)
        m_current->closeOutput();
}

void ServerSession::serverTerminated()
{
    endRun(State::Stopped);
}

void ServerSession::endRun(State next)
{
    if (!m_current)
        return;
    m_stopTimer.stop();
    m_outputEnded = false;
    ServerRun *run = std::exchange(m_current, nullptr);
    if (m_console)
        m_console->appendSessionLine(Console::LineKind::Separator, QStringLiteral(" "));
    const auto output = m_outputs.find(run);
    if (output != m_outputs.end() && output->second.log)
        output->second.log->appendLine(QStringLiteral(" "));
    setState(next);
    Q_EMIT runningChanged(false);
}

void ServerSession::setState(State state)
{
    m_state = state;
    Q_EMIT stateChanged();
}

QString ServerSession::stateText() const
{
    switch (m_state) {
    case State::Running:
        return tr("Running since %1").arg(m_runStartedAt.toString(QStringLiteral("HH:mm")));
    case State::Stopping:
        return tr("Stopping…");
    case State::RestartPending: {
        const qint64 second = m_restartSecond.count();
        const qint64 left = m_restartDueMs - monotonicNow();
        return tr("Restarting in %1 s").arg(std::max<qint64>(1, (left + second - 1) / second));
    }
    case State::GaveUp:
        return giveUpLine();
    case State::Stopped:
        break;
    }
    return tr("Stopped");
}

QString ServerSession::giveUpLine()
{
    return tr("Crashed %1 times within 10 minutes: not restarting").arg(RestartPolicy::MaxCrashes);
}

void ServerSession::stopTimedOut()
{
    if (m_state != State::Stopping || !m_current)
        return;
    const QString line = tr("Server did not stop within %1 s: killed").arg(m_stopTimeoutSeconds);
    killCurrent();
    showLine(line);
    tell(QStringLiteral("killed"), tr("%1 was killed").arg(serverName()), line);
    endRun(State::Stopped);
}

void ServerSession::crashed(const ExitStatus &status)
{
    const QString how = exitStatusLine(status);
    const RestartPolicy::Decision decision = m_restarts.crashed(m_runStartedMs, monotonicNow());
    const QString event = QStringLiteral("crashed ") + how;
    const QString summary = tr("%1 crashed").arg(serverName());
    if (!supervisionSettings().restartOnCrash) {
        tell(event, summary, how);
        endRun(State::Stopped);
        return;
    }
    if (!decision.restart) {
        showLine(giveUpLine());
        tell(QStringLiteral("gave up"), tr("%1 is down").arg(serverName()),
             how + u'\n' + giveUpLine());
        endRun(State::GaveUp);
        return;
    }
    const QString line = tr("Restarting in %1 s (crash %2 of %3 within 10 minutes)")
                             .arg(decision.delaySeconds)
                             .arg(decision.crashesInWindow)
                             .arg(RestartPolicy::MaxCrashes);
    showLine(line);
    tell(event, summary, how + u'\n' + line);
    m_lastCrash = how;
    m_restartDueMs = monotonicNow() + decision.delaySeconds * m_restartSecond.count();
    m_restartTimer.start(decision.delaySeconds * m_restartSecond);
    endRun(State::RestartPending);
}

void ServerSession::restartNow()
{
    if (m_state != State::RestartPending || m_current)
        return;
    if (startRun(m_launch))
        tell(QStringLiteral("restarted"), tr("%1 was restarted").arg(serverName()),
             tr("It had crashed: %1").arg(m_lastCrash));
}

void ServerSession::tell(const QString &event, const QString &summary, const QString &body)
{
    if (!m_notifier || !supervisionSettings().notify)
        return;
    if (m_throttle.admit(event, monotonicNow()))
        m_notifier->notify(summary, body);
}

QString ServerSession::serverName() const
{
    if (m_launch.description.isEmpty())
        return tr("The server");
    return tr("The server “%1”").arg(m_launch.description);
}

void ServerSession::startLog(ServerRun *run)
{
    if (!m_logWriter)
        m_logWriter = std::make_unique<LogWriter>();
    // Said once in the console (and to the window); the server runs on without its log. The
    // report may come after the run has gone, even after this session has.
    QPointer<ServerSession> self(this);
    auto report = [self](const QString &message) {
        if (!self)
            return;
        if (self->m_console)
            self->m_console->appendLine(message);
        Q_EMIT self->logFailed(message);
    };
    RunOutput &output = m_outputs[run];
    output.log = std::make_unique<ServerLog>(*m_logWriter, logFolder(),
                                             QDateTime::currentDateTime(), report);
    if (output.log->isOpen())
        m_lastLog = output.log->path();
    Q_EMIT logsChanged();
}

void ServerSession::show(ServerRun *run, RunOutput &output, const StyledText &shown)
{
    if (shown.text.isEmpty())
        return;
    if (m_console)
        m_console->appendOutput(run, shown);
    if (output.log)
        output.log->append(shown.text);
}

void ServerSession::showLine(const QString &line)
{
    if (m_console)
        m_console->appendLine(line);
    const auto output = m_outputs.find(m_current);
    if (output != m_outputs.end() && output->second.log)
        output->second.log->appendLine(line);
}

void ServerSession::showCommand(const QString &command)
{
    const QString echo = commandEcho(command);
    if (m_console)
        m_console->appendSessionLine(Console::LineKind::Command, echo);
    const auto output = m_outputs.find(m_current);
    if (output != m_outputs.end() && output->second.log)
        output->second.log->appendLine(echo);
}

void ServerSession::readNext(ServerRun *run, RunOutput &output)
{
    // A log that falls behind holds the output back: the server waits on its terminal until
    // the writer says it has caught up.
    if (!output.log) {
        run->readInBackgroundAndNotify();
        return;
    }
    QPointer<ServerRun> guard(run);
    output.log->whenCaughtUp([guard] {
        if (guard)
            guard->readInBackgroundAndNotify();
    });
}

void ServerSession::serverDataAvailable(ServerRun *run, const QString &text, ServerRun::Read read)
{
    RunOutput &output = m_outputs[run];
    show(run, output, output.escapes.feed(text, m_console ? m_console->keptRows() : -1));
    if (read == ServerRun::Read::Output) {
        readNext(run, output);
        return;
    }
    show(run, output, output.escapes.finish());
    // The run's output has ended (or cannot be read): it is not read again.
    if (m_console)
        m_console->endOutput(run);
    disconnect(run, &ServerRun::readCompleted, this, &ServerSession::serverDataAvailable);
    if (run != m_current) {
        run->closeOutput();
        return;
    }
    if (m_state == State::Stopping && !run->exitStatus()) {
        // A server on its way out may close its terminal before it has saved: it is given its
        // time, with the output kept open (and the child unreaped) so that its group stays its.
        m_outputEnded = true;
        return;
    }
    // Whatever of the run is left goes now, while its process group is still pinned to it; the
    // output is closed only then, since that lets the server be reaped.
    run->kill();
    run->closeOutput();
    serverExited(run);
}

void ServerSession::serverExited(ServerRun *run)
{
    // The run ends once both its output and its server have; until then it can be stopped.
    if (run != m_current || !run->exitStatus())
        return;
    if (run->isOutputOpen()) {
        if (!m_outputEnded)
            return;
        run->kill();
        run->closeOutput();
    }
    runEnded(run);
}

void ServerSession::runEnded(ServerRun *run)
{
    if (m_state == State::Stopping) {
        showLine(tr("Server stopped after %1 s")
                     .arg(QLocale().toString(double(m_stopClock.elapsed()) / 1000.0, 'f', 1)));
        endRun(State::Stopped);
        return;
    }
    const std::optional<ExitStatus> status = run->ownExitStatus();
    if (status)
        showLine(exitStatusLine(*status));
    if (isCrash(status, false))
        crashed(*status);
    else
        endRun(State::Stopped);
}

QString ServerSession::exitStatusLine(const ExitStatus &status)
{
    if (!status.signaled && status.code == 0)
        return tr("Server exited normally");
    if (!status.signaled)
        return tr("Server exited with status %1").arg(status.code);
    return tr("Server was killed by signal %1 (%2)")
        .arg(status.code)
        .arg(QString::fromLocal8Bit(::strsignal(status.code)));
}

bool ServerSession::sendCommand(const QString &command, int fieldLength)
{
    if (!m_current)
        return false;
    switch (commandFit(command, fieldLength)) {
    case CommandFit::Fits:
        break;
    case CommandFit::FillsField:
        showLine(tr("Command not sent: it fills all %1 characters the command field holds, so "
                    "part of it may be missing")
                     .arg(fieldLength));
        return false;
    case CommandFit::LongerThanTerminal:
        showLine(tr("Command not sent: it is longer than the %1 bytes the server's terminal takes "
                    "in one line")
                     .arg(MaxTerminalLineBytes));
        return false;
    }
    switch (m_current->writeInput(terminalCommandBytes(command))) {
    case PtyWriter::Write::Sent:
    case PtyWriter::Write::Queued:
        showCommand(command);
        return true;
    case PtyWriter::Write::Refused:
        showLine(tr("Command not sent: the server is not reading its input (%1 KiB still waiting)")
                     .arg(m_current->pendingInput() / 1024));
        return false;
    case PtyWriter::Write::Closed:
        showLine(tr("Command not sent: the server's terminal is closed"));
        return false;
    }
    return false;
}

QString ServerSession::logToOpen() const
{
    if (!m_lastLog.isEmpty() && QFileInfo(m_lastLog).isFile())
        return m_lastLog;
    return LogFolder::newestLog(logFolder());
}

void ServerSession::flushLog(const QString &log)
{
    for (auto &output : m_outputs) {
        if (output.second.log && output.second.log->path() == log)
            output.second.log->flush();
    }
}

void ServerSession::releaseRun(ServerRun *run)
{
    const auto found = std::find_if(m_runs.begin(), m_runs.end(),
                                    [run](const auto &owned) { return owned.get() == run; });
    if (found == m_runs.end())
        return;
    // The run may be in the middle of emitting: let it finish before it goes.
    found->release()->deleteLater();
    m_runs.erase(found);
    m_outputs.erase(run);
    Q_EMIT logsChanged();
}
