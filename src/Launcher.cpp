#include "Launcher.h"

#include "CommandField.h"
#include "CommandLine.h"
#include "ConsoleView.h"
#include "DetachedProcess.h"
#include "DisplayModeSource.h"
#include "LauncherPaths.h"
#include "Preferences.h"
#include "ServerCommands.h"
#include "ServerLog.h"
#include "ServerRun.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "Toolbar.h"
#include "ToolbarImages.h"
#include "ToolbarItem.h"
#include "WindowGeometry.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <cstring>

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

Launcher::Launcher(QObject *parent) : QObject(parent) {}

void Launcher::makeLogActions()
{
    if (m_openLogAction)
        return;
    m_openLogAction = new QAction(tr("Open Log"), this);
    m_openLogAction->setObjectName(QStringLiteral("openLogAction"));
    m_openLogAction->setToolTip(tr("Open the log of the current or last server run"));
    connect(m_openLogAction, &QAction::triggered, this, &Launcher::openLogAction);
    m_showLogFolderAction = new QAction(tr("Show Log Folder"), this);
    m_showLogFolderAction->setObjectName(QStringLiteral("showLogFolderAction"));
    m_showLogFolderAction->setToolTip(tr("Show the folder that holds the server logs"));
    connect(m_showLogFolderAction, &QAction::triggered, this, &Launcher::showLogFolderAction);
    // Brought up to date by awakeFromNib() and whenever a menu that holds them opens, so the
    // log folder is looked at once at start-up.
    m_openLogAction->setEnabled(false);
    m_showLogFolderAction->setEnabled(false);
}

QAction *Launcher::openLogMenuItem()
{
    makeLogActions();
    return m_openLogAction;
}

QAction *Launcher::showLogFolderMenuItem()
{
    makeLogActions();
    return m_showLogFolderAction;
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

pid_t Launcher::server() const
{
    return m_currentRun ? m_currentRun->pid() : -1;
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

void Launcher::awakeFromNib()
{
    if (command()) {
        command()->setEnabled(false);
        m_commandField = new CommandField(command());
        connect(m_commandField, &CommandField::submitted, this, &Launcher::sendServerCommand);
    }
    initViews();
    initResolutions();
    m_startupPrefs.reset();
    // The window's delegate: its close arrives through the event filter.
    window()->installEventFilter(this);
    // The log actions are brought up to date whenever the console's context menu opens.
    if (console())
        console()->installEventFilter(this);
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
    const QString file = LauncherPaths::helpFile(bundlePath());
    // A missing help file shows nothing, rather than a viewer's own error page.
    if (!QFileInfo(file).isFile())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

QString Launcher::logToOpen() const
{
    if (!m_lastLog.isEmpty() && QFileInfo(m_lastLog).isFile())
        return m_lastLog;
    return ServerLog::newestLog(ServerLog::defaultFolder());
}

void Launcher::updateLogActions()
{
    if (!m_openLogAction)
        return;
    m_openLogAction->setEnabled(!logToOpen().isEmpty());
    m_showLogFolderAction->setEnabled(QFileInfo(ServerLog::defaultFolder()).isDir());
}

void Launcher::openLogAction()
{
    const QString log = logToOpen();
    if (log.isEmpty())
        return;
    // What the console has shown so far is handed to the writer before the viewer reads.
    for (auto &output : m_outputs) {
        if (output.second.log && output.second.log->path() == log)
            output.second.log->flush();
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(log));
}

void Launcher::showLogFolderAction()
{
    const QString folder = ServerLog::defaultFolder();
    if (QFileInfo(folder).isDir())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
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
    setServerActive(!m_currentRun);
}

bool Launcher::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::Close)
        windowWillClose();
    else if (watched == console() && event->type() == QEvent::ContextMenu)
        updateLogActions();
    return QObject::eventFilter(watched, event);
}

void Launcher::windowWillClose()
{
    setServerActive(false);
    terminate();
}

void Launcher::terminate()
{
    if (m_terminate)
        m_terminate();
    else
        QCoreApplication::quit();
}

LaunchCommand Launcher::playCommand(const QHash<QString, QString> &typed) const
{
    const Preferences defs;
    const auto text = [&](QLatin1String key) {
        return typed.value(key, defs.nonNullStringForKey(key));
    };
    GameSettings settings;
    settings.fullscreen = defs.integerForKey(SettingsKeys::fullscreen);
    settings.fsaa = defs.integerForKey(SettingsKeys::fsaa);
    settings.shader = defs.integerForKey(SettingsKeys::shader);
    settings.advancedOptions = text(SettingsKeys::advancedOptions);
    // With no entry selected the title is "", and the game gets "-w" and "-h" with no size.
    QComboBox *list = resolutions();
    const QString title = list->currentIndex() < 0 ? QString() : list->currentText();
    const QString dir = cwd();
    LaunchCommand command =
        launchCommand(LauncherPaths::gameExecutable(dir), gameArguments(title, settings),
                      text(SettingsKeys::launchWrapper), text(SettingsKeys::launchEnvironment));
    command.workingDirectory = dir;
    return command;
}

bool Launcher::playFile()
{
    const LaunchCommand command = playCommand();
    // A wrapper that cannot be read starts nothing: the game alone is not what the player asked
    // for. Environment lines that cannot be read are left out (the pane says which).
    DetachedProcess::Environment environment;
    for (const EnvironmentVariable &variable : command.environment)
        environment.append({variable.name, variable.value});
    if (!command.canStart() ||
        DetachedProcess::start(command.words, command.workingDirectory, environment) == -1) {
        showLaunchFailure();
        return false;
    }
    if (!m_currentRun)
        terminate();
    return true;
}

void Launcher::showLaunchFailure()
{
    auto *box = new QMessageBox(QMessageBox::Critical, tr("Can't start Velmora"),
                                tr("Can't start Velmora"), QMessageBox::Ok, window());
    box->setInformativeText(
        tr("Please move the directory containing Velmora to a path that doesn't "
           "contain weird characters or start it manually."));
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

void Launcher::setServerActive(bool start)
{
    if (start == (m_currentRun != nullptr))
        return;
    if (!start) {
        m_currentRun->kill();
        serverTerminated();
        return;
    }

    const QString dir = cwd();
    const Preferences prefs;
    ServerSettings settings;
    settings.options = prefs.nonNullStringForKey(SettingsKeys::serverOptions);
    settings.description = prefs.nonNullStringForKey(SettingsKeys::serverDescription);
    settings.password = prefs.nonNullStringForKey(SettingsKeys::serverPassword);
    settings.maxClients = prefs.integerForKey(SettingsKeys::serverMaxClients);
    const QByteArray childCwd = QFile::encodeName(dir);
    const QByteArray childPath = QFile::encodeName(LauncherPaths::gameExecutable(dir));
    const QList<QByteArray> args = serverArguments(childPath, settings);

    auto run = std::make_unique<ServerRun>();
    if (run->start(childPath, args, childCwd) == -1) {
        console()->appendLine(QStringLiteral("Error - can't launch server"));
        return;
    }
    // Each run reports its own reads, so the end of a stopped run's output is told apart from
    // the end of the running server's.
    connect(run.get(), &ServerRun::readCompleted, this, &Launcher::serverDataAvailable);
    connect(run.get(), &ServerRun::serverExited, this, &Launcher::serverExited);
    connect(run.get(), &ServerRun::finished, this, &Launcher::releaseRun);
    m_currentRun = run.get();
    startLog(run.get());
    m_runs.push_back(std::move(run));
    multiplayer()->setText(tr("Stop"));
    if (command())
        command()->setEnabled(true);
    m_currentRun->readInBackgroundAndNotify();
}

void Launcher::serverTerminated()
{
    if (!m_currentRun)
        return;
    ServerRun *run = std::exchange(m_currentRun, nullptr);
    multiplayer()->setText(tr("Start"));
    if (command())
        command()->setEnabled(false);
    console()->appendText(QStringLiteral("\n \n"));
    if (ServerLog *log = logOf(run))
        log->appendLine(QStringLiteral(" "));
}

ServerLog *Launcher::logOf(const ServerRun *run) const
{
    const auto output = m_outputs.find(run);
    return output != m_outputs.end() ? output->second.log.get() : nullptr;
}

void Launcher::startLog(ServerRun *run)
{
    if (!m_logWriter)
        m_logWriter = std::make_unique<ServerLogWriter>();
    RunOutput &output = m_outputs[run];
    output.log = std::make_unique<ServerLog>(m_logWriter.get(), ServerLog::defaultFolder(),
                                             QDateTime::currentDateTime());
    // Said once in the console; the server runs on without its log.
    connect(output.log.get(), &ServerLog::failed, this,
            [this](const QString &message) { console()->appendLine(message); });
    if (output.log->isOpen())
        m_lastLog = output.log->path();
    updateLogActions();
}

void Launcher::showOutput(ServerRun *run, ServerLog *log, const StyledText &shown)
{
    if (shown.text.isEmpty())
        return;
    console()->appendText(shown.text, run, shown.spans);
    if (log)
        log->append(shown.text);
}

void Launcher::showLine(const QString &line)
{
    console()->appendLine(line);
    if (ServerLog *log = logOf(m_currentRun))
        log->appendLine(line);
}

void Launcher::serverDataAvailable(ServerRun *run, const QString &text, ServerRun::Read read)
{
    RunOutput &output = m_outputs[run];
    ServerLog *log = output.log.get();
    showOutput(run, log, output.escapes.feed(text));
    if (read == ServerRun::Read::Output) {
        // A log that falls behind holds the output back: the server waits on its terminal.
        if (log)
            log->whenCaughtUp([run] { run->readInBackgroundAndNotify(); });
        else
            run->readInBackgroundAndNotify();
        return;
    }
    showOutput(run, log, output.escapes.finish());
    // The run's output has ended (or cannot be read): it is not read again.
    console()->endText(run);
    disconnect(run, &ServerRun::readCompleted, this, &Launcher::serverDataAvailable);
    if (run != m_currentRun) {
        run->closeOutput();
        return;
    }
    // Whatever of the run is left goes now, while its process group is still pinned to it; the
    // output is closed only then, since that lets the server be reaped.
    run->kill();
    run->closeOutput();
    serverExited(run);
}

void Launcher::serverExited(ServerRun *run)
{
    // The run ends once both its output and its server have; until then it can be stopped.
    if (run != m_currentRun || run->isOutputOpen() || !run->exitStatus())
        return;
    if (const std::optional<ExitStatus> status = run->ownExitStatus())
        showLine(exitStatusLine(*status));
    setServerActive(false);
}

QString Launcher::exitStatusLine(const ExitStatus &status)
{
    if (!status.signaled && status.code == 0)
        return tr("Server exited normally");
    if (!status.signaled)
        return tr("Server exited with status %1").arg(status.code);
    return tr("Server was killed by signal %1 (%2)")
        .arg(status.code)
        .arg(QString::fromLocal8Bit(::strsignal(status.code)));
}

void Launcher::sendServerCommand(const QString &command)
{
    if (!m_currentRun)
        return;
    // Refused whole, never cut: the text stays in the field and out of the history.
    const int fieldLength =
        m_commandField ? m_commandField->edit()->maxLength() : MaxCommandFieldLength;
    switch (commandFit(command, fieldLength)) {
    case CommandFit::Fits:
        break;
    case CommandFit::FillsField:
        showLine(tr("Command not sent: it fills all %1 characters the command field holds, so "
                    "part of it may be missing")
                     .arg(fieldLength));
        return;
    case CommandFit::LongerThanTerminal:
        showLine(tr("Command not sent: it is longer than the %1 bytes the server's terminal takes "
                    "in one line")
                     .arg(MaxTerminalLineBytes));
        return;
    }
    switch (m_currentRun->writeInput(terminalCommandBytes(command))) {
    case PtyWriter::Write::Sent:
    case PtyWriter::Write::Queued:
        if (m_commandField)
            m_commandField->accept(command);
        return;
    case PtyWriter::Write::Refused:
        showLine(tr("Command not sent: the server is not reading its input (%1 KiB still waiting)")
                     .arg(m_currentRun->pendingInput() / 1024));
        return;
    case PtyWriter::Write::Closed:
        showLine(tr("Command not sent: the server's terminal is closed"));
        return;
    }
}

void Launcher::releaseRun(ServerRun *run)
{
    const auto found = std::find_if(m_runs.begin(), m_runs.end(),
                                    [run](const auto &owned) { return owned.get() == run; });
    if (found == m_runs.end())
        return;
    // The run may be in the middle of emitting: let it finish before it goes.
    found->release()->deleteLater();
    m_runs.erase(found);
    m_outputs.erase(run);
    updateLogActions();
}

QStringList Launcher::toolbarDefaultItemIdentifiers(Toolbar *)
{
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
            QStringLiteral("4"), QStringLiteral("5"), ToolbarFlexibleSpaceItemIdentifier,
            QStringLiteral("7")};
}

QStringList Launcher::toolbarAllowedItemIdentifiers(Toolbar *toolbar)
{
    return toolbarDefaultItemIdentifiers(toolbar);
}

QStringList Launcher::toolbarSelectableItemIdentifiers(Toolbar *)
{
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
            QStringLiteral("5")};
}

ToolbarItem *Launcher::toolbarItemForItemIdentifier(Toolbar *, const QString &itemIdentifier, bool)
{
    return m_toolBarItems.value(itemIdentifier, nullptr);
}

ToolbarItem *Launcher::addToolBarItem(const QString &name)
{
    const int n = int(m_toolBarItems.size()) + 1;
    auto *item = new ToolbarItem(QString::number(n), this);
    item->setTag(n);
    connect(item, &QAction::triggered, this, [this, item] { switchViews(item); });
    m_toolBarItems.insert(item->itemIdentifier(), item);
    item->setLabel(QCoreApplication::translate("Toolbar", name.toUtf8().constData()));
    item->setImage(toolbarImageNamed(name));
    return item;
}

void Launcher::initViews()
{
    m_toolBarItems.clear();
    ToolbarItem *first = addToolBarItem(QStringLiteral(QT_TRANSLATE_NOOP("Toolbar", "Main")));
    first->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    addToolBarItem(QStringLiteral(QT_TRANSLATE_NOOP("Toolbar", "Server")))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    auto *item = new ToolbarItem(ToolbarFlexibleSpaceItemIdentifier, this);
    m_toolBarItems.insert(item->itemIdentifier(), item);
    ToolbarItem *help = addToolBarItem(QStringLiteral(QT_TRANSLATE_NOOP("Toolbar", "Help")));
    help->disconnect(this);
    connect(help, &QAction::triggered, this, &Launcher::helpAction);

    auto *toolbar = new Toolbar(QStringLiteral("PreferencePanes"));
    toolbar->setDelegate(this);
    toolbar->setAllowsUserCustomization(false);
    toolbar->setAutosavesConfiguration(false);
    setToolbar(window(), toolbar);
    setShowsToolbarButton(window(), false);
    toolbar->setSelectedItemIdentifier(first->itemIdentifier());
    switchViews(first);
}

void Launcher::switchViews(ToolbarItem *item)
{
    // The animated resize runs the event loop: a switch asked for meanwhile (by an assistive
    // tool, say) waits until this one is done, and the latest such request wins.
    if (m_switchingViews) {
        m_pendingSwitch = item;
        return;
    }
    QWidget *prefsView = nullptr;
    if (item->tag() == 1)
        prefsView = view1();
    else if (item->tag() == 2)
        prefsView = view2();
    else
        return;

    // A blank view stands in while the window resizes; the pane that goes out is kept, not deleted.
    m_switchingViews = true;
    auto *tempView = new QWidget;
    QMainWindow *window = this->window();
    if (QWidget *current = window->centralWidget())
        tempView->setGeometry(current->geometry());
    takeAndSetCentralWidget(window, tempView);

    const FrameRect newFrame =
        paneSwitchFrame(windowFrame(window), contentFrame(window), viewFrame(prefsView));
    setWindowFrame(window, newFrame, true);

    QWidget *out = takeAndSetCentralWidget(window, prefsView);
    if (out == tempView)
        delete out;
    setContentMinSize(window, QSizeF(prefsView->rect().size()));
    m_switchingViews = false;
    // Whoever asks for the Server pane while a server runs is about to talk to it.
    if (prefsView == view2() && m_currentRun && command() && command()->isEnabled())
        command()->setFocus(Qt::ShortcutFocusReason);

    if (QPointer<ToolbarItem> next = std::exchange(m_pendingSwitch, nullptr))
        switchViews(next);
}
