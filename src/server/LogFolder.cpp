#include "LogFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace LogFolder {

QString defaultFolder()
{
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Velmora/server-logs");
}

QString fileName(const QDateTime &start, int number)
{
    const QString stamp = start.toLocalTime().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss"));
    return number > 1 ? QStringLiteral("%1-%2.log").arg(stamp).arg(number)
                      : stamp + QStringLiteral(".log");
}

bool isLogName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d(-[1-9]\\d{0,5})?\\.log$"));
    return pattern.match(name).hasMatch();
}

QStringList logsOldestFirst(const QString &folder)
{
    struct Entry
    {
        QString stamp;
        int number;
        QString path;
    };
    std::vector<Entry> entries;
    const QFileInfoList found =
        QDir(folder).entryInfoList({QStringLiteral("*.log")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &info : found) {
        // Only regular files of our own naming: a link or anything else is not ours to remove.
        if (info.isSymLink() || !isLogName(info.fileName()))
            continue;
        const QString name = info.fileName();
        const int dash = int(name.indexOf(u'-', 19));
        const int number = dash < 0 ? 1 : name.mid(dash + 1, name.size() - dash - 5).toInt();
        entries.push_back({name.left(19), number, info.filePath()});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    });
    QStringList out;
    for (const Entry &entry : entries)
        out.append(entry.path);
    return out;
}

QString newestLog(const QString &folder)
{
    const QStringList logs = logsOldestFirst(folder);
    return logs.isEmpty() ? QString() : logs.last();
}

bool isBeingWritten(const QString &log)
{
    // The writer's lock is on its open file description: a shared lock of ours is refused while
    // it holds it, and given up when this descriptor closes.
    const UniqueFd fd(
        ::open(QFile::encodeName(log).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.isValid())
        return false;
    return ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

QStringList prune(const QString &folder, int keep, qint64 budget)
{
    QStringList logs = logsOldestFirst(folder);
    qint64 total = 0;
    for (const QString &log : logs)
        total += QFileInfo(log).size();
    QStringList spared;
    while (!logs.isEmpty() && (logs.size() + spared.size() > keep || total > budget)) {
        const QString oldest = logs.takeFirst();
        if (isBeingWritten(oldest)) {
            spared.append(oldest);
            continue;
        }
        total -= QFileInfo(oldest).size();
        QFile::remove(oldest);
    }
    return spared + logs;
}

SysStatus makePrivate(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    const QByteArray path = QFile::encodeName(clean);
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return SysStatus::failure(errno);
        if (slash < 0)
            break;
    }
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return SysStatus::failure(errno);
    if (!S_ISDIR(info.st_mode))
        return SysStatus::failure(ENOTDIR);
    // A link anywhere on the way means the folder is the user's own arrangement (or someone
    // else's): its modes are left as they are.
    const bool reachedDirectly = QFileInfo(clean).canonicalFilePath() == clean;
    if (reachedDirectly && info.st_uid == ::geteuid() && (info.st_mode & 07777) != 0700 &&
        ::chmod(path.constData(), 0700) != 0)
        return SysStatus::failure(errno);
    return Done{};
}

SysResult<NewLog> create(const QString &folder, const QDateTime &start)
{
    for (int number = 1; number < 1000; ++number) {
        const QString path = QDir(folder).filePath(fileName(start, number));
        UniqueFd fd(::open(QFile::encodeName(path).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd.isValid()) {
            ::fchmod(fd.get(), 0600);
            // Held until the log is closed, so that no other launcher prunes it meanwhile.
            ::flock(fd.get(), LOCK_EX | LOCK_NB);
            return NewLog{path, std::move(fd)};
        }
        if (errno != EEXIST)
            return SysResult<NewLog>::failure(errno);
    }
    return SysResult<NewLog>::failure(EEXIST);
}

} // namespace LogFolder
