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

// The code point at `i`, with `i` moved onto the second half of a surrogate pair. A lone
// surrogate stands for itself.
char32_t codePointAt(const QString &text, qsizetype &i)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(c, text.at(++i));
    return c.unicode();
}

// Characters that a shell line cannot carry as typed: a terminal or a text field acts on
// controls (a line break runs the line, a tab completes), turns line and paragraph separators
// into line breaks and odd spaces into plain ones, and shows format characters (direction
// marks, zero-width spaces) as nothing at all.
bool needsEscape(char32_t c)
{
    if (c == U' ')
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// `word` in $'...': backslash escapes for the characters above, as the bytes of their UTF-8
// form, which the shell turns back into exactly those bytes whatever its locale.
QString escaped(const QString &word)
{
    QString out = QStringLiteral("$'");
    for (qsizetype i = 0; i < word.size(); ++i) {
        const qsizetype start = i;
        const char32_t c = codePointAt(word, i);
        if (c == U'\\' || c == U'\'') {
            out += u'\\';
            out += QChar(c);
        } else if (c == U'\t') {
            out += QStringLiteral("\\t");
        } else if (c == U'\n') {
            out += QStringLiteral("\\n");
        } else if (c == U'\r') {
            out += QStringLiteral("\\r");
        } else if (needsEscape(c)) {
            // Always two digits, so that a hex digit after it is not read as part of it.
            for (const char byte : word.sliced(start, i + 1 - start).toUtf8())
                out += QStringLiteral("\\x%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
        } else {
            out += word.sliced(start, i + 1 - start);
        }
    }
    out += u'\'';
    return out;
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
    bool typeable = true;
    for (qsizetype i = 0; i < word.size(); ++i) {
        harmless = harmless && isHarmless(word.at(i));
        typeable = typeable && !needsEscape(codePointAt(word, i));
    }
    if (harmless)
        return word;
    if (!typeable)
        return escaped(word);
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
