#include "ServerLog.h"

#include "LogFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace {

// The most one write() of the writer's thread takes: progress is counted per slice.
constexpr qsizetype Slice = 64 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("ServerLog", text);
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

// What the main thread and the writer's thread share of one log. It lives as long as either
// needs it: the writer may still be writing after the log object has gone.
struct ServerLog::File
{
    File(UniqueFd descriptor, QString path, Report report, LogWriter::Mailbox mailbox)
        : fd(std::move(descriptor)), path(std::move(path)), report(std::move(report)),
          mailbox(std::move(mailbox))
    {}

    const UniqueFd fd;
    const QString path;
    const Report report;
    const LogWriter::Mailbox mailbox;
    std::atomic<int> error{0};
    std::atomic<qint64> outstanding{0};
    // Set by the main thread while output waits for the writer; the writer posts `caughtUp` once.
    std::atomic<bool> waiting{false};
    // Main thread only.
    bool reported = false;
    std::function<void()> caughtUp;

    // Main thread: says a failure once.
    void say(const QString &message)
    {
        if (std::exchange(reported, true))
            return;
        report(message);
    }
    void resume()
    {
        waiting = false;
        if (caughtUp)
            std::exchange(caughtUp, nullptr)();
    }

    // Writer's thread.
    void write(const QByteArray &data, const std::shared_ptr<File> &self)
    {
        const char *p = data.constData();
        qsizetype left = data.size();
        // After a failure nothing more is written: a full disk is not filled further.
        while (left > 0 && error.load() == 0) {
            const ssize_t n = ::write(fd.get(), p, size_t(std::min<qsizetype>(left, Slice)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error.store(n < 0 ? errno : ENOSPC);
                mailbox.toMain([self] {
                    self->say(QCoreApplication::translate("ServerLog",
                                                          "Can't write the server log %1: %2")
                                  .arg(native(self->path), qt_error_string(self->error.load())));
                    self->resume();
                });
                break;
            }
            p += n;
            left -= n;
            if (outstanding.fetch_sub(n) - n < MaxBehind && waiting.exchange(false))
                mailbox.toMain([self] { self->resume(); });
        }
        outstanding -= left;
    }
};

ServerLog::ServerLog(LogWriter &writer, const QString &folder, const QDateTime &start,
                     Report report)
    : m_writer(writer)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(100);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { flush(); });
    m_stall.setSingleShot(true);
    m_stall.setInterval(StallLimitMs);
    QObject::connect(&m_stall, &QTimer::timeout, &m_stall, [this] { checkStall(); });

    // Said from the event loop, so that a failure found while the log is made still reaches a
    // listener connected after the constructor.
    const auto failNow = [&](const QString &message) {
        writer.mailbox().toMain([report, message] { report(message); });
    };
    if (const SysStatus made = LogFolder::makePrivate(folder); !made) {
        failNow(tr("Can't create the server log folder %1: %2")
                    .arg(native(folder), qt_error_string(made.error())));
        return;
    }
    // The new log is one of the KeepLogs.
    for (const QString &log :
         LogFolder::prune(folder, LogFolder::KeepLogs - 1, LogFolder::TotalBudget)) {
        const qint64 size = QFileInfo(log).size();
        m_older.emplace_back(log, size);
        m_olderBytes += size;
    }
    SysResult<LogFolder::NewLog> made = LogFolder::create(folder, start);
    if (!made) {
        failNow(tr("Can't write the server log in %1: %2")
                    .arg(native(folder), qt_error_string(made.error())));
        return;
    }
    m_path = made->path;
    m_file =
        std::make_shared<File>(std::move(made->fd), m_path, std::move(report), writer.mailbox());
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
    if (m_file && m_file->error.load() != 0) {
        // The writer has said so already; this log takes nothing more.
        m_buffer.clear();
        m_file.reset();
    }
    if (!m_file || m_buffer.isEmpty())
        return;
    QByteArray data = std::exchange(m_buffer, QByteArray());
    makeRoom(data.size());
    bool full = false;
    if (m_written + data.size() > LogFolder::TotalBudget) {
        // Never half a character at the end.
        qsizetype keep = LogFolder::TotalBudget - m_written;
        while (keep > 0 && (uchar(data.at(keep)) & 0xc0) == 0x80)
            --keep;
        data.truncate(keep);
        full = true;
    }
    m_written += data.size();
    m_file->outstanding += data.size();
    m_writer.post([file = m_file, data] { file->write(data, file); });
    if (full) {
        fail(tr("The server log %1 has reached %2 MiB; the rest of this run is not written to it.")
                 .arg(native(m_path))
                 .arg(LogFolder::TotalBudget / (1024 * 1024)));
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
    m_file->caughtUp = std::move(then);
    m_file->waiting = true;
    // The writer may have caught up between the check and the flag: it then posts nothing.
    if (!isBehind() && m_file->waiting.exchange(false)) {
        m_file->resume();
        return;
    }
    m_behindAtCheck = m_file->outstanding.load();
    m_stall.start();
}

void ServerLog::checkStall()
{
    if (!m_file || !m_file->waiting)
        return;
    const qint64 behind = m_file->outstanding.load();
    if (behind != std::exchange(m_behindAtCheck, behind)) {
        m_stall.start();
        return;
    }
    std::shared_ptr<File> file = m_file;
    fail(tr("The disk does not keep up with the server log %1; the rest of this run is not "
            "written to it.")
             .arg(native(m_path)));
    file->resume();
}

void ServerLog::makeRoom(qint64 bytes)
{
    while (!m_older.empty() && m_written + bytes + m_olderBytes > LogFolder::TotalBudget) {
        const QString oldest = m_older.front().first;
        m_olderBytes -= m_older.front().second;
        m_older.pop_front();
        m_writer.post([oldest] {
            if (!LogFolder::isBeingWritten(oldest))
                QFile::remove(oldest);
        });
    }
}

void ServerLog::fail(const QString &message)
{
    // The file stays where it is with what it holds; this log takes nothing more.
    m_buffer.clear();
    m_timer.stop();
    m_stall.stop();
    // What was handed over already is still written.
    if (std::shared_ptr<File> file = std::exchange(m_file, nullptr))
        file->say(message);
}
