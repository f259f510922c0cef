#pragma once

#include "ServerSession.h"

#include <QObject>
#include <QPointer>

class CommandField;
class ConsoleView;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The Server pane's widgets bound to a ServerSession: the console shows the session's rows, the
// button reads "Start", "Stop" or "Stopping…" as the session goes, the label beside it says the
// session's state in words, the command line sends typed commands, and Open Log and Show Log
// Folder open what the session logged. It holds no state of the server's. While a server runs, a
// note beside the button says what closing the launcher does to it.
class ServerPane : public QObject, private ServerSession::Console
{
    Q_OBJECT
public:
    struct Widgets
    {
        QPushButton *button = nullptr;
        QLabel *state = nullptr; // the state in words, as text and accessible description
        ConsoleView *console = nullptr;
        QLineEdit *command = nullptr; // enabled while a server runs
        QLabel *closeNote = nullptr;  // shown while a server runs
    };

    ServerPane(ServerSession *session, const Widgets &widgets, QObject *parent = nullptr);
    ~ServerPane() override;

    // The command line's history and key handling.
    CommandField *commandField() const { return m_commandField; }
    // Puts the focus on the command line while a server runs.
    void focusCommand();
    // After the button was pressed: the command line of the server just started, or the button
    // again when none runs (the start failed, or this was Stop).
    void focusAfterButton();

    // The button's title for a running server (Stop) or none (Start), with its mnemonic.
    static QString buttonTitle(bool running);
    // What the note beside the button says while a server runs: what closing the launcher does
    // to the server.
    static QString closeNoteText();

    // "Open Log" opens the current or last run's log, "Show Log Folder" the folder of the logs;
    // each is enabled only while there is something to open (brought up to date by
    // updateLogActions(), whenever a menu that holds them opens).
    QAction *openLogMenuItem();
    QAction *showLogFolderMenuItem();
    void updateLogActions();
    void openLogAction();
    void showLogFolderAction();

    void sendServerCommand(const QString &command);

Q_SIGNALS:
    // Open Log or Show Log Folder found no program to open `path` with.
    void cannotOpen(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void appendOutput(const QObject *run, const StyledText &text) override;
    void endOutput(const QObject *run) override;
    void appendLine(const QString &line) override;
    void appendSessionLine(LineKind kind, const QString &line) override;
    void runningChanged(bool running);
    void showState();
    void makeLogActions();

    QPointer<ServerSession> m_session;
    Widgets m_widgets;
    CommandField *m_commandField = nullptr; // owned by the command line's widget
    QTimer *m_countdown = nullptr;          // refreshes "Restarting in 4 s" each second
    QAction *m_openLogAction = nullptr;
    QAction *m_showLogFolderAction = nullptr;
};
