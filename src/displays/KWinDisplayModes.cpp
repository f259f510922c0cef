#include "KWinDisplayModes.h"

#include "WaylandConnection.h"

#include <wayland-client.h>

#include "kde-output-device-v2-client-protocol.h"

#include <memory>
#include <vector>

namespace {

struct Mode
{
    kde_output_device_mode_v2 *proxy = nullptr;
    int width = 0;
    int height = 0;
    int refresh = 0;
    bool removed = false;
};

// Mode objects are created by the compositor as events arrive; the device keeps them in the
// order they came and destroys them when it goes.
struct Device
{
    kde_output_device_v2 *proxy = nullptr;
    std::vector<std::unique_ptr<Mode>> modes;
    bool enabled = false;
    bool done = false;

    ~Device()
    {
        for (const auto &mode : modes)
            kde_output_device_mode_v2_destroy(mode->proxy);
        if (proxy)
            kde_output_device_v2_destroy(proxy);
    }
};

void onModeSize(void *data, kde_output_device_mode_v2 *, int32_t width, int32_t height)
{
    static_cast<Mode *>(data)->width = width;
    static_cast<Mode *>(data)->height = height;
}

void onModeRefresh(void *data, kde_output_device_mode_v2 *, int32_t refresh)
{
    static_cast<Mode *>(data)->refresh = refresh;
}

void onModePreferred(void *, kde_output_device_mode_v2 *) {}

void onModeRemoved(void *data, kde_output_device_mode_v2 *)
{
    static_cast<Mode *>(data)->removed = true;
}

const kde_output_device_mode_v2_listener ModeListener = {onModeSize, onModeRefresh, onModePreferred,
                                                         onModeRemoved};

void onGeometry(void *, kde_output_device_v2 *, int32_t, int32_t, int32_t, int32_t, int32_t,
                const char *, const char *, int32_t)
{}

void onCurrentMode(void *, kde_output_device_v2 *, kde_output_device_mode_v2 *) {}

void onMode(void *data, kde_output_device_v2 *, kde_output_device_mode_v2 *proxy)
{
    auto mode = std::make_unique<Mode>();
    mode->proxy = proxy;
    kde_output_device_mode_v2_add_listener(proxy, &ModeListener, mode.get());
    static_cast<Device *>(data)->modes.push_back(std::move(mode));
}

void onDone(void *data, kde_output_device_v2 *)
{
    static_cast<Device *>(data)->done = true;
}

void onScale(void *, kde_output_device_v2 *, wl_fixed_t) {}
void onEdid(void *, kde_output_device_v2 *, const char *) {}

void onEnabled(void *data, kde_output_device_v2 *, int32_t enabled)
{
    static_cast<Device *>(data)->enabled = enabled != 0;
}

void onString(void *, kde_output_device_v2 *, const char *) {}
void onFlags(void *, kde_output_device_v2 *, uint32_t) {}

const kde_output_device_v2_listener DeviceListener = {
    onGeometry, onCurrentMode, onMode,  onDone,  onScale, onEdid,  onEnabled, onString,
    onString,   onString,      onFlags, onFlags, onFlags, onFlags, onString};

} // namespace

KWinDisplayModes::KWinDisplayModes(const QDeadlineTimer &deadline)
{
    WaylandConnection connection(deadline);
    if (!connection.isValid())
        return;
    std::vector<std::unique_ptr<Device>> devices;
    for (const WaylandConnection::Global &global : connection.globals()) {
        if (global.interface != kde_output_device_v2_interface.name)
            continue;
        auto device = std::make_unique<Device>();
        // Bound no higher than the generated code knows, so that no unknown event arrives.
        device->proxy = static_cast<kde_output_device_v2 *>(
            connection.bind(global, &kde_output_device_v2_interface,
                            static_cast<uint32_t>(kde_output_device_v2_interface.version)));
        kde_output_device_v2_add_listener(device->proxy, &DeviceListener, device.get());
        devices.push_back(std::move(device));
    }
    // A compositor without the protocol is not KWin: another source answers.
    if (devices.empty() || !connection.roundtrip())
        return;
    for (const auto &device : devices) {
        if (!device->done || !device->enabled)
            continue;
        QList<ModeDescription> modes;
        for (const auto &m : device->modes) {
            if (!m->removed)
                modes.append(mode(m->width, m->height, m->refresh / 1000.0));
        }
        addDisplay(modes);
    }
    setAnswered(true);
}
