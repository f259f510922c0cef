#include "Launcher.h"

#include "DetachedProcess.h"
#include "DisplayModeSource.h"
#include "GameCommands.h"
#include "LauncherPaths.h"
#include "PaneSwitcher.h"
#include "Preferences.h"
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

Launcher::Launcher(QObject *parent) : QObject(parent), m_session(new ServerSession(this))
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
    ServerPane::Widgets widgets;
    widgets.button = multiplayer();
    widgets.state = m_outlets.serverState;
    widgets.console = console();
    widgets.command = command();
    widgets.closeNote = m_outlets.closeNote;
    m_serverPane = new ServerPane(m_session, widgets, this);
    connect(m_serverPane, &ServerPane::cannotOpen, this, &Launcher::cannotOpen);
}

void Launcher::awakeFromNib()
{
    makeServerPane();
    initViews();
    initResolutions();
    m_startupPrefs.reset();
    // The window's delegate: its close arrives through the event filter.
    window()->installEventFilter(this);
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
    // A server waiting to be restarted counts as running: the button stops it.
    setServerActive(!m_session->isActive());
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
    // A close while Stop waits for the server waits with it; a second close kills the server, as
    // a second Stop does.
    if (m_session->isStopping() && !m_closeWhenStopped) {
        m_closeWhenStopped = true;
        return false;
    }
    // This close goes on by itself: the end of the server must not close the window again.
    m_closeWhenStopped = false;
    setServerActive(false);
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
    if (!m_session->isActive())
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
    return m_session->pid();
}

void Launcher::setServerActive(bool start)
{
    if (start == m_session->isActive())
        return;
    if (start)
        m_session->start(serverLaunch(cwd()));
    else
        m_session->stop();
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
    return m_session->logToOpen();
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
