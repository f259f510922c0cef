#pragma once

#include "ListedDisplayModes.h"

#include <QDeadlineTimer>

class QDBusConnection;
class QDBusMessage;

// Display modes from GNOME's compositor: org.gnome.Mutter.DisplayConfig.GetCurrentState on the
// session bus. Active displays are the monitors that some logical monitor shows, in the order
// mutter lists its monitors; each offers its modes in mutter's order. Mutter gives modes in the
// monitor's physical pixels in both of its layouts, whatever the scale.
//
// The call is made in the constructor and waits at most until the deadline.
class MutterDisplayModes : public ListedDisplayModes
{
public:
    explicit MutterDisplayModes(const QDeadlineTimer &deadline);
    MutterDisplayModes(const QDBusConnection &bus, const QDeadlineTimer &deadline);

    // Fills the snapshot from a GetCurrentState reply; false (and nothing added) when the reply
    // is an error or does not have the documented signature.
    bool readState(const QDBusMessage &reply);
};
