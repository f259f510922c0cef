#include "PreferencesFile.h"

#include "UniqueFd.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PreferencesFile {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Preferences", text);
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return qt_error_string(EISDIR);
    if (S_ISFIFO(mode))
        return tr("it is a named pipe, not a regular file");
    if (S_ISSOCK(mode))
        return tr("it is a socket, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return tr("it is a device, not a regular file");
    return tr("it is not a regular file");
}

QString tooLarge()
{
    return tr("it is larger than 1 MiB, which no launcher writes");
}

// A folder in which someone else can add, remove or rename entries: one of another user's (root's
// aside), or one that others may write, sticky or not.
bool othersCanChange(const QString &folder)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0)
        return true;
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return true;
    return (info.st_mode & S_IWOTH) != 0 ||
           ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid());
}

// Why the links at the end of `path` may not be followed, or "": each link, and the file the last
// one leads to, must lie in a folder that nobody else can change, so that what was checked here
// is what a save later writes; and the file must be the user's own, so that a save never hands
// another user's file to this one.
QString linkRefusal(const QString &path, const struct stat &file)
{
    QString hop = path;
    for (int links = 0;; ++links) {
        const QString folder = QFileInfo(hop).absolutePath();
        if (othersCanChange(folder))
            return tr("it is a link, and others can change the folder %1").arg(folder);
        const QByteArray name = QFile::encodeName(hop);
        struct stat info = {};
        if (links > 40)
            return tr("it is a link to nothing (%1)").arg(qt_error_string(ELOOP));
        if (::lstat(name.constData(), &info) != 0) // changed since the check
            return tr("it is a link to nothing (%1)").arg(qt_error_string(errno));
        if (!S_ISLNK(info.st_mode))
            break;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t size = ::readlink(name.constData(), target.data(), target.size());
        if (size <= 0 || size >= target.size())
            return tr("it is a link to nothing (%1)").arg(qt_error_string(ENAMETOOLONG));
        target.truncate(size);
        const QString next = QFile::decodeName(target);
        hop = next.startsWith(u'/') ? next : folder + u'/' + next;
    }
    if (file.st_uid != ::geteuid())
        return tr("it is a link to a file of another user");
    return QString();
}

} // namespace

Check check(const QString &path)
{
    Check result;
    const QByteArray name = QFile::encodeName(path);
    struct stat link = {};
    if (::lstat(name.constData(), &link) != 0) {
        // Nothing there, or nothing can be there (a folder on the way is a file, say): there is
        // nothing to read, and a save says why it fails.
        result.target = path;
        return result;
    }
    struct stat file = link;
    if (S_ISLNK(link.st_mode) && ::stat(name.constData(), &file) != 0) {
        result.kind = Check::Kind::Refused;
        result.reason = tr("it is a link to nothing (%1)").arg(qt_error_string(errno));
        return result;
    }
    if (!S_ISREG(file.st_mode)) {
        result.kind = Check::Kind::Refused;
        result.reason = kindOf(file.st_mode);
        return result;
    }
    if (file.st_size > MaxSize) {
        result.kind = Check::Kind::Refused;
        result.reason = tooLarge();
        return result;
    }
    if (S_ISLNK(link.st_mode)) {
        result.reason = linkRefusal(path, file);
        if (!result.reason.isEmpty()) {
            result.kind = Check::Kind::Refused;
            return result;
        }
    }
    result.kind = Check::Kind::Regular;
    result.target = S_ISLNK(link.st_mode) ? QFileInfo(path).canonicalFilePath() : path;
    if (result.target.isEmpty()) { // the link changed under us
        result.kind = Check::Kind::Refused;
        result.reason = tr("it is a link to nothing (%1)").arg(qt_error_string(ENOENT));
    }
    return result;
}

QByteArray readRegular(const QString &target)
{
    const UniqueFd fd(::open(QFile::encodeName(target).constData(),
                             O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info = {};
    if (!fd.isValid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > MaxSize)
        return {};
    QByteArray text;
    char buffer[16384];
    while (text.size() <= MaxSize) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, got);
    }
    return text.size() > MaxSize ? QByteArray() : text;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The next logical line from `pos`: a line break inside quotes or after a backslash does not end
// it; an unquoted ';' does (what follows is a comment).
QByteArrayView nextLine(QByteArrayView text, qsizetype &pos)
{
    while (pos < text.size() && (isBlank(text[pos]) || text[pos] == '\n' || text[pos] == '\r'))
        ++pos;
    const qsizetype start = pos;
    bool quoted = false;
    while (pos < text.size()) {
        const char c = text[pos];
        if ((c == '\n' || c == '\r') && !quoted)
            break;
        if (c == ';' && !quoted) {
            if (pos == start) { // a comment line
                while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r')
                    ++pos;
                return {};
            }
            break;
        }
        if (c == '"')
            quoted = !quoted;
        if (c == '\\' && pos + 1 < text.size()) {
            pos += 2;
            continue;
        }
        ++pos;
    }
    const QByteArrayView line = text.sliced(start, pos - start);
    // The rest of a line cut at ';' is a comment.
    while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r')
        ++pos;
    return line;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A value the way the format decodes a single string, except that an unquoted comma stays part
// of the text instead of starting a list item. Unquoted blanks at either end are dropped.
QString decodeValue(QByteArrayView raw)
{
    QString out;
    qsizetype i = 0;
    qsizetype keep = 0; // what trailing-blank trimming may not remove (quoted or escaped text)
    bool quoted = false;
    while (i < raw.size() && isBlank(raw[i]))
        ++i;
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            ++i;
            keep = out.size();
            // As the format does, blanks after a closing quote are not part of the value.
            while (!quoted && i < raw.size() && isBlank(raw[i]))
                ++i;
            continue;
        }
        if (c == '\\') {
            ++i;
            if (i >= raw.size())
                break;
            const char e = raw[i++];
            switch (e) {
            case 'a':
                out += u'\a';
                break;
            case 'b':
                out += u'\b';
                break;
            case 'f':
                out += u'\f';
                break;
            case 'n':
                out += u'\n';
                break;
            case 'r':
                out += u'\r';
                break;
            case 't':
                out += u'\t';
                break;
            case 'v':
                out += u'\v';
                break;
            case '"':
            case '?':
            case '\'':
            case '\\':
                out += QChar(u'\0' + e);
                break;
            case 'x': {
                char16_t value = 0;
                while (i < raw.size() && hexDigit(raw[i]) >= 0)
                    value = char16_t(value * 16 + hexDigit(raw[i++]));
                out += QChar(value);
                break;
            }
            case '\n':
            case '\r':
                // A continued line: the break goes, and the other half of a CR LF pair with it.
                if (i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != e)
                    ++i;
                break;
            default:
                if (e >= '0' && e <= '7') {
                    char16_t value = char16_t(e - '0');
                    while (i < raw.size() && raw[i] >= '0' && raw[i] <= '7')
                        value = char16_t(value * 8 + (raw[i++] - '0'));
                    out += QChar(value);
                }
                break; // any other escaped character is dropped
            }
            keep = out.size();
            continue;
        }
        qsizetype j = i + 1;
        while (j < raw.size() && raw[j] != '\\' && raw[j] != '"')
            ++j;
        out += QString::fromUtf8(raw.sliced(i, j - i));
        if (quoted)
            keep = out.size();
        i = j;
    }
    while (out.size() > keep && (out.back() == u' ' || out.back() == u'\t'))
        out.chop(1);
    return out;
}

} // namespace

QHash<QString, QString> topLevelStrings(const QByteArray &bytes)
{
    QByteArrayView text(bytes);
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    QHash<QString, QString> values;
    bool topLevel = true; // keys before any section belong to [General]
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QByteArrayView line = nextLine(text, pos);
        if (line.isEmpty())
            continue;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            const QByteArray section =
                line.sliced(1, (close < 0 ? line.size() : close) - 1).trimmed().toByteArray();
            topLevel = section.compare("general", Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!topLevel)
            continue;
        qsizetype equals = -1;
        bool quoted = false;
        for (qsizetype i = 0; i < line.size() && equals < 0; ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (line[i] == '=' && !quoted)
                equals = i;
        }
        if (equals <= 0)
            continue;
        const QString key = QString::fromUtf8(line.first(equals).trimmed());
        values.insert(key, decodeValue(line.sliced(equals + 1)));
    }
    return values;
}

} // namespace PreferencesFile
