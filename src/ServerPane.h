#pragma once

#include "ConsoleModel.h"
#include "ServerControl.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class CommandField;
class ConsoleView;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The Server pane's widgets bound to a ServerControl: a session of this process, or the server
// host the window is attached to. The console shows the rows of every control the pane has been
// given (a stopped run may still be draining while another control runs); the button reads
// "Start", "Stop" or "Stopping…" and the label beside it says the state in words, as the current
// control goes; the command line sends typed commands to it, and Open Log and Show Log Folder
// open what it logged. It holds no state of the server's. While a server runs, a note beside the
// button says what closing the launcher does to it.
//
// The widgets are made on first need (the pane about to be shown, a line for the console, a
// caller asking for them), not with the pane: start-up pays for none of them. Until then the pane
// follows its control without showing anything; what they show is read from the control when
// they are made.
class ServerPane : public QObject, private ServerSession::Console
{
    Q_OBJECT
public:
    struct Widgets
    {
        QPushButton *button = nullptr;
        QLabel *state = nullptr; // the state in words, as text and accessible description
        ConsoleView *console = nullptr;
        QLineEdit *command = nullptr;     // enabled while a server runs
        QCheckBox *keepRunning = nullptr; // applies at the next Start: disabled while one runs
        QLabel *closeNote = nullptr;      // shown while a server runs
    };

    // Makes the widgets (owned by the window) and returns them; called once, at the first need.
    using WidgetMaker = std::function<Widgets()>;

    ServerPane(ServerControl *control, WidgetMaker makeWidgets, QObject *parent = nullptr);
    ~ServerPane() override;

    // The control the button, the command line and the log actions follow from now on. Not owned.
    void setControl(ServerControl *control);
    ServerControl *control() const { return m_control; }
    // Shows one of the launcher's own lines in the console.
    void showLine(const QString &line) { appendLine(line); }

    // The widgets, made now if they were not yet.
    const Widgets &widgets();
    bool hasWidgets() const { return !m_makeWidgets; }

    // The command line's history and key handling.
    CommandField *commandField();
    // Puts the focus on the command line while a server runs.
    void focusCommand();
    // After the button was pressed: the command line of the server just started, or the button
    // again when none runs (the start failed, or this was Stop).
    void focusAfterButton();

    // The button's title for a running server (Stop) or none (Start), with its mnemonic.
    static QString buttonTitle(bool running);
    // What the note beside the button says while a server runs: what closing the launcher does
    // to the server, which runs in this window or in a host that outlives it.
    static QString closeNoteText(bool serverOutlivesWindow = false);

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
    int keptRows() const override { return ConsoleModel::MaxLines; }
    void endOutput(const QObject *run) override;
    void appendLine(const QString &line) override;
    void appendSessionLine(LineKind kind, const QString &line) override;
    void runningChanged(bool running);
    void showState();
    void makeLogActions();
    void setUpWidgets();

    QPointer<ServerControl> m_control;
    std::vector<QPointer<ServerControl>> m_consoleOf; // every control whose rows come here
    WidgetMaker m_makeWidgets;                        // empty once the widgets are made
    Widgets m_widgets;
    CommandField *m_commandField = nullptr; // owned by the command line's widget
    QTimer *m_countdown = nullptr;          // refreshes "Restarting in 4 s" each second
    QAction *m_openLogAction = nullptr;
    QAction *m_showLogFolderAction = nullptr;
};
