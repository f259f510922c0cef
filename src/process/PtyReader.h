#pragma once

#include "UniqueFd.h"

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// Turns the master side of a pseudo-terminal into one-shot read results on the event loop of
// the thread that owns it. It owns the master: the descriptor is made non-blocking and
// close-on-exec here and closed by close() or the destructor, whichever comes first.
//
// Call order: arm() requests one read; exactly one readDone() follows, unless close() comes
// first. Nothing more is read until arm() is called again, so a peer that writes without pause
// costs one read per event-loop pass and never starves other work.
class PtyReader : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype ChunkSize = 64 * 1024;

    explicit PtyReader(UniqueFd master, QObject *parent = nullptr);
    ~PtyReader() override;

    void arm();
    bool isArmed() const { return m_armed; }
    void close();
    bool isOpen() const { return m_master.isValid(); }
    // The master, for a writer that shares it; -1 once closed.
    int descriptor() const { return m_master.get(); }

Q_SIGNALS:
    // `data` empty and `failed` false: end of output. `failed` true: the read failed.
    // The reader touches none of its members after emitting, so a receiver may call arm() or
    // close(); it must not delete the reader directly (use deleteLater()).
    void readDone(const QByteArray &data, bool failed);

private:
    void onReadable();

    UniqueFd m_master;
    QSocketNotifier *m_notifier = nullptr;
    bool m_armed = false;
};
