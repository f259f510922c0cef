#pragma once

#include "ToolbarDelegate.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include <sys/types.h>

class ConsoleView;
class DisplayModeSource;
class QComboBox;
class QMainWindow;
class QPushButton;
class QWidget;
class ServerRun;
class ToolBarItem;
class Toolbar;

// The launcher's one controller. The interface loader creates it, connects its outlets and then
// calls awakeFromNib() once; from then on it answers the user's actions on the main thread.
class Launcher : public QObject, public ToolbarDelegate
{
    Q_OBJECT
public:
    explicit Launcher(QObject *parent = nullptr);
    ~Launcher() override;

    // Outlets, connected by the interface loader before awakeFromNib(). The window owns the
    // widgets, including the pane that is not shown at the moment.
    QMainWindow *window = nullptr;
    QWidget *view1 = nullptr; // the Main pane
    QWidget *view2 = nullptr; // the Server pane
    QComboBox *resolutions = nullptr;
    QPushButton *multiplayer = nullptr;
    ConsoleView *console = nullptr;

    // Toolbar item identifier to item; the registry owns the items.
    QHash<QString, ToolBarItem *> toolBarItems;
    // The running dedicated server's process id, or -1 when none runs.
    pid_t server = 0;

    void awakeFromNib();

    // The game directory, worked out afresh from where the launcher executable is now.
    QString cwd() const;

    bool playFile();
    void setServerActive(bool start);
    void serverTerminated();
    void serverDataAvailable(ServerRun *run, const QByteArray &data, bool failed);

    void initResolutions();
    void addResolutionsForDisplay(quint32 display);

    QStringList toolbarSelectableItemIdentifiers(Toolbar *toolbar) override;
    QStringList toolbarDefaultItemIdentifiers(Toolbar *toolbar) override;
    QStringList toolbarAllowedItemIdentifiers(Toolbar *toolbar) override;
    ToolBarItem *toolbarItemForItemIdentifier(Toolbar *toolbar, const QString &itemIdentifier,
                                              bool willBeInsertedIntoToolbar) override;
    void initViews();
    ToolBarItem *addToolBarItem(const QString &name);
    void switchViews(ToolBarItem *item);

    // Seams for tests and tools, set before awakeFromNib(): where display modes come from, what
    // ending the application means, and where the launcher executable is taken to be.
    void setDisplayModeSource(std::unique_ptr<DisplayModeSource> source);
    void setTerminateHandler(std::function<void()> terminate);
    void setExecutablePathProvider(std::function<QString()> provider);

    // The runs whose output is still being read: the current one and stopped ones still draining.
    int activeRunCount() const { return int(m_runs.size()); }

public Q_SLOTS:
    void helpAction();
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

    std::unique_ptr<DisplayModeSource> m_displayModes;
    std::function<void()> m_terminate;
    std::function<QString()> m_executablePath;
    std::vector<std::unique_ptr<ServerRun>> m_runs;
    bool m_switchingViews = false;
    QPointer<ToolBarItem> m_pendingSwitch;
    // The run that `server` belongs to; a stopped run still draining is not it.
    ServerRun *m_currentRun = nullptr;
};
