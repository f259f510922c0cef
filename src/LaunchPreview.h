#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QComboBox;
struct LaunchCommand;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class SettingsBinding;
class QWidget;

// The Main pane's account of what Play will run: the command as one shell line, kept current as
// the player changes settings (text still being typed included, since Play stores it first), a
// Copy button for the whole of it (the preview shows no more than its first few thousand
// characters), and what is wrong with the wrapper or the environment lines, under each.
// It only reads: the command is built from the stored settings, the binding stores them.
class LaunchPreview : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QWidget *pane = nullptr; // shown again: the launcher may have moved meanwhile
        QPlainTextEdit *preview = nullptr;
        QPushButton *copy = nullptr;
        QLabel *wrapperProblem = nullptr;
        QLabel *environmentProblem = nullptr;
        QPlainTextEdit *environment = nullptr;
        QComboBox *resolutions = nullptr;
    };

    // Owned by the pane. `gameDirectory` gives the game directory as it is at each refresh.
    LaunchPreview(SettingsBinding *binding, const Widgets &widgets,
                  std::function<QString()> gameDirectory);

    void refresh();
    // Shows `command`, as Play would run it.
    void show(const LaunchCommand &command);
    // Puts the whole command on the clipboard, however much of it the preview shows.
    void copy();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<QString()> m_gameDirectory;
    QPointer<SettingsBinding> m_binding;
    Widgets m_widgets;
    QString m_line;  // the whole command, as copied
    QString m_shown; // what the preview holds of it
};
