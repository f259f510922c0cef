#pragma once

#include "ServerSession.h"

#include <QObject>
#include <QPointer>

class CommandField;
class ConsoleView;
class QAction;
class QLineEdit;
class QPushButton;

// The Server pane's widgets bound to a ServerSession: the console shows the session's rows, the
// button reads "Start" or "Stop" as the session runs, the command line sends typed commands, and
// Open Log and Show Log Folder open what the session logged. It holds no state of the server's.
class ServerPane : public QObject, private ServerSession::Console
{
    Q_OBJECT
public:
    struct Widgets
    {
        QPushButton *button = nullptr;
        ConsoleView *console = nullptr;
        QLineEdit *command = nullptr; // enabled while a server runs
    };

    ServerPane(ServerSession *session, const Widgets &widgets, QObject *parent = nullptr);
    ~ServerPane() override;

    // The command line's history and key handling.
    CommandField *commandField() const { return m_commandField; }
    // Puts the focus on the command line while a server runs.
    void focusCommand();

    // "Open Log" opens the current or last run's log, "Show Log Folder" the folder of the logs;
    // each is enabled only while there is something to open (brought up to date by
    // updateLogActions(), whenever a menu that holds them opens).
    QAction *openLogMenuItem();
    QAction *showLogFolderMenuItem();
    void updateLogActions();
    void openLogAction();
    void showLogFolderAction();

    void sendServerCommand(const QString &command);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void appendOutput(const QObject *run, const StyledText &text) override;
    void endOutput(const QObject *run) override;
    void appendLine(const QString &line) override;
    void appendSessionLine(LineKind kind, const QString &line) override;
    void runningChanged(bool running);
    void makeLogActions();

    QPointer<ServerSession> m_session;
    Widgets m_widgets;
    CommandField *m_commandField = nullptr; // owned by the command line's widget
    QAction *m_openLogAction = nullptr;
    QAction *m_showLogFolderAction = nullptr;
};
