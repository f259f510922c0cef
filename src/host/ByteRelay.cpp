#include "ByteRelay.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

ByteRelay::ByteRelay(int in, int out, UniqueFd socket, QObject *parent)
    : QObject(parent), m_socket(std::move(socket))
{
    // The standard streams may be a terminal shared with the shell: their flags go back as they
    // were when the relay ends.
    m_inFlags = ::fcntl(in, F_GETFL);
    m_outFlags = ::fcntl(out, F_GETFL);
    for (int fd : {in, out, m_socket.get()})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    setUp(m_up, in, m_socket.get());
    setUp(m_down, m_socket.get(), out);
}

ByteRelay::~ByteRelay()
{
    for (Direction *direction : {&m_up, &m_down}) {
        delete direction->readable;
        delete direction->writable;
    }
    if (m_inFlags >= 0)
        ::fcntl(m_up.from, F_SETFL, m_inFlags);
    if (m_outFlags >= 0)
        ::fcntl(m_down.to, F_SETFL, m_outFlags);
}

void ByteRelay::setUp(Direction &direction, int from, int to)
{
    direction.from = from;
    direction.to = to;
    direction.readable = new QSocketNotifier(from, QSocketNotifier::Read, this);
    direction.writable = new QSocketNotifier(to, QSocketNotifier::Write, this);
    direction.writable->setEnabled(false);
    connect(direction.readable, &QSocketNotifier::activated, this,
            [this, &direction] { pull(direction); });
    connect(direction.writable, &QSocketNotifier::activated, this,
            [this, &direction] { push(direction); });
}

void ByteRelay::pull(Direction &direction)
{
    char chunk[64 * 1024];
    const ssize_t n = ::read(direction.from, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        direction.ended = true;
        direction.readable->setEnabled(false);
    } else {
        direction.buffer.append(chunk, n);
    }
    push(direction);
}

void ByteRelay::push(Direction &direction)
{
    while (!direction.buffer.isEmpty()) {
        const ssize_t n =
            direction.to == m_socket.get()
                ? ::send(direction.to, direction.buffer.constData(), direction.buffer.size(),
                         MSG_NOSIGNAL)
                : ::write(direction.to, direction.buffer.constData(), direction.buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            // Whoever was to read this has gone: nothing more can be passed on.
            finish();
            return;
        }
        direction.buffer.remove(0, n);
    }
    direction.writable->setEnabled(!direction.buffer.isEmpty());
    if (!direction.ended)
        direction.readable->setEnabled(direction.buffer.size() < MaxBuffered);
    else if (direction.buffer.isEmpty())
        finish();
}

void ByteRelay::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    for (Direction *direction : {&m_up, &m_down}) {
        direction->readable->setEnabled(false);
        direction->writable->setEnabled(false);
    }
    m_socket.reset();
    Q_EMIT finished();
}
