#pragma once

#include "ServerSession.h"

#include <QObject>
#include <QString>

// What the Server pane drives: a server run by a session in this process, or one run by the
// server host that this window is attached to. Rows reach the pane through the session's Console
// interface either way; the button follows runningChanged().
class ServerControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Not owned; it must outlive the control or be replaced first. Null shows nothing.
    virtual void setConsole(ServerSession::Console *console) = 0;
    virtual bool isRunning() const = 0;
    // The server's state and the state in words (empty when there is nothing to say beyond the
    // button's title).
    virtual ServerSession::State serverState() const = 0;
    virtual QString stateText() const = 0;
    // Whether the server goes on when this window closes.
    virtual bool outlivesWindow() const = 0;
    // Types `command` into the server; false when it was not taken (the console says why), so
    // that the field keeps it.
    virtual bool sendCommand(const QString &command, int fieldLength) = 0;
    virtual void stop() = 0;
    // The log Open Log opens (empty if none), the folder of the logs, and a flush of what is
    // held back of `log` before a viewer opens it.
    virtual QString logToOpen() const = 0;
    virtual QString logFolder() const = 0;
    virtual void flushLog(const QString &log) = 0;

Q_SIGNALS:
    void runningChanged(bool running);
    void stateChanged();
    void logsChanged();
};

// A ServerSession of this process as a ServerControl. Does not own the session.
class SessionControl : public ServerControl
{
    Q_OBJECT
public:
    explicit SessionControl(ServerSession *session, QObject *parent = nullptr);

    ServerSession *session() const { return m_session; }

    void setConsole(ServerSession::Console *console) override;
    bool isRunning() const override;
    ServerSession::State serverState() const override { return m_session->state(); }
    QString stateText() const override { return m_session->stateText(); }
    bool outlivesWindow() const override { return false; }
    bool sendCommand(const QString &command, int fieldLength) override;
    void stop() override;
    QString logToOpen() const override;
    QString logFolder() const override;
    void flushLog(const QString &log) override;

private:
    ServerSession *m_session;
};
