#pragma once

#include <QFrame>

class QLabel;
class QMainWindow;

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

    void showMessage(const QString &text);
    QString text() const;
    void dismiss();

Q_SIGNALS:
    void messageShown(const QString &text);

private:
    void resizeWindowBy(int height);

    QMainWindow *m_window;
    QLabel *m_icon;
    QLabel *m_text;
};
