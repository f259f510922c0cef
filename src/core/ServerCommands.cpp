#include "ServerCommands.h"

QByteArray terminalCommandBytes(const QString &command)
{
    QString text;
    text.reserve(command.size());
    for (const QChar c : command) {
        const char16_t u = c.unicode();
        // C0 controls and DEL, and the C1 controls, which some terminals act on as well.
        if ((u < 0x20 && u != u'\t') || (u >= 0x7f && u <= 0x9f))
            continue;
        text.append(c);
    }
    QByteArray bytes = text.toUtf8();
    bytes.append('\n');
    return bytes;
}

CommandFit commandFit(const QString &command, int fieldLength)
{
    if (command.size() >= fieldLength)
        return CommandFit::FillsField;
    if (terminalCommandBytes(command).size() - 1 > MaxTerminalLineBytes)
        return CommandFit::LongerThanTerminal;
    return CommandFit::Fits;
}

void CommandHistory::add(const QString &command)
{
    if (!command.isEmpty() && (m_entries.isEmpty() || m_entries.constLast() != command)) {
        m_entries.append(command);
        if (m_entries.size() > MaxEntries)
            m_entries.removeFirst();
    }
    resetWalk();
}

std::optional<QString> CommandHistory::previous(const QString &current)
{
    if (m_position == 0)
        return std::nullopt;
    if (!isWalking())
        m_draft = current;
    return m_entries.at(--m_position);
}

std::optional<QString> CommandHistory::next()
{
    if (!isWalking())
        return std::nullopt;
    ++m_position;
    return isWalking() ? m_entries.at(m_position) : m_draft;
}

void CommandHistory::resetWalk()
{
    m_position = m_entries.size();
    m_draft.clear();
}
