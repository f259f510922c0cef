#include "ServerSession.h"

#include "LogFolder.h"
#include "ServerLog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
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

ServerSession::ServerSession(QObject *parent) : QObject(parent) {}

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
    auto run = std::make_unique<ServerRun>();
    // The session echoes what it sends, as a line of its own.
    run->setEcho(false);
    if (run->start(launch.path, launch.argv, launch.workingDirectory) == -1) {
        if (m_console)
            m_console->appendLine(QStringLiteral("Error - can't launch server"));
        return false;
    }
    // Each run reports its own reads, so the end of a stopped run's output is told apart from
    // the end of the running server's.
    connect(run.get(), &ServerRun::readCompleted, this, &ServerSession::serverDataAvailable);
    connect(run.get(), &ServerRun::serverExited, this, &ServerSession::serverExited);
    connect(run.get(), &ServerRun::finished, this, &ServerSession::releaseRun);
    m_current = run.get();
    startLog(run.get());
    m_runs.push_back(std::move(run));
    m_current->readInBackgroundAndNotify();
    Q_EMIT runningChanged(true);
    return true;
}

void ServerSession::stop()
{
    if (!m_current)
        return;
    m_current->kill();
    serverTerminated();
}

void ServerSession::serverTerminated()
{
    if (!m_current)
        return;
    ServerRun *run = std::exchange(m_current, nullptr);
    if (m_console)
        m_console->appendSessionLine(Console::LineKind::Separator, QStringLiteral(" "));
    const auto output = m_outputs.find(run);
    if (output != m_outputs.end() && output->second.log)
        output->second.log->appendLine(QStringLiteral(" "));
    Q_EMIT runningChanged(false);
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
    show(run, output, output.escapes.feed(text));
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
    // Whatever of the run is left goes now, while its process group is still pinned to it; the
    // output is closed only then, since that lets the server be reaped.
    run->kill();
    run->closeOutput();
    serverExited(run);
}

void ServerSession::serverExited(ServerRun *run)
{
    // The run ends once both its output and its server have; until then it can be stopped.
    if (run != m_current || run->isOutputOpen() || !run->exitStatus())
        return;
    if (const std::optional<ExitStatus> status = run->ownExitStatus())
        showLine(exitStatusLine(*status));
    stop();
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
