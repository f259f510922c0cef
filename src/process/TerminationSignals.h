#pragma once

#include "UniqueFd.h"

#include <QObject>

#include <csignal>

class QSocketNotifier;

// Takes SIGTERM, SIGINT and SIGHUP through the event loop: the handler only writes the signal's
// number into a pipe, and received() is emitted on the thread that owns this object once the
// event loop reads it. Nothing else is done inside the handler.
//
// One object at a time. The handlers are installed by the constructor and the earlier
// dispositions restored by the destructor. After the first signal has been received the
// earlier dispositions are back as well, so that a second signal ends a launcher that hangs on
// its way out.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    static constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or a handler could not be set up: the signals then keep their earlier
    // dispositions.
    bool isActive() const { return m_active; }

Q_SIGNALS:
    void received(int signal);

private:
    void onReadable();
    void restore();

    UniqueFd m_read;
    UniqueFd m_write;
    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_previous[sizeof(Signals) / sizeof(Signals[0])] = {};
    bool m_active = false;
};
