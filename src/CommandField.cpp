#include "CommandField.h"

#include <QKeyEvent>
#include <QLineEdit>

CommandField::CommandField(QLineEdit *edit) : QObject(edit), m_edit(edit)
{
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::returnPressed, this, [this] { Q_EMIT submitted(m_edit->text()); });
}

void CommandField::accept(const QString &command)
{
    m_history.add(command);
    m_edit->clear();
}

bool CommandField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) == 0 &&
            (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            const std::optional<QString> text =
                key->key() == Qt::Key_Up ? m_history.previous(m_edit->text()) : m_history.next();
            if (text)
                m_edit->setText(*text);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
