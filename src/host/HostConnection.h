#pragma once

#include "HostProtocol.h"
#include "UniqueFd.h"

#include <QObject>

#include <deque>

class QSocketNotifier;

// One conversation in the host's protocol over a pair of descriptors: a connected socket (the
// same descriptor both ways), or a pipe each way (a relay's standard input and output, an SSH
// channel). Reading and writing never block the thread: what the peer does not take at once
// waits in a queue, and a peer that lets more than MaxQueued bytes pile up is dropped rather
// than let the sender's memory grow without end.
//
// Main thread only. Receivers of received() and closed() must not delete the connection there
// (deleteLater() is fine). After closed() nothing more is received or sent.
class HostConnection : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxQueued = 64 * 1024 * 1024;

    // Takes both descriptors over; `out` may be invalid when `in` is a socket used both ways.
    // Both are made non-blocking.
    HostConnection(UniqueFd in, UniqueFd out, QObject *parent = nullptr);
    ~HostConnection() override;

    bool isOpen() const { return m_in.isValid(); }
    void send(const HostProtocol::Message &message);
    // Frames already encoded (one encoding sent to many peers).
    void sendFrames(const QByteArray &frames);
    qsizetype queuedBytes() const { return m_queuedBytes; }
    // Ends the conversation once everything queued has been written, or at once when nothing is.
    void closeWhenWritten();
    // Sends Error with `why`, then closes as closeWhenWritten() does.
    void refuse(const QString &why);
    // Ends the conversation now; closed() follows with `why`.
    void close(const QString &why = QString());

Q_SIGNALS:
    void received(const HostProtocol::Message &message);
    // The conversation is over: `why` is empty at a clean end of the peer's stream or of ours.
    void closed(const QString &why);

private:
    void onReadable();
    void onWritable();
    bool writeQueued();
    void dispatch();

    UniqueFd m_in;
    UniqueFd m_out; // invalid when m_in is used both ways
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr;
    HostProtocol::FrameReader m_frames;
    std::deque<QByteArray> m_queue;
    qsizetype m_frontWritten = 0;
    qsizetype m_queuedBytes = 0;
    bool m_closing = false;
    bool m_writesToSocket = false;
};
