#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>

#include <cstdint>

struct wl_display;
struct wl_interface;
struct wl_registry;

// A Wayland connection of our own, beside whatever connection the Qt platform plugin holds (or
// none, under xcb), so that compositor protocols can be asked whatever runs the window. It
// connects to $WAYLAND_DISPLAY (an absolute path, or a name under $XDG_RUNTIME_DIR; "wayland-0"
// when unset) and never consumes $WAYLAND_SOCKET, which belongs to the platform plugin.
//
// Every wait is bounded by the deadline given at construction: a compositor that stops reading
// or answering makes the calls fail, never block. Main thread only.
class WaylandConnection
{
public:
    struct Global
    {
        uint32_t name = 0;
        QByteArray interface;
        uint32_t version = 0;
    };

    explicit WaylandConnection(const QDeadlineTimer &deadline);
    ~WaylandConnection();

    WaylandConnection(const WaylandConnection &) = delete;
    WaylandConnection &operator=(const WaylandConnection &) = delete;

    // True once connected and the compositor's globals have been listed.
    bool isValid() const { return m_registry != nullptr; }
    wl_display *display() const { return m_display; }

    // The globals the compositor announced, in its order.
    const QList<Global> &globals() const { return m_globals; }

    // Binds `global` at the lower of its version and `maxVersion`. The proxy belongs to the
    // caller, who destroys it before the connection goes.
    void *bind(const Global &global, const wl_interface *interface, uint32_t maxVersion) const;

    // Sends what is queued and dispatches events until the compositor has handled everything
    // sent so far. False when the connection broke or the deadline passed first.
    bool roundtrip();

    // The socket path the connection would use, or empty when the environment names none.
    static QByteArray socketPath();

private:
    static void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface,
                         uint32_t version);
    static void onGlobalRemove(void *data, wl_registry *registry, uint32_t name);

    QDeadlineTimer m_deadline;
    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    QList<Global> m_globals;
};
