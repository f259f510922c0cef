#include "PtyReader.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

PtyReader::PtyReader(UniqueFd master, QObject *parent)
    : QObject(parent), m_master(std::move(master))
{
    if (!m_master.isValid())
        return;
    const int fd = m_master.get();
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyReader::onReadable);
}

PtyReader::~PtyReader()
{
    close();
}

void PtyReader::arm()
{
    if (m_armed || !m_notifier)
        return;
    m_armed = true;
    m_notifier->setEnabled(true);
}

void PtyReader::close()
{
    if (m_notifier) {
        // Unregister before the descriptor goes; the notifier may be the sender of the signal
        // that led here, hence the deferred deletion.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_armed = false;
    m_master.reset();
}

void PtyReader::onReadable()
{
    if (!m_armed || !m_notifier) {
        if (m_notifier)
            m_notifier->setEnabled(false);
        return;
    }

    m_buffer.resize(0);
    bool ended = false;
    bool failed = false;
    while (m_buffer.size() < ChunkSize) {
        const qsizetype filled = m_buffer.size();
        const qsizetype request = std::min(ReadSize, ChunkSize - filled);
        m_buffer.resize(filled + request);
        ssize_t n;
        do {
            n = ::read(m_master.get(), m_buffer.data() + filled, static_cast<size_t>(request));
        } while (n < 0 && errno == EINTR);
        m_buffer.resize(filled + std::max<ssize_t>(n, 0));
        if (n > 0) {
            // Read again only what the terminal already holds: a read that finds it empty
            // waits for the kernel's terminal worker, which on a busy machine can take long.
            int waiting = 0;
            if (::ioctl(m_master.get(), FIONREAD, &waiting) != 0 || waiting <= 0)
                break;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // Linux reports a master whose slave side is closed everywhere with EIO: that is the
        // end of the output, not a fault.
        ended = true;
        failed = n < 0 && errno != EIO;
        break;
    }
    if (m_buffer.isEmpty() && !ended)
        return; // woken without data: the request stays open

    // Output read before an end is delivered first; the end is still there for the next read.
    if (!m_buffer.isEmpty())
        failed = false;
    m_armed = false;
    Q_EMIT readDone(m_buffer, failed);
    // A receiver that asked for the next read at once keeps the notifier as it is.
    if (!m_armed && m_notifier)
        m_notifier->setEnabled(false);
}
