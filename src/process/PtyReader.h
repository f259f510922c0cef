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
// first. That read takes everything the terminal holds when it wakes up, up to ChunkSize bytes:
// a terminal hands over at most a few KiB per read() call, and a flood costs one wake-up and
// one delivery per batch instead of per call. Nothing more is read until arm() is called again,
// so a peer that writes without pause never starves other work.
class PtyReader : public QObject
{
    Q_OBJECT
public:
    // The most one readDone() delivers, and what one read() call asks for. A delivery passes
    // through several copies on its way to the console and the log (decoded, parsed, encoded),
    // so a smaller bound keeps both memory and the longest pause of the window down when the
    // window falls behind a flood; 256 KiB still holds thousands of lines.
    static constexpr qsizetype ChunkSize = 256 * 1024;
    static constexpr qsizetype ReadSize = 64 * 1024;

    explicit PtyReader(UniqueFd master, QObject *parent = nullptr);
    ~PtyReader() override;

    void arm();
    bool isArmed() const { return m_armed; }
    void close();
    bool isOpen() const { return m_master.isValid(); }
    // The master, for a writer that shares it; -1 once closed.
    int descriptor() const { return m_master.get(); }

Q_SIGNALS:
    // `data` empty and `failed` false: end of output. `failed` true: the read failed. Output read
    // before the end comes first, in a delivery of its own; the end follows on the next request.
    // The reader touches none of its members after emitting, so a receiver may call arm() or
    // close(); it must not delete the reader directly (use deleteLater()).
    void readDone(const QByteArray &data, bool failed);

private:
    void onReadable();

    UniqueFd m_master;
    QSocketNotifier *m_notifier = nullptr;
    bool m_armed = false;
    QByteArray m_buffer; // reused while no receiver keeps the bytes it was given
};
