#include "LauncherInterface.h"

#include "ConsoleView.h"
#include "LaunchPreview.h"
#include "Launcher.h"
#include "MessageBar.h"
#include "Preferences.h"
#include "ServerSession.h"
#include "SettingsBinding.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace {

// A pane's default button: Return or Enter that no control has used presses it, as in a dialog.
// Play is the Main pane's; Start the Server pane's, from its settings fields and only while no
// server runs (Return never stops one, and in the command line it sends the command).
class DefaultButton : public QObject
{
public:
    using Condition = std::function<bool()>;
    DefaultButton(QWidget *pane, QPushButton *button, Condition when = nullptr)
        : QObject(pane), m_button(button), m_when(std::move(when))
    {
        pane->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_button->isEnabled() &&
                (!m_when || m_when())) {
                m_button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPushButton *m_button;
    Condition m_when;
};

// What a field is for, as screen readers say it, shows to the pointer too.
void describeToPointer(QWidget *pane)
{
    for (QWidget *control : pane->findChildren<QWidget *>()) {
        if (control->toolTip().isEmpty() && !control->accessibleDescription().isEmpty())
            control->setToolTip(control->accessibleDescription());
    }
}

// The window keeps within the screen (see PaneSwitcher), so a pane may get less room than its
// controls need: it then scrolls inside itself. The pane stays the widget the window shows;
// its controls move into a frameless scroll area that takes no Tab stop of its own.
void scrollInside(QWidget *pane, const QString &accessibleName)
{
    auto *content = new QWidget;
    content->setObjectName(pane->objectName() + QStringLiteral("Content"));
    content->setLayout(pane->layout()); // takes the layout's widgets along
    auto *scroll = new QScrollArea;
    scroll->setObjectName(pane->objectName() + QStringLiteral("Scroll"));
    scroll->setAccessibleName(accessibleName);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    // A control reached by a mnemonic or a click is brought into view, not only one reached by
    // Tab (which QScrollArea does itself).
    QObject::connect(qApp, &QApplication::focusChanged, scroll,
                     [scroll, content](QWidget *, QWidget *now) {
                         if (now && content->isAncestorOf(now))
                             scroll->ensureWidgetVisible(now);
                     });
}

// Edit › Delete is named and described for what it does where the focus is: in a text field it
// deletes the selection, in the console it clears the console, elsewhere it does nothing. Kept
// up to date as the focus moves; a selection made since does not change what it is. `console` is
// null until the Server pane has made its widgets.
void describeDelete(QAction *action, const ConsoleView *console)
{
    QWidget *focus = QApplication::focusWidget();
    bool editable = false;
    if (auto *edit = qobject_cast<QLineEdit *>(focus))
        editable = !edit->isReadOnly();
    else if (auto *text = qobject_cast<QPlainTextEdit *>(focus))
        editable = !text->isReadOnly();
    if (focus && console && focus == console) {
        action->setText(QCoreApplication::translate("LauncherInterface", "&Clear Console"));
        action->setToolTip(
            QCoreApplication::translate("LauncherInterface", "Clear the server console"));
        action->setEnabled(true);
    } else if (editable) {
        action->setText(QCoreApplication::translate("LauncherInterface", "&Delete"));
        action->setToolTip(
            QCoreApplication::translate("LauncherInterface", "Delete the selected text"));
        action->setEnabled(true);
    } else {
        action->setText(QCoreApplication::translate("LauncherInterface", "&Delete"));
        action->setToolTip(QCoreApplication::translate(
            "LauncherInterface",
            "Delete the selected text, or clear the server console when it has the focus"));
        action->setEnabled(false);
    }
}

} // namespace

LauncherInterface::LauncherInterface()
    : m_ui(std::make_unique<Ui::LauncherWindow>()), m_window(std::make_unique<QMainWindow>()),
      m_launcher(std::make_unique<Launcher>())
{
    m_ui->setupUi(m_window.get());
    m_window->setObjectName(QStringLiteral("launcherWindow"));
    m_window->setAccessibleName(QStringLiteral("Velmora"));

    // The panes stand side by side in the interface file; the window shows one at a time. They stay
    // children of the window (hidden) while not shown, so the window owns them all along.
    QWidget *holder = m_window->takeCentralWidget();
    for (QWidget *pane : {m_ui->view1, m_ui->view2}) {
        const QRect frame = pane->geometry();
        pane->setParent(m_window.get());
        pane->setGeometry(frame);
        pane->hide();
    }
    delete holder;
    describeToPointer(m_ui->view1);
    scrollInside(m_ui->view1,
                 QCoreApplication::translate("LauncherInterface", "Main settings scroll area"));

    // Start-up reads the preferences once: the controls, the resolution list and any message
    // about the file all come from this one reader.
    auto prefs = std::make_shared<const Preferences>();
    prefs->protectFile();
    m_messages = new MessageBar(m_window.get());
    m_binding = new SettingsBinding(m_window.get());
    m_binding->bind(m_ui->view1, *prefs);
    MessageBar *messages = m_messages;
    QObject::connect(m_binding, &SettingsBinding::saveFailed, messages,
                     [messages](const QString &file, const QString &reason) {
                         messages->showMessage(
                             QCoreApplication::translate(
                                 "LauncherInterface",
                                 "Your settings could not be saved to %1: %2. The launcher uses "
                                 "them until it quits.")
                                 .arg(file, reason));
                     });
    QObject::connect(m_binding, &SettingsBinding::tooLong, messages,
                     [messages](const QString &field, qsizetype limit) {
                         messages->showMessage(
                             QCoreApplication::translate(
                                 "LauncherInterface",
                                 "%1 is not saved: it is longer than the %2 characters a setting "
                                 "holds. The launcher goes on with the value saved before.")
                                 .arg(field, QString::number(limit)));
                     });
    if (!prefs->refusal().isEmpty())
        m_messages->showMessage(
            QCoreApplication::translate("LauncherInterface",
                                        "The settings file %1 is not used: %2. The launcher starts "
                                        "with empty settings and writes nothing there until it "
                                        "quits.")
                .arg(prefs->fileName(), prefs->refusal()));

    Launcher::Outlets outlets;
    outlets.window = m_window.get();
    outlets.view1 = m_ui->view1;
    outlets.view2 = m_ui->view2;
    outlets.resolutions = m_ui->resolutions;
    outlets.serverWidgets = [this] { return makeServerPane(); };
    m_launcher->setOutlets(outlets);
    m_launcher->setSettingsBinding(m_binding);
    m_launcher->setStartupPreferences(prefs);
    // A log that cannot be written is said in the console and here, where it is seen from
    // either pane.
    QObject::connect(m_launcher->session(), &ServerSession::logFailed, messages,
                     [messages](const QString &text) { messages->showMessage(text); });
    // No program to open a page, a log or a folder with: the path, to open by hand.
    QObject::connect(
        m_launcher.get(), &Launcher::cannotOpen, messages, [messages](const QString &path) {
            messages->showMessage(
                QCoreApplication::translate("LauncherInterface",
                                            "No program on this desktop opens %1. Copy "
                                            "the path to open it yourself.")
                    .arg(path),
                path);
        });

    connectActions();
    new DefaultButton(m_ui->view1, m_ui->playButton);
    LaunchPreview::Widgets preview;
    preview.pane = m_ui->view1;
    preview.preview = m_ui->commandPreview;
    preview.copy = m_ui->copyCommandButton;
    preview.wrapperProblem = m_ui->launchWrapperError;
    preview.environmentProblem = m_ui->launchEnvironmentError;
    preview.environment = m_ui->launchEnvironmentEdit;
    preview.resolutions = m_ui->resolutions;
    Launcher *launcher = m_launcher.get();
    new LaunchPreview(m_binding, preview, [launcher] { return launcher->cwd(); });
}

LauncherInterface::~LauncherInterface() = default;

Ui::ServerPaneForm &LauncherInterface::serverUi() const
{
    m_launcher->serverPane()->widgets();
    return *m_serverUi;
}

ServerPane::Widgets LauncherInterface::makeServerPane()
{
    // The Server pane's controls show what the preferences hold when they are made, which is
    // what a Start made before them would have read too.
    m_serverUi = std::make_unique<Ui::ServerPaneForm>();
    Ui::ServerPaneForm &ui = *m_serverUi;
    QWidget *pane = m_ui->view2;
    ui.setupUi(pane);
    describeToPointer(pane);
    scrollInside(pane,
                 QCoreApplication::translate("LauncherInterface", "Server settings scroll area"));
    m_binding->bind(pane);

    Launcher *launcher = m_launcher.get();
    QObject::connect(ui.multiplayer, &QPushButton::clicked, launcher, &Launcher::multiplayerAction);
    const QList<QWidget *> serverFields{ui.serverDescriptionEdit, ui.serverPasswordEdit,
                                        ui.serverMaxClientsSpin, ui.serverOptionsEdit,
                                        ui.multiplayer};
    ServerSession *session = launcher->session();
    new DefaultButton(pane, ui.multiplayer, [session, serverFields] {
        return !session->isRunning() && serverFields.contains(QApplication::focusWidget());
    });

    ConsoleView *console = ui.console;
    console->awakeFromNib();
    // The binding stores the choice; the console follows it at once.
    console->setUserTextFont(ui.consoleUserFontCheck->isChecked());
    QObject::connect(ui.consoleUserFontCheck, &QCheckBox::toggled, console,
                     &ConsoleView::setUserTextFont);
    // The server logs, in the console's context menu as in the Edit menu.
    QAction *separator = new QAction(console);
    separator->setSeparator(true);
    console->addAction(separator);
    console->addAction(launcher->openLogMenuItem());
    console->addAction(launcher->showLogFolderMenuItem());

    // The console's text is green on a dark ground, whatever the desktop's colours.
    QWidget *viewport = ui.consoleScroll->viewport();
    QPalette dark = viewport->palette();
    dark.setColor(QPalette::Window, QColor(18, 22, 18));
    viewport->setPalette(dark);
    viewport->setBackgroundRole(QPalette::Window);
    viewport->setAutoFillBackground(true);

    ServerPane::Widgets widgets;
    widgets.button = ui.multiplayer;
    widgets.state = ui.serverState;
    widgets.console = console;
    widgets.command = ui.serverCommand;
    widgets.keepRunning = ui.keepRunningCheck;
    widgets.closeNote = ui.serverCloseNote;
    return widgets;
}

void LauncherInterface::connectActions()
{
    Launcher *launcher = m_launcher.get();
    QObject::connect(m_ui->playButton, &QPushButton::clicked, launcher, &Launcher::playAction);
    QObject::connect(m_ui->actionHelp, &QAction::triggered, launcher, &Launcher::helpAction);
    // Quitting is closing the window: a running server stops with it.
    QMainWindow *window = m_window.get();
    QObject::connect(m_ui->actionQuit, &QAction::triggered, window, &QWidget::close);

    // Edit > Delete acts on whatever has the focus: a text field deletes its selection (and
    // nothing when none is selected: QLineEdit::del() would take the next character), the console
    // clears itself.
    // The console is made with the Server pane, so it is looked up at each use.
    const auto console = [this] { return m_serverUi ? m_serverUi->console : nullptr; };
    QAction *del = m_ui->actionDelete;
    describeDelete(del, console());
    QObject::connect(qApp, &QApplication::focusChanged, del,
                     [del, console] { describeDelete(del, console()); });
    QObject::connect(m_ui->menuEdit, &QMenu::aboutToShow, del,
                     [del, console] { describeDelete(del, console()); });
    QObject::connect(m_ui->actionDelete, &QAction::triggered, del, [console] {
        QWidget *focus = QApplication::focusWidget();
        if (auto *edit = qobject_cast<QLineEdit *>(focus)) {
            if (edit->hasSelectedText())
                edit->del();
        } else if (auto *text = qobject_cast<QPlainTextEdit *>(focus);
                   text && !text->isReadOnly()) {
            QTextCursor cursor = text->textCursor();
            if (cursor.hasSelection())
                cursor.removeSelectedText();
        } else if (ConsoleView *shown = console(); shown && focus == shown) {
            shown->deleteLines();
        }
    });

    // The server logs, in the Edit menu (and in the console's context menu, see makeServerPane).
    for (QAction *action : {launcher->openLogMenuItem(), launcher->showLogFolderMenuItem()})
        m_ui->menuEdit->addAction(action);
    m_ui->menuEdit->insertSeparator(launcher->openLogMenuItem());
    QObject::connect(m_ui->menuEdit, &QMenu::aboutToShow, launcher, &Launcher::updateLogActions);
}
