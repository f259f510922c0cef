#include "ServerControl.h"

SessionControl::SessionControl(ServerSession *session, QObject *parent)
    : ServerControl(parent), m_session(session)
{
    connect(session, &ServerSession::runningChanged, this, &ServerControl::runningChanged);
    connect(session, &ServerSession::stateChanged, this, &ServerControl::stateChanged);
    connect(session, &ServerSession::logsChanged, this, &ServerControl::logsChanged);
}

void SessionControl::setConsole(ServerSession::Console *console)
{
    m_session->setConsole(console);
}

bool SessionControl::isRunning() const
{
    // A server waiting to be restarted counts as running: the button stops it.
    return m_session->isActive();
}

bool SessionControl::sendCommand(const QString &command, int fieldLength)
{
    return m_session->sendCommand(command, fieldLength);
}

void SessionControl::stop()
{
    m_session->stop();
}

QString SessionControl::logToOpen() const
{
    return m_session->logToOpen();
}

QString SessionControl::logFolder() const
{
    return m_session->logFolder();
}

void SessionControl::flushLog(const QString &log)
{
    m_session->flushLog(log);
}
