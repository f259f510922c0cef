#include "WaylandOutputModes.h"

#include "WaylandConnection.h"

#include <wayland-client.h>

#include <memory>
#include <vector>

namespace {

// Versions 1 and 2 carry everything needed here; newer events stay unsent.
constexpr uint32_t OutputVersion = 2;

struct Output
{
    wl_output *proxy = nullptr;
    std::optional<ModeDescription> current;
};

void onGeometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t, const char *,
                const char *, int32_t)
{}

void onMode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t refresh)
{
    if (flags & WL_OUTPUT_MODE_CURRENT)
        static_cast<Output *>(data)->current =
            ListedDisplayModes::mode(width, height, refresh / 1000.0);
}

void onDone(void *, wl_output *) {}
void onScale(void *, wl_output *, int32_t) {}
void onName(void *, wl_output *, const char *) {}
void onDescription(void *, wl_output *, const char *) {}

const wl_output_listener OutputListener = {onGeometry, onMode, onDone,
                                           onScale,    onName, onDescription};

} // namespace

WaylandOutputModes::WaylandOutputModes(const QDeadlineTimer &deadline)
{
    WaylandConnection connection(deadline);
    if (!connection.isValid())
        return;
    std::vector<std::unique_ptr<Output>> outputs;
    for (const WaylandConnection::Global &global : connection.globals()) {
        if (global.interface != wl_output_interface.name)
            continue;
        auto output = std::make_unique<Output>();
        output->proxy =
            static_cast<wl_output *>(connection.bind(global, &wl_output_interface, OutputVersion));
        wl_output_add_listener(output->proxy, &OutputListener, output.get());
        outputs.push_back(std::move(output));
    }
    const bool ok = connection.roundtrip();
    for (const auto &output : outputs) {
        if (ok)
            addDisplay(output->current ? QList<ModeDescription>{*output->current}
                                       : QList<ModeDescription>{});
        wl_output_destroy(output->proxy);
    }
    setAnswered(ok);
}
