#include "WaylandConnection.h"

#include "DeadlinePoll.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <wayland-client.h>

namespace {

int connectTo(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return -1;
    std::memcpy(address.sun_path, path.constData(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A local connect completes or fails at once; only a full backlog would make it wait, and a
    // compositor that lets its backlog fill is not one to ask.
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void onSyncDone(void *data, wl_callback *, uint32_t)
{
    *static_cast<bool *>(data) = true;
}

const wl_callback_listener SyncListener = {onSyncDone};

} // namespace

QByteArray WaylandConnection::socketPath()
{
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = QByteArrayLiteral("wayland-0");
    if (name.startsWith('/'))
        return name;
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty())
        return {};
    return runtimeDir + '/' + name;
}

WaylandConnection::WaylandConnection(const QDeadlineTimer &deadline) : m_deadline(deadline)
{
    const int fd = connectTo(socketPath());
    if (fd < 0)
        return;
    // The display owns the descriptor from here on, also when it cannot be made.
    m_display = wl_display_connect_to_fd(fd);
    if (!m_display) {
        ::close(fd);
        return;
    }
    wl_registry *registry = wl_display_get_registry(m_display);
    static const wl_registry_listener listener = {&WaylandConnection::onGlobal,
                                                  &WaylandConnection::onGlobalRemove};
    wl_registry_add_listener(registry, &listener, this);
    if (!roundtrip()) {
        wl_registry_destroy(registry);
        return;
    }
    m_registry = registry;
}

WaylandConnection::~WaylandConnection()
{
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display)
        wl_display_disconnect(m_display);
}

void WaylandConnection::onGlobal(void *data, wl_registry *, uint32_t name, const char *interface,
                                 uint32_t version)
{
    static_cast<WaylandConnection *>(data)->m_globals.append(
        Global{name, QByteArray(interface), version});
}

void WaylandConnection::onGlobalRemove(void *data, wl_registry *, uint32_t name)
{
    QList<Global> &globals = static_cast<WaylandConnection *>(data)->m_globals;
    globals.removeIf([name](const Global &global) { return global.name == name; });
}

void *WaylandConnection::bind(const Global &global, const wl_interface *interface,
                              uint32_t maxVersion) const
{
    if (!m_registry)
        return nullptr;
    return wl_registry_bind(m_registry, global.name, interface,
                            std::min(global.version, maxVersion));
}

bool WaylandConnection::roundtrip()
{
    if (!m_display)
        return false;
    bool done = false;
    wl_callback *callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &SyncListener, &done);
    const int fd = wl_display_get_fd(m_display);
    bool ok = true;
    while (ok && !done) {
        if (wl_display_prepare_read(m_display) != 0) {
            ok = wl_display_dispatch_pending(m_display) >= 0;
            continue;
        }
        while (ok && wl_display_flush(m_display) < 0)
            ok = errno == EAGAIN && waitForDescriptor(fd, POLLOUT, m_deadline);
        if (!ok || !waitForDescriptor(fd, POLLIN, m_deadline)) {
            wl_display_cancel_read(m_display);
            ok = false;
            break;
        }
        ok = wl_display_read_events(m_display) >= 0 && wl_display_dispatch_pending(m_display) >= 0;
    }
    wl_callback_destroy(callback);
    return ok && done;
}
