#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// Writes to the master side of a pseudo-terminal without ever blocking the thread that owns it.
// What the terminal cannot take at once waits in a queue of at most QueueLimit bytes and goes out
// as the terminal makes room (a QSocketNotifier on write readiness). Each piece handed to write()
// is taken whole or refused whole, so a server never receives half a command.
//
// It does not own the descriptor: the run's reader does, and the run closes this writer before
// the reader closes the descriptor. The descriptor is expected to be non-blocking already.
class PtyWriter : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype QueueLimit = 1024 * 1024;

    explicit PtyWriter(int master, QObject *parent = nullptr);
    ~PtyWriter() override;

    enum class Write
    {
        Sent,    // the terminal took every byte
        Queued,  // all or part of it waits in the queue
        Refused, // it would overflow the queue; nothing of it was written
        Closed   // the writer is closed, or the terminal failed; nothing of it was written
    };
    Write write(const QByteArray &bytes);

    // Bytes waiting for the terminal.
    qsizetype pending() const { return m_queue.size() - m_offset; }
    bool isOpen() const { return m_master >= 0; }
    // Drops the queue and stops watching the descriptor; later writes answer Closed.
    void close();

Q_SIGNALS:
    // The terminal refused bytes for good (not merely "full"); the queue was dropped.
    void failed();

private:
    // Writes from the front of the queue until it is empty or the terminal is full; false when
    // the terminal failed (the writer is closed then).
    bool writeQueued();
    void onWritable();

    int m_master = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_queue;
    qsizetype m_offset = 0; // bytes at the queue's front already written
};
