#include "ServerPane.h"

#include "CommandField.h"
#include "ConsoleView.h"

#include <QAction>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

ServerPane::ServerPane(ServerSession *session, const Widgets &widgets, QObject *parent)
    : QObject(parent), m_session(session), m_widgets(widgets)
{
    session->setConsole(this);
    connect(session, &ServerSession::runningChanged, this, &ServerPane::runningChanged);
    connect(session, &ServerSession::stateChanged, this, &ServerPane::showState);
    m_countdown = new QTimer(this);
    m_countdown->setInterval(1000);
    connect(m_countdown, &QTimer::timeout, this, &ServerPane::showState);
    connect(session, &ServerSession::logsChanged, this, &ServerPane::updateLogActions);
    if (m_widgets.command) {
        m_widgets.command->setEnabled(false);
        m_commandField = new CommandField(m_widgets.command);
        connect(m_commandField, &CommandField::submitted, this, &ServerPane::sendServerCommand);
    }
    // The log actions are brought up to date whenever the console's context menu opens.
    if (m_widgets.console)
        m_widgets.console->installEventFilter(this);
    if (m_widgets.closeNote) {
        m_widgets.closeNote->setText(closeNoteText());
        m_widgets.closeNote->setAccessibleName(closeNoteText());
    }
    runningChanged(session->isRunning());
    showState();
}

ServerPane::~ServerPane()
{
    if (m_session)
        m_session->setConsole(nullptr);
}

void ServerPane::appendOutput(const QObject *run, const StyledText &text)
{
    m_widgets.console->appendText(text.text, run, text.spans);
}

void ServerPane::endOutput(const QObject *run)
{
    m_widgets.console->endText(run);
}

void ServerPane::appendLine(const QString &line)
{
    m_widgets.console->appendLine(line, ConsoleModel::RowKind::Note);
}

void ServerPane::appendSessionLine(LineKind kind, const QString &line)
{
    m_widgets.console->appendLine(line, kind == LineKind::Command
                                            ? ConsoleModel::RowKind::Command
                                            : ConsoleModel::RowKind::Separator);
}

QString ServerPane::buttonTitle(bool running)
{
    return running ? tr("&Stop") : tr("&Start");
}

QString ServerPane::closeNoteText()
{
    return tr("Closing the launcher stops the server.");
}

void ServerPane::runningChanged(bool running)
{
    if (m_widgets.command)
        m_widgets.command->setEnabled(running);
    if (m_widgets.closeNote)
        m_widgets.closeNote->setVisible(running);
}

void ServerPane::showState()
{
    if (!m_session)
        return;
    const ServerSession::State state = m_session->state();
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
        const QString text = m_session->stateText();
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
    if (m_session && m_session->isRunning() && m_widgets.command && m_widgets.command->isEnabled())
        m_widgets.command->setFocus(Qt::ShortcutFocusReason);
}

void ServerPane::focusAfterButton()
{
    // Not while the pane is hidden: showing it puts the focus where it belongs (focusCommand).
    if (!m_widgets.button->isVisible())
        return;
    if (m_session && m_session->isRunning())
        focusCommand();
    else
        m_widgets.button->setFocus(Qt::OtherFocusReason);
}

void ServerPane::sendServerCommand(const QString &command)
{
    // A command that cannot be taken stays in the field; the console says why.
    const int fieldLength =
        m_widgets.command ? m_widgets.command->maxLength() : MaxCommandFieldLength;
    if (m_session && m_session->sendCommand(command, fieldLength) && m_commandField)
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
    if (!m_openLogAction || !m_session)
        return;
    m_openLogAction->setEnabled(!m_session->logToOpen().isEmpty());
    m_showLogFolderAction->setEnabled(QFileInfo(m_session->logFolder()).isDir());
}

void ServerPane::openLogAction()
{
    const QString log = m_session ? m_session->logToOpen() : QString();
    if (log.isEmpty())
        return;
    m_session->flushLog(log);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(log)))
        Q_EMIT cannotOpen(log);
}

void ServerPane::showLogFolderAction()
{
    const QString folder = m_session ? m_session->logFolder() : QString();
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
