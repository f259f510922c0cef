#include "PtyReader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
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
    if (!m_armed || !m_notifier)
        return;
    m_notifier->setEnabled(false);

    QByteArray data(ChunkSize, Qt::Uninitialized);
    ssize_t n;
    do {
        n = ::read(m_master.get(), data.data(), static_cast<size_t>(data.size()));
    } while (n < 0 && errno == EINTR);

    bool failed = false;
    if (n > 0) {
        data.truncate(n);
    } else if (n == 0) {
        data.clear();
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // Woken without data: the request stays open.
        m_notifier->setEnabled(true);
        return;
    } else {
        // Linux reports a master whose slave side is closed everywhere with EIO: that is the
        // end of the output, not a fault.
        failed = errno != EIO;
        data.clear();
    }
    m_armed = false;
    Q_EMIT readDone(data, failed);
}
