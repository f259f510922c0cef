#include "HostConnection.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype ReadChunk = 64 * 1024;
// Read per wake-up before the event loop gets its turn again.
constexpr qsizetype ReadPerWake = 1024 * 1024;

void makeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool isSocket(int fd)
{
    struct stat st = {};
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

HostConnection::HostConnection(UniqueFd in, UniqueFd out, QObject *parent)
    : QObject(parent), m_in(std::move(in)), m_out(std::move(out))
{
    if (!m_in.isValid())
        return;
    makeNonBlocking(m_in.get());
    if (m_out.isValid())
        makeNonBlocking(m_out.get());
    m_reader = new QSocketNotifier(m_in.get(), QSocketNotifier::Read, this);
    connect(m_reader, &QSocketNotifier::activated, this, &HostConnection::onReadable);
    const int writeFd = m_out.isValid() ? m_out.get() : m_in.get();
    m_writesToSocket = isSocket(writeFd);
    m_writer = new QSocketNotifier(writeFd, QSocketNotifier::Write, this);
    m_writer->setEnabled(false);
    connect(m_writer, &QSocketNotifier::activated, this, &HostConnection::onWritable);
}

HostConnection::~HostConnection()
{
    // Notifiers go before their descriptors.
    delete m_reader;
    delete m_writer;
}

void HostConnection::send(const HostProtocol::Message &message)
{
    sendFrames(HostProtocol::encode(message));
}

void HostConnection::sendFrames(const QByteArray &frames)
{
    if (!isOpen() || m_closing || frames.isEmpty())
        return;
    if (m_queuedBytes + frames.size() > MaxQueued) {
        close(tr("The other side stopped reading"));
        return;
    }
    m_queue.push_back(frames);
    m_queuedBytes += frames.size();
    if (m_queue.size() == 1 && !writeQueued())
        return;
    if (m_writer)
        m_writer->setEnabled(!m_queue.empty());
}

bool HostConnection::writeQueued()
{
    const int fd = m_out.isValid() ? m_out.get() : m_in.get();
    while (!m_queue.empty()) {
        const QByteArray &front = m_queue.front();
        const char *data = front.constData() + m_frontWritten;
        const size_t size = size_t(front.size() - m_frontWritten);
        // A peer that has gone must not end this process with SIGPIPE.
        const ssize_t n =
            m_writesToSocket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n <= 0) {
            close(errno == EPIPE || errno == ECONNRESET ? QString() : qt_error_string(errno));
            return false;
        }
        m_frontWritten += n;
        m_queuedBytes -= n;
        if (m_frontWritten == front.size()) {
            m_queue.pop_front();
            m_frontWritten = 0;
        }
    }
    if (m_closing)
        close();
    return isOpen();
}

void HostConnection::onWritable()
{
    if (writeQueued() && m_writer)
        m_writer->setEnabled(!m_queue.empty());
}

void HostConnection::onReadable()
{
    char buffer[ReadChunk];
    qsizetype total = 0;
    while (isOpen() && total < ReadPerWake) {
        const ssize_t n = ::read(m_in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n < 0) {
            close(qt_error_string(errno));
            return;
        }
        if (n == 0) {
            const bool cut = m_frames.hasPartialFrame();
            dispatch();
            if (isOpen())
                close(cut ? tr("The connection ended in the middle of a message") : QString());
            return;
        }
        total += n;
        m_frames.feed(QByteArrayView(buffer, n));
        dispatch();
    }
}

void HostConnection::dispatch()
{
    QPointer<HostConnection> self(this);
    while (self && isOpen() && !m_closing) {
        const std::optional<QByteArray> body = m_frames.next();
        if (!body)
            break;
        const HostProtocol::Decoded decoded = HostProtocol::decode(*body);
        if (decoded.result == HostProtocol::Parse::Malformed) {
            refuse(tr("A message could not be read"));
            return;
        }
        if (decoded.result == HostProtocol::Parse::Ok)
            Q_EMIT received(decoded.message);
    }
    if (self && isOpen() && !m_closing &&
        m_frames.status() == HostProtocol::FrameReader::Status::Oversized)
        refuse(tr("A message was longer than the %1 bytes allowed").arg(HostProtocol::MaxFrame));
}

void HostConnection::closeWhenWritten()
{
    if (!isOpen())
        return;
    m_closing = true;
    // Nothing more is taken in from a peer that is being let go.
    if (m_reader)
        m_reader->setEnabled(false);
    if (m_queue.empty())
        close();
}

void HostConnection::refuse(const QString &why)
{
    if (!isOpen() || m_closing)
        return;
    send(HostProtocol::Error{why});
    closeWhenWritten();
}

void HostConnection::close(const QString &why)
{
    if (!isOpen())
        return;
    delete m_reader;
    m_reader = nullptr;
    delete m_writer;
    m_writer = nullptr;
    m_in.reset();
    m_out.reset();
    m_queue.clear();
    m_queuedBytes = 0;
    m_frontWritten = 0;
    Q_EMIT closed(why);
}
