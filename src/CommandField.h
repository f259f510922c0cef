#pragma once

#include "ServerCommands.h"

#include <QObject>

class QLineEdit;

// The Server pane's command line: a line edit that hands its text on with Return and recalls
// this session's commands with Up and Down. Whether a command is taken is the receiver's call:
// only accept() clears the field and keeps the command in the history, so a command that could
// not be sent stays in the field. Lives as long as the line edit it is made for.
class CommandField : public QObject
{
    Q_OBJECT
public:
    explicit CommandField(QLineEdit *edit);

    QLineEdit *edit() const { return m_edit; }
    const CommandHistory &history() const { return m_history; }
    // The command handed on last was sent: into the history, and the field is cleared.
    void accept(const QString &command);

Q_SIGNALS:
    void submitted(const QString &command);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_edit;
    CommandHistory m_history;
};
