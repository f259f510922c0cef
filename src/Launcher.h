#pragma once

#include "ServerPane.h"
#include "ServerRun.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include <sys/types.h>

class CommandField;
class ConsoleView;
class DisplayModeSource;
class HostClient;
class PaneSwitcher;
class Preferences;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QCheckBox;
class QProcess;
class QPushButton;
class QWidget;
class RemoteHost;
class ServerControl;
class ServerPane;
class ServerSession;
class SessionControl;
class SettingsBinding;
class ToolbarItem;
struct ExitStatus;

// The launcher's one controller. The interface loader creates it, connects its outlets and then
// calls awakeFromNib() once; from then on it answers the user's actions on the main thread. It
// keeps Play, Help, the resolution list, the panes and closing; the Server pane's controller is
// its ServerSession, which the names of the server's methods here forward to, or, when the server
// is to outlive the window, the server host it has started or found running (a HostClient).
class Launcher : public QObject
{
    Q_OBJECT
public:
    explicit Launcher(QObject *parent = nullptr);
    ~Launcher() override;

    // The widgets the controller works with. The window owns them all, including the pane that is
    // not shown at the moment.
    struct Outlets
    {
        QMainWindow *window = nullptr;
        QWidget *view1 = nullptr; // the Main pane
        QWidget *view2 = nullptr; // the Server pane
        // Filled and given its stored position by the Launcher (initResolutions); the user's
        // choice is stored by the settings binding, which never fills it.
        QComboBox *resolutions = nullptr;
        // Makes the Server pane's widgets (Start/Stop, its state, the console, the command line,
        // "Keep running when the launcher closes", the note on closing) at their first need.
        ServerPane::WidgetMaker serverWidgets;
    };

    // Connected by the interface loader before awakeFromNib(). The binding (owned by the window)
    // is asked to commit a value still being typed before an action reads the preferences.
    void setOutlets(const Outlets &outlets);
    void setSettingsBinding(SettingsBinding *binding);
    // The reader of the interface's start-up, so that start-up reads the preferences once;
    // awakeFromNib() uses it and lets it go.
    void setStartupPreferences(std::shared_ptr<const Preferences> prefs);

    QMainWindow *window() const { return m_outlets.window; }
    QWidget *view1() const { return m_outlets.view1; }
    QWidget *view2() const { return m_outlets.view2; }
    QComboBox *resolutions() const { return m_outlets.resolutions; }
    // The Server pane's widgets, made by this call if the pane has not made them yet.
    QPushButton *multiplayer() const;
    ConsoleView *console() const;
    QLineEdit *command() const;

    // The Server pane's controller and its widgets' binding; the binding exists from the interface
    // loader's wiring (the log actions), its widgets from their first need.
    ServerSession *session() const { return m_session; }
    ServerPane *serverPane() const { return m_serverPane; }
    // The server host this window is attached to; null when it is not.
    HostClient *host() const { return m_host; }
    // The host on another machine ("Server on") this window drives; null when it drives none.
    RemoteHost *remoteHost() const { return m_remote; }
    // Whether `velmora-server start` is under way for this window.
    bool isStartingHost() const { return m_hostStart != nullptr; }
    CommandField *commandField() const;

    // Toolbar item identifier to item.
    const QHash<QString, ToolbarItem *> &toolBarItems() const;
    // The running dedicated server's process id, or -1 when none runs.
    pid_t server() const;

    void awakeFromNib();

    // The game directory, worked out afresh from where the launcher executable is now.
    QString cwd() const;

    bool playFile();
    void setServerActive(bool start);
    void serverTerminated();
    void serverDataAvailable(ServerRun *run, const QString &text, ServerRun::Read read);
    void sendServerCommand(const QString &command);
    static QString exitStatusLine(const ExitStatus &status);
    int activeRunCount() const;

    void initResolutions();
    void addResolutionsForDisplay(quint32 display);

    void initViews();
    // Brings the window to the front with the Server pane shown (a notification's action).
    void showServerPane();
    ToolbarItem *addToolBarItem(const QString &name);
    void switchViews(ToolbarItem *item);
    // The toolbar of panes; made by initViews().
    PaneSwitcher *panes() const { return m_panes; }

    // Seams for tests and tools, set before awakeFromNib(): where display modes come from, what
    // ending the application means, and where the launcher executable is taken to be.
    void setDisplayModeSource(std::unique_ptr<DisplayModeSource> source);
    void setTerminateHandler(std::function<void()> terminate);
    void setExecutablePathProvider(std::function<QString()> provider);

    // The Server pane's log actions, for the interface's menus (see ServerPane).
    QAction *openLogMenuItem();
    QAction *showLogFolderMenuItem();
    QString logToOpen() const;
    void updateLogActions();

Q_SIGNALS:
    // Help, Open Log or Show Log Folder found no program on this desktop to open `path` with.
    void cannotOpen(const QString &path);

public Q_SLOTS:
    void helpAction();
    void openLogAction();
    void showLogFolderAction();
    void playAction();
    void multiplayerAction();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Stops the server and ends the application, unless the server is given time to stop: then
    // false, and the window closes once the server has ended.
    bool windowWillClose();
    void makeFirstResponder();
    void terminate();
    QString bundlePath() const;
    void showLaunchFailure(const QString &program, int error);
    void makeServerPane();
    ServerControl *serverControl() const;
    // Attaches the Server pane to the host that runs now, if one does; never starts one.
    bool attachToHost();
    void startHost();
    void hostStartFinished(int exitCode);
    void detachedFromHost(const QString &why);
    // "Server on", trimmed: empty for this computer.
    static QString serverDestination();
    // Drives the host there; `start`: with the stored settings, starting it where none runs.
    void useRemoteHost(bool start);

    Outlets m_outlets;
    QPointer<SettingsBinding> m_binding;
    std::shared_ptr<const Preferences> m_startupPrefs;
    std::unique_ptr<DisplayModeSource> m_displayModes;
    std::function<void()> m_terminate;
    std::function<QString()> m_executablePath;
    ServerSession *m_session; // owned as a child
    SessionControl *m_local;  // owned as a child
    HostClient *m_host = nullptr;
    RemoteHost *m_remote = nullptr;
    QProcess *m_hostStart = nullptr;
    ServerPane *m_serverPane = nullptr;
    PaneSwitcher *m_panes = nullptr;
    bool m_closeWhenStopped = false;
};
