#include "ServerPane.h"

#include "CommandField.h"
#include "ConsoleView.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

ServerPane::ServerPane(ServerControl *control, WidgetMaker makeWidgets, QObject *parent)
    : QObject(parent), m_makeWidgets(std::move(makeWidgets))
{
    m_countdown = new QTimer(this);
    m_countdown->setInterval(1000);
    connect(m_countdown, &QTimer::timeout, this, &ServerPane::showState);
    setControl(control);
}

const ServerPane::Widgets &ServerPane::widgets()
{
    if (m_makeWidgets)
        setUpWidgets();
    return m_widgets;
}

void ServerPane::setUpWidgets()
{
    m_widgets = std::exchange(m_makeWidgets, nullptr)();
    if (m_widgets.command) {
        m_widgets.command->setEnabled(false);
        m_commandField = new CommandField(m_widgets.command);
        connect(m_commandField, &CommandField::submitted, this, &ServerPane::sendServerCommand);
    }
    // The log actions are brought up to date whenever the console's context menu opens.
    if (m_widgets.console)
        m_widgets.console->installEventFilter(this);
    if (m_control)
        runningChanged(m_control->isRunning());
}

CommandField *ServerPane::commandField()
{
    widgets();
    return m_commandField;
}

ServerPane::~ServerPane()
{
    for (const QPointer<ServerControl> &control : m_consoleOf) {
        if (control)
            control->setConsole(nullptr);
    }
}

void ServerPane::setControl(ServerControl *control)
{
    if (m_control == control)
        return;
    if (m_control)
        disconnect(m_control, nullptr, this, nullptr);
    m_control = control;
    if (std::find(m_consoleOf.begin(), m_consoleOf.end(), control) == m_consoleOf.end()) {
        control->setConsole(this);
        m_consoleOf.emplace_back(control);
    }
    connect(control, &ServerControl::runningChanged, this, &ServerPane::runningChanged);
    connect(control, &ServerControl::stateChanged, this, &ServerPane::showState);
    connect(control, &ServerControl::logsChanged, this, &ServerPane::updateLogActions);
    runningChanged(control->isRunning());
    updateLogActions();
}

void ServerPane::appendOutput(const QObject *run, const StyledText &text)
{
    widgets().console->appendText(text.text, run, text.spans);
}

void ServerPane::endOutput(const QObject *run)
{
    widgets().console->endText(run);
}

void ServerPane::appendLine(const QString &line)
{
    widgets().console->appendLine(line, ConsoleModel::RowKind::Note);
}

void ServerPane::appendSessionLine(LineKind kind, const QString &line)
{
    widgets().console->appendLine(line, kind == LineKind::Command
                                            ? ConsoleModel::RowKind::Command
                                            : ConsoleModel::RowKind::Separator);
}

QString ServerPane::buttonTitle(bool running)
{
    return running ? tr("&Stop") : tr("&Start");
}

QString ServerPane::closeNoteText(bool serverOutlivesWindow)
{
    return serverOutlivesWindow ? tr("Closing the launcher leaves the server running.")
                                : tr("Closing the launcher stops the server.");
}

void ServerPane::runningChanged(bool running)
{
    if (!hasWidgets())
        return;
    if (m_widgets.command)
        m_widgets.command->setEnabled(running);
    if (m_widgets.keepRunning)
        m_widgets.keepRunning->setEnabled(!running);
    if (m_widgets.closeNote) {
        // The note follows whoever runs the server: this window, or a host that outlives it.
        const QString note = closeNoteText(m_control && m_control->outlivesWindow());
        m_widgets.closeNote->setText(note);
        m_widgets.closeNote->setAccessibleName(note);
        m_widgets.closeNote->setVisible(running);
    }
    showState();
}

void ServerPane::showState()
{
    // Also while the widgets are being made, before the maker has handed them over.
    if (!m_control || !hasWidgets() || !m_widgets.button)
        return;
    const ServerSession::State state = m_control->serverState();
    switch (state) {
    case ServerSession::State::Running:
    case ServerSession::State::RestartPending:
        m_widgets.button->setText(buttonTitle(true));
        break;
    case ServerSession::State::Stopping:
        m_widgets.button->setText(tr("Stopping…"));
        break;
    case ServerSession::State::Stopped:
    case ServerSession::State::GaveUp:
        m_widgets.button->setText(buttonTitle(false));
        break;
    }
    if (m_widgets.state) {
        const QString text = m_control->stateText();
        m_widgets.state->setText(text);
        m_widgets.state->setAccessibleDescription(text);
    }
    if (state != ServerSession::State::RestartPending)
        m_countdown->stop();
    else if (!m_countdown->isActive())
        m_countdown->start();
}

void ServerPane::focusCommand()
{
    if (hasWidgets() && m_control && m_control->isRunning() && m_widgets.command &&
        m_widgets.command->isEnabled())
        m_widgets.command->setFocus(Qt::ShortcutFocusReason);
}

void ServerPane::focusAfterButton()
{
    // Not while the pane is hidden: showing it puts the focus where it belongs (focusCommand).
    if (!hasWidgets() || !m_widgets.button || !m_widgets.button->isVisible())
        return;
    if (m_control && m_control->isRunning())
        focusCommand();
    else
        m_widgets.button->setFocus(Qt::OtherFocusReason);
}

void ServerPane::sendServerCommand(const QString &command)
{
    // A command that cannot be taken stays in the field; the console says why.
    widgets();
    const int fieldLength =
        m_widgets.command ? m_widgets.command->maxLength() : MaxCommandFieldLength;
    if (m_control && m_control->sendCommand(command, fieldLength) && m_commandField)
        m_commandField->accept(command);
}

void ServerPane::makeLogActions()
{
    if (m_openLogAction)
        return;
    m_openLogAction = new QAction(tr("Open Log"), this);
    m_openLogAction->setObjectName(QStringLiteral("openLogAction"));
    m_openLogAction->setToolTip(tr("Open the log of the current or last server run"));
    connect(m_openLogAction, &QAction::triggered, this, &ServerPane::openLogAction);
    m_showLogFolderAction = new QAction(tr("Show Log Folder"), this);
    m_showLogFolderAction->setObjectName(QStringLiteral("showLogFolderAction"));
    m_showLogFolderAction->setToolTip(tr("Show the folder that holds the server logs"));
    connect(m_showLogFolderAction, &QAction::triggered, this, &ServerPane::showLogFolderAction);
    m_openLogAction->setEnabled(false);
    m_showLogFolderAction->setEnabled(false);
}

QAction *ServerPane::openLogMenuItem()
{
    makeLogActions();
    return m_openLogAction;
}

QAction *ServerPane::showLogFolderMenuItem()
{
    makeLogActions();
    return m_showLogFolderAction;
}

void ServerPane::updateLogActions()
{
    if (!m_openLogAction || !m_control)
        return;
    m_openLogAction->setEnabled(!m_control->logToOpen().isEmpty());
    m_showLogFolderAction->setEnabled(QFileInfo(m_control->logFolder()).isDir());
}

void ServerPane::openLogAction()
{
    const QString log = m_control ? m_control->logToOpen() : QString();
    if (log.isEmpty())
        return;
    m_control->flushLog(log);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(log)))
        Q_EMIT cannotOpen(log);
}

void ServerPane::showLogFolderAction()
{
    const QString folder = m_control ? m_control->logFolder() : QString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir() &&
        !QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        Q_EMIT cannotOpen(folder);
}

bool ServerPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_widgets.console && event->type() == QEvent::ContextMenu)
        updateLogActions();
    return QObject::eventFilter(watched, event);
}
