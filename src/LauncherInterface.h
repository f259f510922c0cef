#pragma once

#include "ServerPane.h"

#include <memory>

class Launcher;
class QMainWindow;
class SettingsBinding;

namespace Ui {
class LauncherWindow;
class ServerPaneForm;
} // namespace Ui

// Builds the launcher's interface from Launcher.ui, the way a desktop program loads its main
// interface file: the window with both panes, the settings controls bound to the preferences, the
// one Launcher with its outlets connected, and the actions wired to it. awakeFromNib() is left to
// the caller, so that tests can set seams first.
class MessageBar;

class LauncherInterface
{
public:
    LauncherInterface();
    ~LauncherInterface();

    QMainWindow *window() const { return m_window.get(); }
    Launcher *launcher() const { return m_launcher.get(); }
    SettingsBinding *binding() const { return m_binding; }
    MessageBar *messages() const { return m_messages; }
    Ui::LauncherWindow &ui() const { return *m_ui; }
    // The Server pane's controls, made by this call if the pane has not made them yet.
    Ui::ServerPaneForm &serverUi() const;

private:
    void connectActions();
    ServerPane::Widgets makeServerPane();

    std::unique_ptr<Ui::LauncherWindow> m_ui;
    std::unique_ptr<Ui::ServerPaneForm> m_serverUi; // made with the Server pane's widgets
    std::unique_ptr<QMainWindow> m_window;
    // Declared after the window, so it goes first: it may still stop a server and write to the
    // console while the widgets it points to are there.
    std::unique_ptr<Launcher> m_launcher;
    SettingsBinding *m_binding = nullptr; // owned by the window
    MessageBar *m_messages = nullptr;     // owned by the window
};
