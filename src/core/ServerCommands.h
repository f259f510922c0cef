#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The commands a user types for the running server: what goes to its terminal, and this
// session's history of them. Plain logic, so every rule is tested without a window or a server.

// The bytes a typed command puts on the server's terminal: its text in UTF-8 with control
// characters other than tab left out, then one line feed. A terminal acts on control characters
// (interrupt, end of file, stopping the output, erasing), so a pasted one would do more than the
// user typed; a line break inside would send more than one command.
QByteArray terminalCommandBytes(const QString &command);

// The longest line a terminal in its usual line-by-line mode takes: 4095 bytes, then the line
// feed. It cuts a longer one without a word and hands on the first 4095 bytes.
inline constexpr qsizetype MaxTerminalLineBytes = 4095;
// What a line edit holds unless told otherwise; it cuts a longer paste without a word.
inline constexpr int MaxCommandFieldLength = 32767;

enum class CommandFit
{
    Fits,
    FillsField,         // as long as the field holds: the field may have cut it already
    LongerThanTerminal, // more than MaxTerminalLineBytes of terminalCommandBytes() before the
                        // line feed
};

// Whether `command`, typed into a field that holds at most `fieldLength` characters, reaches the
// server whole. Anything but Fits is not sent at all: half a command can do what the whole would
// not (a kick or ban with its reason cut off, a message cut mid-word).
CommandFit commandFit(const QString &command, int fieldLength = MaxCommandFieldLength);

// The commands of this session, newest last, kept in memory only: a command may hold a password.
// At most MaxEntries; a command that repeats the newest one is kept once; an empty command is not
// kept. Up and Down walk it from the field's text (the draft): previous() steps towards older
// commands, next() towards newer ones and, past the newest, back to the draft.
class CommandHistory
{
public:
    static constexpr int MaxEntries = 100;

    void add(const QString &command);
    QStringList entries() const { return m_entries; }

    // The text the field shows after one step, or nothing when the walk is at its end in that
    // direction (the field keeps its text). `current` is the field's text now: on the first step
    // back it is kept as the draft.
    std::optional<QString> previous(const QString &current);
    std::optional<QString> next();
    // Whether a walk is under way (the field shows an older command, not the draft).
    bool isWalking() const { return m_position < m_entries.size(); }
    // Ends a walk: the next previous() starts again from the newest command.
    void resetWalk();

private:
    QStringList m_entries;
    qsizetype m_position = 0; // m_entries.size() while the field shows the draft
    QString m_draft;
};
