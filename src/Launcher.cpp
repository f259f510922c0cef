#include "Launcher.h"

#include "DetachedProcess.h"
#include "DisplayModeSource.h"
#include "GameCommands.h"
#include "HostClient.h"
#include "LauncherPaths.h"
#include "PaneSwitcher.h"
#include "Preferences.h"
#include "RemoteHost.h"
#include "ServerControl.h"
#include "ServerPane.h"
#include "ServerSession.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "SupervisionSettings.h"
#include "ToolbarImages.h"
#include "ToolbarItem.h"
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
#include "DesktopNotifier.h"
#endif

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

// Reads one number of a mode description; a missing entry reads 0.
int numberForKey(const ModeDescription &desc, const QString &key)
{
    const auto value = desc.constFind(key);
    if (value == desc.constEnd())
        return 0;
    return value->toInt();
}

} // namespace

Launcher::Launcher(QObject *parent)
    : QObject(parent), m_session(new ServerSession(this)),
      m_local(new SessionControl(m_session, this))
{
    m_session->setSupervisionSettings([] { return SupervisionSettings::read(Preferences()); });
#ifdef VELMORA_WITH_DESKTOP_NOTIFIER
    auto *notifier = new DesktopNotifier(this);
    notifier->setActionLabel(tr("Show server"));
    notifier->setDesktopEntry(QStringLiteral("velmora-launcher"));
    connect(notifier, &DesktopNotifier::actionInvoked, this, &Launcher::showServerPane);
    m_session->setNotifier(notifier);
#endif
    // A close that waited for the server to stop goes on once it has.
    connect(m_session, &ServerSession::runningChanged, this, [this](bool running) {
        if (!running && std::exchange(m_closeWhenStopped, false) && window())
            window()->close();
    });
}

Launcher::~Launcher() = default;

void Launcher::setOutlets(const Outlets &outlets)
{
    m_outlets = outlets;
}

void Launcher::setSettingsBinding(SettingsBinding *binding)
{
    m_binding = binding;
}

void Launcher::setStartupPreferences(std::shared_ptr<const Preferences> prefs)
{
    m_startupPrefs = std::move(prefs);
}

void Launcher::setDisplayModeSource(std::unique_ptr<DisplayModeSource> source)
{
    m_displayModes = std::move(source);
}

void Launcher::setTerminateHandler(std::function<void()> terminate)
{
    m_terminate = std::move(terminate);
}

void Launcher::setExecutablePathProvider(std::function<QString()> provider)
{
    m_executablePath = std::move(provider);
}

void Launcher::makeServerPane()
{
    if (m_serverPane)
        return;
    m_serverPane = new ServerPane(m_local, m_outlets.serverWidgets, this);
    connect(m_serverPane, &ServerPane::cannotOpen, this, &Launcher::cannotOpen);
}

QPushButton *Launcher::multiplayer() const
{
    return m_serverPane ? m_serverPane->widgets().button : nullptr;
}

ConsoleView *Launcher::console() const
{
    return m_serverPane ? m_serverPane->widgets().console : nullptr;
}

QLineEdit *Launcher::command() const
{
    return m_serverPane ? m_serverPane->widgets().command : nullptr;
}

ServerControl *Launcher::serverControl() const
{
    return m_serverPane ? m_serverPane->control() : m_local;
}

void Launcher::awakeFromNib()
{
    makeServerPane();
    initViews();
    initResolutions();
    m_startupPrefs.reset();
    // The window's delegate: its close arrives through the event filter.
    window()->installEventFilter(this);
    // A server left running by an earlier launcher shows here as it stands.
    if (serverDestination().isEmpty())
        attachToHost();
    else
        useRemoteHost(false);
    updateLogActions();
}

QString Launcher::bundlePath() const
{
    return m_executablePath ? m_executablePath() : LauncherPaths::executablePath();
}

QString Launcher::cwd() const
{
    return LauncherPaths::gameDirectory(bundlePath());
}

void Launcher::helpAction()
{
    // The page in the interface's language where one lies beside the launcher; README.html else.
    const QString page = tr("README.html", "file name of the help page in this language");
    QString file = LauncherPaths::launcherFolder(bundlePath()) + u'/' + page;
    if (page.contains(u'/') || !QFileInfo(file).isFile())
        file = LauncherPaths::helpFile(bundlePath());
    // A missing help file shows nothing, rather than a viewer's own error page.
    if (!QFileInfo(file).isFile())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
        Q_EMIT cannotOpen(file);
}

void Launcher::makeFirstResponder()
{
    // Ends any edit in progress, so that a value still being typed is stored before it is read.
    if (m_binding)
        m_binding->commitEditing();
    window()->setFocus(Qt::OtherFocusReason);
}

void Launcher::playAction()
{
    makeFirstResponder();
    playFile();
}

void Launcher::multiplayerAction()
{
    makeFirstResponder();
    setServerActive(!serverControl()->isRunning());
    // Whoever starts a server is about to type to it.
    makeServerPane();
    m_serverPane->focusAfterButton();
}

bool Launcher::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::Close && !windowWillClose()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool Launcher::windowWillClose()
{
    // A server in a host of its own outlives the window; one of this process does not.
    if (m_remote) {
        if (m_remote->isConnected())
            m_serverPane->showLine(tr("The server on %1 keeps running without the launcher.")
                                       .arg(m_remote->destination()));
        m_remote->close();
    }
    if (m_host) {
        if (m_host->isRunning())
            m_serverPane->showLine(tr("The server keeps running without the launcher; start the "
                                      "launcher again to see it, or use velmora-server."));
        m_host->detach();
    }
    // A close while Stop waits for the server waits with it; a second close kills the server, as
    // a second Stop does.
    if (m_session->isStopping() && !m_closeWhenStopped) {
        m_closeWhenStopped = true;
        return false;
    }
    // This close goes on by itself: the end of the server must not close the window again.
    m_closeWhenStopped = false;
    if (m_session->isActive())
        m_session->stop();
    if (m_session->isRunning()) {
        m_closeWhenStopped = true;
        return false;
    }
    terminate();
    return true;
}

void Launcher::terminate()
{
    if (m_terminate)
        m_terminate();
    else
        QCoreApplication::quit();
}

bool Launcher::playFile()
{
    // With no entry selected the title is "", and the game gets "-w" and "-h" with no size.
    QComboBox *list = resolutions();
    const LaunchCommand command =
        playCommand(cwd(), list->currentIndex() < 0 ? QString() : list->currentText());
    // A wrapper that cannot be read starts nothing: the game alone is not what the player asked
    // for. Environment lines that cannot be read are left out (the pane says which).
    if (!command.canStart()) {
        showLaunchFailure(QString(), 0);
        return false;
    }
    DetachedProcess::Environment environment;
    for (const EnvironmentVariable &variable : command.environment)
        environment.append({variable.name, variable.value});
    const SysResult<pid_t> started =
        DetachedProcess::start(command.words, command.workingDirectory, environment);
    if (!started) {
        showLaunchFailure(command.words.value(0), started.error());
        return false;
    }
    if (!serverControl()->isRunning())
        terminate();
    return true;
}

void Launcher::showLaunchFailure(const QString &program, int error)
{
    // The window title is the application's name: a sheet is narrow, and its title bar cuts a
    // longer one off. The message itself says what failed.
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Velmora"),
                                tr("Can't start Velmora"), QMessageBox::Ok, window());
    QString text = tr("Please move the directory containing Velmora to a path that doesn't "
                      "contain weird characters or start it manually.");
    // The system's reason, in its words: a wrapper that is not installed is not the game's path.
    if (error == ENOENT && !program.isEmpty() && program != LauncherPaths::gameExecutable(cwd()))
        text = tr("The program %1 was not found.").arg(program);
    else if (error != 0)
        text += u'\n' + tr("%1: %2").arg(program, qt_error_string(error));
    box->setInformativeText(text);
    box->setObjectName(QStringLiteral("launchFailureAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void Launcher::initResolutions()
{
    QComboBox *list = resolutions();
    list->clear();
    if (!m_displayModes)
        m_displayModes = DisplayModeSource::forPlatform();
    std::vector<DisplayId> display;
    if (m_displayModes->activeDisplayList(DisplayModeSource::MaxDisplays, display)) {
        const std::size_t numDisplays =
            std::min<std::size_t>(display.size(), DisplayModeSource::MaxDisplays);
        for (std::size_t i = 0; i < numDisplays; ++i)
            addResolutionsForDisplay(display[i]);
    }
    // The list is built once per run: the source (and any display connection it holds) goes now.
    m_displayModes.reset();
    // The stored position is passed on unchanged; one outside the list selects nothing.
    const int stored = m_startupPrefs ? m_startupPrefs->integerForKey(SettingsKeys::resolution)
                                      : Preferences().integerForKey(SettingsKeys::resolution);
    list->setCurrentIndex(stored);
}

void Launcher::addResolutionsForDisplay(quint32 dspy)
{
    const std::optional<QList<ModeDescription>> modeList = m_displayModes->availableModes(dspy);
    if (!modeList)
        return;
    for (const ModeDescription &mode : *modeList) {
        const int height = numberForKey(mode, QStringLiteral("Height"));
        const int width = numberForKey(mode, QStringLiteral("Width"));
        const QString title = QStringLiteral("%1 x %2").arg(width).arg(height);
        if (resolutions()->findText(title, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            resolutions()->addItem(title);
    }
}

// The server: the session holds every run; these names forward to it.

pid_t Launcher::server() const
{
    if (m_host && serverControl() == m_host)
        return m_host->isRunning() ? m_host->state().pid : -1;
    return m_session->pid();
}

void Launcher::setServerActive(bool start)
{
    ServerControl *control = serverControl();
    if (start == control->isRunning() || (start && m_hostStart))
        return;
    if (!start) {
        control->stop();
        return;
    }
    if (!serverDestination().isEmpty()) {
        useRemoteHost(true);
        return;
    }
    // A host started meanwhile from elsewhere (a terminal, the service manager) has a server
    // already: this window shows that one rather than start a second.
    if (attachToHost())
        return;
    if (Preferences().integerForKey(SettingsKeys::serverKeepRunning) != 0) {
        startHost();
        return;
    }
    m_serverPane->setControl(m_local);
    m_session->start(serverLaunch(cwd()));
}

// The server host: started through velmora-server beside the launcher, so that it is the same
// program a terminal or a service would use.

bool Launcher::attachToHost()
{
    if (m_host)
        return true;
    auto *host = new HostClient(this);
    QString problem;
    if (host->connectToHost(true, &problem) != RuntimeFolder::Reach::Connected) {
        delete host;
        if (!problem.isEmpty())
            m_serverPane->showLine(problem);
        return false;
    }
    m_host = host;
    connect(host, &HostClient::disconnected, this, &Launcher::detachedFromHost);
    m_serverPane->setControl(host);
    return true;
}

void Launcher::detachedFromHost(const QString &why)
{
    if (!why.isEmpty())
        m_serverPane->showLine(tr("The server host ended the connection: %1").arg(why));
    if (m_serverPane->control() == m_host)
        m_serverPane->setControl(m_local);
    m_host->deleteLater();
    m_host = nullptr;
    updateLogActions();
}

QString Launcher::serverDestination()
{
    return Preferences().nonNullStringForKey(SettingsKeys::serverOn).trimmed();
}

void Launcher::useRemoteHost(bool start)
{
    // A remote host that is over (failed, ended) gives way to one for the settings as they are.
    if (m_remote && m_remote->isRunning())
        return;
    if (m_remote) {
        if (m_serverPane->control() == m_remote)
            m_serverPane->setControl(m_local);
        m_remote->deleteLater();
    }
    m_remote =
        new RemoteHost(serverDestination(),
                       Preferences().nonNullStringForKey(SettingsKeys::serverRemoteCommand), this);
    m_serverPane->setControl(m_remote);
    // At start-up, a machine where no server runs leaves the pane as it was, quietly.
    if (!start) {
        connect(m_remote, &RemoteHost::failed, this, [this] {
            if (m_serverPane->control() == m_remote)
                m_serverPane->setControl(m_local);
        });
    }
    connect(m_remote, &RemoteHost::ended, this, [this] {
        if (m_serverPane->control() == m_remote)
            m_serverPane->setControl(m_local);
    });
    m_remote->connectToHost(start ? std::optional<ServerSettings>(storedServerSettings())
                                  : std::nullopt);
}

void Launcher::startHost()
{
    m_hostStart = new QProcess(this);
    connect(m_hostStart, &QProcess::finished, this, &Launcher::hostStartFinished);
    connect(m_hostStart, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_serverPane->showLine(
            tr("%1 cannot be started: %2").arg(m_hostStart->program(), m_hostStart->errorString()));
        hostStartFinished(-1);
    });
    multiplayer()->setEnabled(false);
    m_hostStart->start(LauncherPaths::launcherFolder(bundlePath()) +
                           QStringLiteral("/velmora-server"),
                       {QStringLiteral("start")});
}

void Launcher::hostStartFinished(int exitCode)
{
    if (!m_hostStart)
        return;
    QProcess *process = std::exchange(m_hostStart, nullptr);
    process->deleteLater();
    multiplayer()->setEnabled(true);
    // Its own words on why not, a line each; a host that did start is attached to.
    const QString said = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
    if (exitCode != 0 && !said.isEmpty()) {
        for (const QString &line : said.split(u'\n'))
            m_serverPane->showLine(line);
    }
    if (exitCode == 0 && !attachToHost())
        m_serverPane->showLine(tr("The server host started, but does not answer"));
}

void Launcher::serverTerminated()
{
    m_session->serverTerminated();
}

void Launcher::serverDataAvailable(ServerRun *run, const QString &text, ServerRun::Read read)
{
    m_session->serverDataAvailable(run, text, read);
}

void Launcher::sendServerCommand(const QString &command)
{
    makeServerPane();
    m_serverPane->sendServerCommand(command);
}

QString Launcher::exitStatusLine(const ExitStatus &status)
{
    return ServerSession::exitStatusLine(status);
}

int Launcher::activeRunCount() const
{
    return m_session->activeRunCount();
}

CommandField *Launcher::commandField() const
{
    return m_serverPane ? m_serverPane->commandField() : nullptr;
}

QAction *Launcher::openLogMenuItem()
{
    makeServerPane();
    return m_serverPane->openLogMenuItem();
}

QAction *Launcher::showLogFolderMenuItem()
{
    makeServerPane();
    return m_serverPane->showLogFolderMenuItem();
}

QString Launcher::logToOpen() const
{
    return serverControl()->logToOpen();
}

void Launcher::updateLogActions()
{
    if (m_serverPane)
        m_serverPane->updateLogActions();
}

void Launcher::openLogAction()
{
    makeServerPane();
    m_serverPane->openLogAction();
}

void Launcher::showLogFolderAction()
{
    makeServerPane();
    m_serverPane->showLogFolderAction();
}

// The panes.

void Launcher::initViews()
{
    if (!m_panes) {
        m_panes = new PaneSwitcher(window(), view1(), view2(), &toolbarImageNamed, this);
        connect(m_panes, &PaneSwitcher::helpRequested, this, &Launcher::helpAction);
        // Whoever asks for the Server pane while a server runs is about to talk to it.
        connect(m_panes, &PaneSwitcher::paneAboutToShow, this, [this](QWidget *pane) {
            if (pane == view2())
                m_serverPane->widgets();
        });
        connect(m_panes, &PaneSwitcher::paneShown, this, [this](QWidget *pane) {
            if (pane == view2() && m_serverPane)
                m_serverPane->focusCommand();
        });
    }
    m_panes->initViews();
}

void Launcher::showServerPane()
{
    QMainWindow *shown = window();
    if (shown->isMinimized())
        shown->showNormal();
    else
        shown->show();
    shown->raise();
    shown->activateWindow();
    // As a click on the toolbar would, so that the toolbar shows the pane as chosen too.
    ToolbarItem *item = toolBarItems().value(QStringLiteral("2"));
    if (item && shown->centralWidget() != view2())
        item->trigger();
}

const QHash<QString, ToolbarItem *> &Launcher::toolBarItems() const
{
    static const QHash<QString, ToolbarItem *> none;
    return m_panes ? m_panes->toolBarItems() : none;
}

ToolbarItem *Launcher::addToolBarItem(const QString &name)
{
    return m_panes->addToolBarItem(name);
}

void Launcher::switchViews(ToolbarItem *item)
{
    m_panes->switchViews(item);
}
