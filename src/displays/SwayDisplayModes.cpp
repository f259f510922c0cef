#include "SwayDisplayModes.h"

#include "DeadlinePoll.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char Magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t MagicSize = sizeof Magic;
constexpr std::size_t HeaderSize = MagicSize + 2 * sizeof(quint32);
constexpr quint32 GetOutputs = 3;
// A list of outputs is a few kilobytes per output; anything far beyond is not an answer.
constexpr quint32 MaxPayload = 16 * 1024 * 1024;

class Socket
{
public:
    Socket() : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray &data, const QDeadlineTimer &deadline)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            waitForDescriptor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

bool readExactly(int fd, char *buffer, std::size_t size, const QDeadlineTimer &deadline)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, buffer + done, size - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            waitForDescriptor(fd, POLLIN, deadline))
            continue;
        return false;
    }
    return true;
}

int positiveInt(const QJsonValue &value)
{
    const double number = value.toDouble(0.0);
    return number >= 1.0 && number <= 1e6 ? static_cast<int>(number) : 0;
}

ModeDescription modeOf(const QJsonObject &mode)
{
    // sway gives the refresh rate in mHz.
    return ListedDisplayModes::mode(positiveInt(mode.value(QLatin1String("width"))),
                                    positiveInt(mode.value(QLatin1String("height"))),
                                    mode.value(QLatin1String("refresh")).toDouble(0.0) / 1000.0);
}

} // namespace

SwayDisplayModes::SwayDisplayModes(const QDeadlineTimer &deadline, QString socketPath)
{
    if (socketPath.isEmpty())
        socketPath = qEnvironmentVariable("SWAYSOCK");
    if (socketPath.isEmpty())
        return;
    const std::optional<QByteArray> reply = request(socketPath, GetOutputs, deadline);
    if (!reply)
        return;
    const auto displays = parseOutputs(*reply);
    if (!displays)
        return;
    for (const QList<ModeDescription> &modes : *displays)
        addDisplay(modes);
    setAnswered(true);
}

std::optional<QByteArray> SwayDisplayModes::request(const QString &socketPath, quint32 type,
                                                    const QDeadlineTimer &deadline)
{
    const QByteArray path = socketPath.toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), path.size());

    const Socket socket;
    if (socket.fd() < 0)
        return std::nullopt;
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN)
            return std::nullopt;
        int error = 0;
        socklen_t length = sizeof error;
        if (!waitForDescriptor(socket.fd(), POLLOUT, deadline) ||
            ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return std::nullopt;
    }

    // The header's numbers are in the host's byte order, as sway reads them.
    QByteArray message(Magic, MagicSize);
    const quint32 header[2] = {0, type};
    message.append(reinterpret_cast<const char *>(header), sizeof header);
    if (!writeAll(socket.fd(), message, deadline))
        return std::nullopt;

    char replyHeader[HeaderSize];
    if (!readExactly(socket.fd(), replyHeader, HeaderSize, deadline) ||
        std::memcmp(replyHeader, Magic, MagicSize) != 0)
        return std::nullopt;
    quint32 length = 0;
    quint32 replyType = 0;
    std::memcpy(&length, replyHeader + MagicSize, sizeof length);
    std::memcpy(&replyType, replyHeader + MagicSize + sizeof length, sizeof replyType);
    if (replyType != type || length > MaxPayload)
        return std::nullopt;
    QByteArray payload(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (!readExactly(socket.fd(), payload.data(), length, deadline))
        return std::nullopt;
    return payload;
}

std::optional<QList<QList<ModeDescription>>> SwayDisplayModes::parseOutputs(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<QList<ModeDescription>> displays;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject output = value.toObject();
        if (!output.value(QLatin1String("active")).toBool(false))
            continue;
        QList<ModeDescription> modes;
        for (const QJsonValue &mode : output.value(QLatin1String("modes")).toArray())
            modes.append(modeOf(mode.toObject()));
        if (modes.isEmpty() && output.value(QLatin1String("current_mode")).isObject())
            modes.append(modeOf(output.value(QLatin1String("current_mode")).toObject()));
        displays.append(modes);
    }
    return displays;
}
