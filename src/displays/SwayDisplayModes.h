#pragma once

#include "ListedDisplayModes.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

// Display modes from sway's IPC: one GET_OUTPUTS request over the socket that $SWAYSOCK names.
// Active displays are the outputs marked "active", in sway's order; each offers its "modes", or
// its "current_mode" when sway lists no modes (headless and some virtual outputs). Sizes are
// the output's own pixels, whatever its scale.
//
// The whole exchange happens in the constructor and gives up at the deadline, so a sway that
// hangs costs no more than that.
class SwayDisplayModes : public ListedDisplayModes
{
public:
    explicit SwayDisplayModes(const QDeadlineTimer &deadline, QString socketPath = {});

    // The displays in a GET_OUTPUTS reply; std::nullopt when it is not a JSON array of outputs.
    static std::optional<QList<QList<ModeDescription>>> parseOutputs(const QByteArray &json);

    // Sends one IPC message of `type` and returns the reply's payload, or std::nullopt on any
    // failure (no socket, refused, malformed or oversized reply, deadline passed).
    static std::optional<QByteArray> request(const QString &socketPath, quint32 type,
                                             const QDeadlineTimer &deadline);
};
