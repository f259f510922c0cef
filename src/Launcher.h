#pragma once

#include "EscapeParser.h"
#include "LaunchCommand.h"
#include "ServerRun.h"
#include "ToolbarDelegate.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

class CommandField;
class ConsoleView;
class DisplayModeSource;
class Preferences;
class QAction;
class QComboBox;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QWidget;
class ServerLog;
class ServerLogWriter;
class SettingsBinding;
class ToolbarItem;
class Toolbar;

// The launcher's one controller. The interface loader creates it, connects its outlets and then
// calls awakeFromNib() once; from then on it answers the user's actions on the main thread.
class Launcher : public QObject, public ToolbarDelegate
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
        QPushButton *multiplayer = nullptr;
        ConsoleView *console = nullptr;
        // The Server pane's command line: enabled while a server runs.
        QLineEdit *command = nullptr;
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
    QPushButton *multiplayer() const { return m_outlets.multiplayer; }
    ConsoleView *console() const { return m_outlets.console; }
    QLineEdit *command() const { return m_outlets.command; }
    // The command line's history and key handling; made by awakeFromNib().
    CommandField *commandField() const { return m_commandField; }

    // Toolbar item identifier to item; the Launcher owns the items.
    const QHash<QString, ToolbarItem *> &toolBarItems() const { return m_toolBarItems; }
    // The running dedicated server's process id, or -1 when none runs. A stopped run that is
    // still draining its output does not count.
    pid_t server() const;

    void awakeFromNib();

    // The game directory, worked out afresh from where the launcher executable is now.
    QString cwd() const;

    bool playFile();
    // What Play would start now, from the stored settings with `typed` (text still being edited,
    // by settings key) in place of the stored values.
    LaunchCommand playCommand(const QHash<QString, QString> &typed = {}) const;
    void setServerActive(bool start);
    void serverTerminated();
    void serverDataAvailable(ServerRun *run, const QString &text, ServerRun::Read read);
    // Writes a typed command and a line feed to the running server's terminal, never waiting on
    // it; a command that cannot be taken is refused with a console line and stays in the field.
    void sendServerCommand(const QString &command);
    // The console line that tells how a server ended by itself.
    static QString exitStatusLine(const ExitStatus &status);

    void initResolutions();
    void addResolutionsForDisplay(quint32 display);

    QStringList toolbarSelectableItemIdentifiers(Toolbar *toolbar) override;
    QStringList toolbarDefaultItemIdentifiers(Toolbar *toolbar) override;
    QStringList toolbarAllowedItemIdentifiers(Toolbar *toolbar) override;
    ToolbarItem *toolbarItemForItemIdentifier(Toolbar *toolbar, const QString &itemIdentifier,
                                              bool willBeInsertedIntoToolbar) override;
    void initViews();
    ToolbarItem *addToolBarItem(const QString &name);
    void switchViews(ToolbarItem *item);

    // Seams for tests and tools, set before awakeFromNib(): where display modes come from, what
    // ending the application means, and where the launcher executable is taken to be.
    void setDisplayModeSource(std::unique_ptr<DisplayModeSource> source);
    void setTerminateHandler(std::function<void()> terminate);
    void setExecutablePathProvider(std::function<QString()> provider);

    // The runs whose output is still being read: the current one and stopped ones still draining.
    int activeRunCount() const { return int(m_runs.size()); }

    // "Open Log" opens the current or last run's log, "Show Log Folder" the folder of the logs;
    // each is enabled only while there is something to open. The interface puts them in its menu
    // and in the console's context menu.
    // Made on first use, so that a Launcher without a GUI application has none.
    QAction *openLogMenuItem();
    QAction *showLogFolderMenuItem();
    // The log that Open Log opens: the newest run's, or the newest in the folder; empty if none.
    QString logToOpen() const;
    void updateLogActions();

public Q_SLOTS:
    void helpAction();
    void openLogAction();
    void showLogFolderAction();
    void playAction();
    void multiplayerAction();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void windowWillClose();
    void makeFirstResponder();
    void terminate();
    QString bundlePath() const;
    void showLaunchFailure();
    void releaseRun(ServerRun *run);
    void serverExited(ServerRun *run);
    void makeLogActions();
    void startLog(ServerRun *run);
    // Shows what a run's output shows, and writes it to the run's log.
    void showOutput(ServerRun *run, ServerLog *log, const StyledText &shown);
    // The run's log, if it has one.
    ServerLog *logOf(const ServerRun *run) const;
    // One of the launcher's own lines about the running server, in the console and its log.
    void showLine(const QString &line);

    // What each run's output has been through on its way to the console: escape sequences and
    // the log. Declared before the runs' own state, so that the writer outlives every log.
    struct RunOutput
    {
        EscapeParser escapes;
        std::unique_ptr<ServerLog> log;
    };
    std::unique_ptr<ServerLogWriter> m_logWriter;
    std::unordered_map<const ServerRun *, RunOutput> m_outputs;
    QString m_lastLog; // the newest run's log
    QAction *m_openLogAction = nullptr;
    QAction *m_showLogFolderAction = nullptr;

    Outlets m_outlets;
    QPointer<SettingsBinding> m_binding;
    std::shared_ptr<const Preferences> m_startupPrefs;
    QHash<QString, ToolbarItem *> m_toolBarItems;
    std::unique_ptr<DisplayModeSource> m_displayModes;
    std::function<void()> m_terminate;
    std::function<QString()> m_executablePath;
    std::vector<std::unique_ptr<ServerRun>> m_runs;
    bool m_switchingViews = false;
    QPointer<ToolbarItem> m_pendingSwitch;
    // The running server; a stopped run still draining its output is not it.
    ServerRun *m_currentRun = nullptr;
    CommandField *m_commandField = nullptr; // owned by the command line's widget
};
