#include "ServerLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Creates `folder` and any missing parent as 0700, as the base directory rules ask for folders
// made on the user's behalf; the log folder itself is made 0700 even when it was already there.
// Returns 0 or the errno of the step that failed.
int makePrivateFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (slash < 0)
            break;
    }
    // A folder the user has linked elsewhere is used as it is: its own modes are theirs.
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0)
        return errno;
    if (S_ISLNK(info.st_mode))
        return ::stat(path.constData(), &info) != 0 ? errno : S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    if ((info.st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return errno;
    return 0;
}

} // namespace

// The most one write() of the log's thread takes.
static constexpr qsizetype Slice = 64 * 1024;

struct ServerLog::File
{
    explicit File(int descriptor) : fd(descriptor) {}
    ~File() { ::close(fd); }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    const int fd;
    std::atomic<int> error{0};
    std::atomic<qint64> outstanding{0};
};

ServerLogWriter::ServerLogWriter() : m_thread(new QThread), m_context(new QObject)
{
    m_thread->setObjectName(QStringLiteral("ServerLogWriter"));
    m_context->moveToThread(m_thread);
    m_thread->start();
}

ServerLogWriter::~ServerLogWriter()
{
    // Queued behind every job already handed over, so all of them are done before the end.
    QThread *thread = m_thread;
    QMetaObject::invokeMethod(
        m_context, [thread] { thread->quit(); }, Qt::QueuedConnection);
    // A write stuck on a dead disk must not keep the launcher from ending: the thread and its
    // context are then left to the end of the process.
    if (!m_thread->wait(QDeadlineTimer(StopWaitMs)))
        return;
    delete m_context;
    delete m_thread;
}

QString ServerLog::defaultFolder()
{
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Velmora/server-logs");
}

QString ServerLog::fileName(const QDateTime &start, int number)
{
    const QString stamp = start.toLocalTime().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss"));
    return number > 1 ? QStringLiteral("%1-%2.log").arg(stamp).arg(number)
                      : stamp + QStringLiteral(".log");
}

bool ServerLog::isLogName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d(-[1-9]\\d{0,5})?\\.log$"));
    return pattern.match(name).hasMatch();
}

QStringList ServerLog::logsOldestFirst(const QString &folder)
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

QString ServerLog::newestLog(const QString &folder)
{
    const QStringList logs = logsOldestFirst(folder);
    return logs.isEmpty() ? QString() : logs.last();
}

QStringList ServerLog::prune(const QString &folder, int keep, qint64 budget)
{
    QStringList logs = logsOldestFirst(folder);
    qint64 total = 0;
    for (const QString &log : logs)
        total += QFileInfo(log).size();
    while (!logs.isEmpty() && (logs.size() > keep || total > budget)) {
        const QString oldest = logs.takeFirst();
        total -= QFileInfo(oldest).size();
        QFile::remove(oldest);
    }
    return logs;
}

ServerLog::ServerLog(ServerLogWriter *writer, const QString &folder, const QDateTime &start,
                     QObject *parent)
    : QObject(parent), m_writer(writer)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        flush();
        if (m_file && m_file->outstanding.load() > 0)
            m_timer.start(); // to hear of a failure of what is still being written
    });
    m_catchUp.setInterval(2);
    connect(&m_catchUp, &QTimer::timeout, this, [this] {
        if (isBehind()) {
            const qint64 behind = m_file->outstanding.load();
            if (behind != m_lastBehind) {
                m_lastBehind = behind;
                m_sinceProgress.restart();
                return;
            }
            if (m_sinceProgress.elapsed() < StallLimitMs)
                return;
            fail(tr("The disk does not keep up with the server log %1; the rest of this run is "
                    "not written to it.")
                     .arg(QDir::toNativeSeparators(m_path)));
        }
        m_catchUp.stop();
        std::exchange(m_caughtUp, nullptr)();
    });

    if (const int error = makePrivateFolder(folder)) {
        fail(tr("Can't create the server log folder %1: %2")
                 .arg(QDir::toNativeSeparators(folder), qt_error_string(error)));
        return;
    }
    // The new log is one of the KeepLogs.
    for (const QString &log : prune(folder, KeepLogs - 1, TotalBudget)) {
        const qint64 size = QFileInfo(log).size();
        m_older.emplace_back(log, size);
        m_olderBytes += size;
    }
    for (int number = 1; number < 1000; ++number) {
        const QString path = QDir(folder).filePath(fileName(start, number));
        const int fd =
            ::open(QFile::encodeName(path).constData(),
                   O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            m_file = std::make_shared<File>(fd);
            m_path = path;
            return;
        }
        if (errno != EEXIST) {
            fail(tr("Can't write the server log %1: %2")
                     .arg(QDir::toNativeSeparators(path), qt_error_string(errno)));
            return;
        }
    }
    fail(tr("Can't write the server log in %1: %2")
             .arg(QDir::toNativeSeparators(folder), qt_error_string(EEXIST)));
}

ServerLog::~ServerLog()
{
    flush();
}

void ServerLog::append(const QString &text)
{
    if (!m_file || text.isEmpty())
        return;
    // Encoded straight into the batch, which is allocated once at its full size: a flood passes
    // through here at the terminal's pace, so no copy of it is made twice.
    const qsizetype used = m_buffer.size();
    const qsizetype room = m_encoder.requiredSpace(text.size());
    if (m_buffer.capacity() < used + room)
        m_buffer.reserve(std::max(used + room, BatchBytes + BatchBytes / 2));
    m_buffer.resize(used + room);
    char *const end = m_encoder.appendToBuffer(m_buffer.data() + used, text);
    m_buffer.resize(end - m_buffer.constData());
    m_atLineStart = text.endsWith(u'\n');
    if (m_buffer.size() >= BatchBytes)
        flush();
    else if (!m_timer.isActive())
        m_timer.start();
}

void ServerLog::appendLine(const QString &line)
{
    if (!m_file)
        return;
    append((m_atLineStart ? QString() : QStringLiteral("\n")) + line + u'\n');
}

void ServerLog::flush()
{
    check();
    if (!m_file || m_buffer.isEmpty())
        return;
    QByteArray data = std::exchange(m_buffer, QByteArray());
    makeRoom(data.size());
    bool full = false;
    if (m_written + data.size() > TotalBudget) {
        // Never half a character at the end.
        qsizetype keep = TotalBudget - m_written;
        while (keep > 0 && (uchar(data.at(keep)) & 0xc0) == 0x80)
            --keep;
        data.truncate(keep);
        full = true;
    }
    m_written += data.size();
    m_file->outstanding += data.size();
    std::shared_ptr<File> file = m_file;
    QMetaObject::invokeMethod(
        m_writer->context(),
        [file, data] {
            const char *p = data.constData();
            qsizetype left = data.size();
            // After a failure nothing more is written: a full disk is not filled further. Written
            // in slices, each counted at once, so that a slow disk is seen to make progress.
            while (left > 0 && file->error.load() == 0) {
                const ssize_t n = ::write(file->fd, p, size_t(std::min<qsizetype>(left, Slice)));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    file->error.store(n < 0 ? errno : ENOSPC);
                    break;
                }
                p += n;
                left -= n;
                file->outstanding -= n;
            }
            file->outstanding -= left;
        },
        Qt::QueuedConnection);
    if (full) {
        fail(tr("The server log %1 has reached %2 MiB; the rest of this run is not written to it.")
                 .arg(QDir::toNativeSeparators(m_path))
                 .arg(TotalBudget / (1024 * 1024)));
    } else if (!m_timer.isActive()) {
        m_timer.start();
    }
}

bool ServerLog::isBehind() const
{
    return m_file && m_file->outstanding.load() >= MaxBehind;
}

void ServerLog::whenCaughtUp(std::function<void()> then)
{
    if (!isBehind()) {
        then();
        return;
    }
    m_caughtUp = std::move(then);
    m_lastBehind = m_file->outstanding.load();
    m_sinceProgress.start();
    m_catchUp.start();
}

void ServerLog::makeRoom(qint64 bytes)
{
    while (!m_older.empty() && m_written + bytes + m_olderBytes > TotalBudget) {
        const QString oldest = m_older.front().first;
        m_olderBytes -= m_older.front().second;
        m_older.pop_front();
        QMetaObject::invokeMethod(
            m_writer->context(), [oldest] { QFile::remove(oldest); }, Qt::QueuedConnection);
    }
}

void ServerLog::check()
{
    if (!m_file)
        return;
    if (const int error = m_file->error.load())
        fail(tr("Can't write the server log %1: %2")
                 .arg(QDir::toNativeSeparators(m_path), qt_error_string(error)));
}

void ServerLog::fail(const QString &message)
{
    // The file stays where it is with what it holds; this log takes nothing more.
    m_buffer.clear();
    m_file.reset();
    m_timer.stop();
    if (m_failed)
        return;
    m_failed = true;
    // Queued, so that a failure found while the log is made still reaches its listener.
    QMetaObject::invokeMethod(
        this, [this, message] { Q_EMIT failed(message); }, Qt::QueuedConnection);
}
