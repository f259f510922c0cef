#pragma once

#include <QFrame>

class QLabel;
class QMainWindow;
class QToolButton;

// A strip at the foot of the launcher window that tells the user something without stopping
// anything: no modal loop, so the console and a running server go on. Hidden until there is
// something to say; a new message replaces the one shown, which stays until it is dismissed.
// The window grows by the strip's height while it shows, so the pane keeps its size.
class MessageBar : public QFrame
{
    Q_OBJECT
public:
    // Puts itself into `window`'s status bar.
    explicit MessageBar(QMainWindow *window);

    // With a `copyText` (a path, say), a Copy button beside the message puts it on the clipboard.
    void showMessage(const QString &text, const QString &copyText = QString());
    QString text() const;
    QString copyText() const { return m_copyText; }
    void dismiss();

Q_SIGNALS:
    void messageShown(const QString &text);

private:
    void resizeWindowBy(int height);

    QMainWindow *m_window;
    QLabel *m_icon;
    QLabel *m_text;
    QToolButton *m_copy;
    QString m_copyText;
};
