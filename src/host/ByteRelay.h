#pragma once

#include "UniqueFd.h"

#include <QObject>

class QSocketNotifier;

// Copies bytes both ways between a connected socket and a pair of streams (standard input and
// output, an SSH channel), without looking at them: `velmora-server attach --protocol` puts the
// host's protocol on its own standard streams this way, for a client at the other end of a pipe.
// Nothing blocks; a direction whose reader lags holds back its writer once MaxBuffered bytes wait.
// finished() comes once either side's stream has ended and what it sent has been passed on.
class ByteRelay : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxBuffered = 1024 * 1024;

    // Does not take over `in` and `out`; takes over `socket`.
    ByteRelay(int in, int out, UniqueFd socket, QObject *parent = nullptr);
    ~ByteRelay() override;

Q_SIGNALS:
    void finished();

private:
    struct Direction
    {
        int from = -1;
        int to = -1;
        QSocketNotifier *readable = nullptr;
        QSocketNotifier *writable = nullptr;
        QByteArray buffer;
        bool ended = false;
    };

    void setUp(Direction &direction, int from, int to);
    void pull(Direction &direction);
    void push(Direction &direction);
    void finish();

    UniqueFd m_socket;
    Direction m_up;   // our input to the socket
    Direction m_down; // the socket to our output
    int m_inFlags = -1;
    int m_outFlags = -1;
    bool m_finished = false;
};
