#pragma once

#include <QString>
#include <QStringList>

// The shell's word syntax, without a shell: what the player types as "Launch with" is split into
// words the way a POSIX shell would split it, and the command Play runs is written back as one
// line a shell reads as the same words (see quote()). Nothing is expanded: no variables, no globs,
// no ~.
namespace ShellWords {

enum class Problem
{
    None,
    UnmatchedSingleQuote,
    UnmatchedDoubleQuote,
    TrailingBackslash,
    NullCharacter, // cannot be passed to a program at all
};

struct Split
{
    QStringList words;
    Problem problem = Problem::None; // when not None, `words` is empty
};

// Blanks (space, tab, newline) separate words. Single quotes keep everything up to the next
// single quote; double quotes keep everything up to the next unescaped double quote, where a
// backslash escapes only $ ` " \ and a newline (which it removes); outside quotes a backslash keeps
// the next character and removes a newline. "" and '' make an empty word.
Split split(const QString &text);

// `word` as the shell must see it to read it back unchanged: as it is when every character is
// harmless, otherwise in single quotes (a single quote inside written as '\''). "" gives ''.
// A word holding a character that a line cannot carry as typed (a control, a line or paragraph
// separator, a space other than the plain one, a format character, a lone surrogate) is written
// as $'...' instead, that character as \t, \n, \r or \xHH escapes of its UTF-8 bytes: bash, zsh
// and ksh give back exactly the bytes the word is passed on as. Only such a word needs one of
// those shells; dash reads every other line the same.
QString quote(const QString &word);

// `word` in the position of the command's name: also quoted when the shell would take it for a
// variable assignment or a reserved word.
QString quoteCommandName(const QString &word);

// A name a POSIX shell accepts for a variable: a letter or _, then letters, digits and _ (ASCII).
bool isValidName(QStringView name);

} // namespace ShellWords
