#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringEncoder>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class QThread;

// The thread on which every server log is written, so that a slow or full disk never holds up
// the window. The launcher owns one; its destructor lets every write handed to it finish.
class ServerLogWriter
{
public:
    ServerLogWriter();
    ~ServerLogWriter();
    ServerLogWriter(const ServerLogWriter &) = delete;
    ServerLogWriter &operator=(const ServerLogWriter &) = delete;

    QObject *context() const { return m_context; }

    // How long the destructor waits for writes still under way.
    static constexpr int StopWaitMs = 5000;

private:
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr; // lives on m_thread; jobs are queued to it in order
};

// The record of one server run: everything the console showed for it, appended to a file of
// its own in the log folder. Text is gathered on the main thread and handed to the writer in
// batches; the file itself is only touched on the writer's thread.
//
// The folder holds only the launcher's logs. When a run starts, the oldest logs are removed so
// that the newest KeepLogs (the new one among them) remain, within TotalBudget bytes together;
// while a run writes past that budget, the oldest other logs go first, and a log that alone
// reaches it stops growing. Files that are not named like a log are never touched.
class ServerLog : public QObject
{
    Q_OBJECT
public:
    static constexpr int KeepLogs = 20;
    static constexpr qint64 TotalBudget = qint64(100) * 1024 * 1024;

    // $XDG_STATE_HOME/Velmora/server-logs, with ~/.local/state standing in for an unset or
    // relative XDG_STATE_HOME.
    static QString defaultFolder();
    // "2026-12-08T13-45-07.log" for a run started then (local time); `number` > 1 adds "-2" etc.
    static QString fileName(const QDateTime &start, int number = 1);
    // Whether `name` is one that fileName() gives.
    static bool isLogName(const QString &name);
    // The logs in `folder`, oldest first.
    static QStringList logsOldestFirst(const QString &folder);
    // The newest log in `folder`, or an empty string.
    static QString newestLog(const QString &folder);

    // Removes the oldest logs in `folder` until at most `keep` remain and their sizes add up to
    // at most `budget`. Returns the logs that remain, oldest first.
    static QStringList prune(const QString &folder, int keep, qint64 budget);

    // Creates the folder (0700) if need be, prunes it and creates the run's log (0600). A failure
    // is reported once through failed(), after the constructor, and the log then takes nothing.
    ServerLog(ServerLogWriter *writer, const QString &folder, const QDateTime &start,
              QObject *parent = nullptr);
    ~ServerLog() override;

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
    // Calls `then` once the writer is no longer behind: at once if it is not, later from the
    // event loop otherwise. The caller holds back the server's output until then, so that a
    // flood waits for the disk instead of piling up in memory or being dropped from the log. A
    // writer that stalls for StallLimitMs gives the log up (said once), and `then` follows.
    void whenCaughtUp(std::function<void()> then);

Q_SIGNALS:
    // Once per log, on the main thread, with a sentence for the console.
    void failed(const QString &message);

private:
    struct File;

    void fail(const QString &message);
    void check();
    void makeRoom(qint64 bytes);

    ServerLogWriter *m_writer;
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
    bool m_failed = false;
    QTimer m_timer;
    // While the output waits for the writer: what follows, and the writer's progress.
    QTimer m_catchUp;
    std::function<void()> m_caughtUp;
    qint64 m_lastBehind = 0;
    QElapsedTimer m_sinceProgress;
};
