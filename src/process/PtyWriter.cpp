#include "PtyWriter.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

PtyWriter::PtyWriter(int master, QObject *parent) : QObject(parent), m_master(master)
{
    if (m_master < 0)
        return;
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyWriter::onWritable);
}

PtyWriter::~PtyWriter()
{
    close();
}

PtyWriter::Write PtyWriter::write(const QByteArray &bytes)
{
    if (!isOpen())
        return Write::Closed;
    // The whole piece counts against the limit, also the part the terminal might take at once:
    // the answer must not depend on how full the terminal happens to be.
    if (bytes.size() > QueueLimit - pending())
        return Write::Refused;
    if (bytes.isEmpty())
        return pending() > 0 ? Write::Queued : Write::Sent;

    const bool wasIdle = pending() == 0;
    m_queue.append(bytes);
    if (wasIdle && !writeQueued())
        return Write::Closed;
    if (pending() == 0)
        return Write::Sent;
    m_notifier->setEnabled(true);
    return Write::Queued;
}

bool PtyWriter::writeQueued()
{
    while (pending() > 0) {
        const ssize_t n =
            ::write(m_master, m_queue.constData() + m_offset, static_cast<size_t>(pending()));
        if (n > 0) {
            m_offset += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        close();
        Q_EMIT failed();
        return false;
    }
    if (pending() == 0) {
        m_queue.clear();
        m_offset = 0;
    } else if (m_offset >= m_queue.size() / 2) {
        // Keeps the queue's memory within twice what still waits, without moving bytes on every
        // partial write.
        m_queue.remove(0, m_offset);
        m_offset = 0;
    }
    return true;
}

void PtyWriter::onWritable()
{
    if (!writeQueued())
        return;
    if (pending() == 0)
        m_notifier->setEnabled(false);
}

void PtyWriter::close()
{
    if (m_notifier) {
        // Unregistered before the owner closes the descriptor; the notifier may be the sender of
        // the signal that led here, hence the deferred deletion.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_master = -1;
    m_queue.clear();
    m_offset = 0;
}
