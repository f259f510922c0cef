#pragma once

#include <QPointer>
#include <QPushButton>

class ConsoleView;
class QAbstractScrollArea;

// The way back to the end of the console: a small button over the lower edge of the console's
// viewport that reads "N new lines" while rows arrive that the user, scrolled back, has not seen.
// Pressing it scrolls to the end and follows the output again; it hides itself as soon as the
// view stands at the end. A child of the viewport beside the console, so that it stays put while
// the console scrolls and assistive technology finds it (the scroll area's accessible children
// are its viewport and bars only). It takes no focus: End and Ctrl+End in the console do the
// same from the keyboard.
class NewRowsButton : public QPushButton
{
    Q_OBJECT
public:
    NewRowsButton(ConsoleView *console, QAbstractScrollArea *area);

    // "1 new line", "N new lines": the button's text and its accessible name.
    static QString label(int rows);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showCount(int rows);
    void place();

    // Compared by identity only: its events still arrive while the scroll area is being
    // destroyed.
    QPointer<QWidget> m_viewport;
};
