#include "ShellWords.h"

#include <array>

namespace ShellWords {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Characters that mean nothing to a shell wherever they stand in a word. Non-ASCII letters,
// digits and marks are plain text to the shell; other non-ASCII characters (spaces that do not
// look like spaces, format characters) are quoted so that a reader sees where they are.
bool isHarmless(QChar c)
{
    if (c.unicode() < 0x80) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               QStringView(u"_@%+=:,./-").contains(c);
    }
    return !c.isSurrogate() && (c.isLetterOrNumber() || c.isMark());
}

bool isReservedWord(const QString &word)
{
    // POSIX's reserved words and those of the common interactive shells (bash, zsh).
    static const std::array<QStringView, 22> reserved{
        u"!",    u"{",  u"}",    u"case",   u"do",     u"done",    u"elif",  u"else",
        u"esac", u"fi", u"for",  u"if",     u"in",     u"then",    u"until", u"while",
        u"[[",   u"]]", u"time", u"select", u"coproc", u"function"};
    for (QStringView r : reserved) {
        if (word == r)
            return true;
    }
    return false;
}

} // namespace

bool isValidName(QStringView name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        const bool digit = c >= u'0' && c <= u'9';
        if (!letter && !(digit && i > 0))
            return false;
    }
    return true;
}

Split split(const QString &text)
{
    enum class In
    {
        Nothing,
        Word,
        Single,
        Double
    };
    Split result;
    QString word;
    In in = In::Nothing;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isNull())
            return Split{{}, Problem::NullCharacter};
        switch (in) {
        case In::Single:
            if (c == u'\'')
                in = In::Word;
            else
                word += c;
            break;
        case In::Double:
            if (c == u'"') {
                in = In::Word;
            } else if (c == u'\\' && i + 1 < n &&
                       QStringView(u"$`\"\\\n").contains(text.at(i + 1))) {
                ++i;
                if (text.at(i) != u'\n')
                    word += text.at(i);
            } else {
                word += c;
            }
            break;
        case In::Nothing:
        case In::Word:
            if (isBlank(c)) {
                if (in == In::Word)
                    result.words << std::exchange(word, QString());
                in = In::Nothing;
            } else if (c == u'\'') {
                in = In::Single;
            } else if (c == u'"') {
                in = In::Double;
            } else if (c == u'\\') {
                if (i + 1 == n)
                    return Split{{}, Problem::TrailingBackslash};
                ++i;
                if (text.at(i) == u'\n') {
                    // A line continuation joins, it does not start a word.
                    continue;
                }
                if (text.at(i).isNull())
                    return Split{{}, Problem::NullCharacter};
                word += text.at(i);
                in = In::Word;
            } else {
                word += c;
                in = In::Word;
            }
            break;
        }
    }
    if (in == In::Single)
        return Split{{}, Problem::UnmatchedSingleQuote};
    if (in == In::Double)
        return Split{{}, Problem::UnmatchedDoubleQuote};
    if (in == In::Word)
        result.words << word;
    return result;
}

QString quote(const QString &word)
{
    bool harmless = !word.isEmpty();
    for (QChar c : word)
        harmless = harmless && isHarmless(c);
    if (harmless)
        return word;
    QString quoted = QStringLiteral("'");
    for (QChar c : word) {
        if (c == u'\'')
            quoted += QStringLiteral("'\\''");
        else
            quoted += c;
    }
    quoted += u'\'';
    return quoted;
}

QString quoteCommandName(const QString &word)
{
    const qsizetype equals = word.indexOf(u'=');
    const bool looksLikeAssignment = equals > 0 && isValidName(QStringView(word).left(equals));
    const QString quoted = quote(word);
    // A word that starts with a quote is neither an assignment nor a reserved word to the shell.
    if ((looksLikeAssignment || isReservedWord(word)) && quoted == word)
        return u'\'' + word + u'\'';
    return quoted;
}

} // namespace ShellWords
