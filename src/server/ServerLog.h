#pragma once

#include "LogWriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringEncoder>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

// The record of one server run: everything the console showed for it, appended to a file of its
// own in the log folder (see LogFolder for the folder's rules). Text is gathered on the main
// thread and handed to the writer in batches; the file itself is only touched on the writer's
// thread.
//
// While a run writes past the folder's budget, the oldest other logs go first, and a log that
// alone reaches it stops growing.
//
// A failure (a folder or file that cannot be made, a full disk, a file-size limit, a disk that
// stops answering) is reported once through the report function, from the event loop, and the
// log takes nothing more. The report comes also when it is found after this object has gone:
// the writer outlives every log.
class ServerLog
{
public:
    using Report = std::function<void(const QString &sentence)>;

    // Creates the folder (0700) if need be, prunes it and creates the run's log (0600).
    ServerLog(LogWriter &writer, const QString &folder, const QDateTime &start, Report report);
    // Hands whatever is gathered to the writer.
    ~ServerLog();
    ServerLog(const ServerLog &) = delete;
    ServerLog &operator=(const ServerLog &) = delete;

    bool isOpen() const { return bool(m_file); }
    QString path() const { return m_path; }

    // Text as shown, line feeds included.
    void append(const QString &text);
    // One of the launcher's own lines: it always starts a line of its own.
    void appendLine(const QString &line);
    // Hands whatever is gathered to the writer at once.
    void flush();

    // Text gathered before it is handed to the writer without waiting for the timer.
    static constexpr qsizetype BatchBytes = 256 * 1024;
    // How far the writer may fall behind before the run's output is held back (whenCaughtUp()).
    static constexpr qint64 MaxBehind = qint64(1) * 1024 * 1024;
    // How long a writer that is behind may go without finishing a single write before the log is
    // given up, so that a stuck disk never holds up the server for good.
    static constexpr int StallLimitMs = 5000;

    // Whether the writer is at least MaxBehind behind.
    bool isBehind() const;
    // Calls `then` once the writer is no longer behind: at once if it is not, otherwise from the
    // event loop when the writer says it has caught up. The caller holds back the server's
    // output until then, so that a flood waits for the disk instead of piling up in memory or
    // being dropped from the log. A writer that stalls for StallLimitMs gives the log up (said
    // once), and `then` follows.
    void whenCaughtUp(std::function<void()> then);

private:
    struct File;

    void fail(const QString &message);
    void makeRoom(qint64 bytes);
    void checkStall();

    LogWriter &m_writer;
    QString m_path;
    std::shared_ptr<File> m_file;
    // Other logs left after pruning, oldest first, with their sizes: the first to go when this
    // run's log needs their room.
    std::deque<std::pair<QString, qint64>> m_older;
    qint64 m_olderBytes = 0;
    qint64 m_written = 0;
    QByteArray m_buffer;
    QStringEncoder m_encoder{QStringEncoder::Utf8};
    bool m_atLineStart = true;
    QTimer m_timer;
    // While the output waits for the writer: a watchdog that gives up a writer making no
    // progress.
    QTimer m_stall;
    qint64 m_behindAtCheck = 0;
};
