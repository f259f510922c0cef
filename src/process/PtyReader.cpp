#include "PtyReader.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Linux hands a pseudo-terminal's output over through a 4 KiB line buffer: a read() returns at
// most about that much, and one that returns nearly that much found the buffer full.
constexpr ssize_t FullTerminalRead = 4000;

// While the peer streams, one wake-up reads at most this much before it delivers: enough to
// spare most wake-ups, little enough to keep a delivery's work short.
constexpr qsizetype StreamingDelivery = 32 * 1024;

} // namespace

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
            // A read that found the terminal's buffer full is followed by another at once: the
            // kernel is refilling that buffer from what the peer has written meanwhile, and the
            // next read waits only for that, where going back to the event loop would wait for
            // it in poll() after a delivery's worth of work. A shorter read means the reader
            // has caught up.
            if (n >= FullTerminalRead && m_buffer.size() < StreamingDelivery)
                continue;
            break;
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
