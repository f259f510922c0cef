#pragma once

#include "TextStyle.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

// What the server host and its clients (the window, the terminal tool) say to each other, over
// any byte stream: the host's Unix socket here, an SSH channel or a pipe just as well.
//
// A frame is a 4-byte big-endian length, then that many bytes: one byte naming the message, then
// its fields. Integers are big-endian; a text is a 32-bit byte count and that much UTF-8; spans
// are a count and, for each, start, length, flags (1 colour, 2 bold) and colour. A frame longer
// than MaxFrame is refused before any of it is kept.
//
// Each side first sends Hello with the one version it speaks. The host answers a client whose
// version it does not speak with Error and closes; a client does the same with a host. Messages
// of a type this version does not know are skipped, and fields after the known ones are ignored,
// so that a later version may add both; a known message cut short is malformed and ends the
// conversation.
namespace HostProtocol {

inline constexpr quint16 Version = 1;
inline constexpr char Magic[] = "velmora-host";
inline constexpr qsizetype HeaderSize = 4;
inline constexpr qsizetype MaxFrame = 4 * 1024 * 1024;
// Output is sent in pieces of at most this many UTF-16 code units, so that a frame stays far
// below MaxFrame even with a span for every character.
inline constexpr qsizetype MaxOutputPiece = 64 * 1024;

enum class Type : quint8
{
    Hello = 1,
    Error = 2,
    State = 3,
    HistoryRow = 4,
    HistoryEnd = 5,
    Output = 6,
    EndOutput = 7,
    Line = 8,
    Command = 9,
    CommandResult = 10,
    Stop = 11,
    FlushLog = 12,
    Start = 13,
};

// Both ways, first. A client that subscribes gets the console's history and every row after it;
// one that does not (status, send, stop) gets the state only.
struct Hello
{
    quint16 version = Version;
    bool subscribe = false;
};
// Either way: why the sender is about to close.
struct Error
{
    QString text;
};
// Host to client, after Hello and at every change.
struct State
{
    bool running = false;
    qint32 pid = -1;      // the server's, -1 when none runs
    qint64 startedMs = 0; // when it started, ms since the epoch; 0 when none runs
    quint32 restarts = 0; // runs this host started after its first
    QString lastEnd;      // how the last run ended, in words; empty before the first end
    QString log;          // the log Open Log opens
    QString logFolder;    // where the logs are
    qint32 hostPid = -1;
    QString manager; // what runs the host, in words ("systemd user unit …", "detached")
};
// Host to a subscribing client: one row of the console as it stands, oldest first.
struct HistoryRow
{
    QString text;
    StyleSpans spans;
};
// Ends the history. When `open`, the last row still waits for more output of run `run`.
struct HistoryEnd
{
    bool open = false;
    quint32 run = 0;
};
// Host to subscribing clients: output of run `run` (0 for the session's own separator), as the
// session's console gets it.
struct Output
{
    quint32 run = 0;
    StyledText text;
};
struct EndOutput
{
    quint32 run = 0;
};
// One of the session's own lines.
struct Line
{
    QString text;
};
// Client to host: a line to type into the server, as it was typed into a field of
// `fieldLength` characters; answered by CommandResult with the same id.
struct Command
{
    quint32 id = 0;
    qint32 fieldLength = 0;
    QString text;
};
struct CommandResult
{
    quint32 id = 0;
    bool sent = false;
    QString reason; // why not, in the session's words
};
// Client to host: stop the server as Stop does.
struct Stop
{};
// Client to host: write out what the session holds back of `log`, about to be opened.
struct FlushLog
{
    QString log;
};

// Client to a host that waits for its settings (started for a window on another machine): start
// the server with these, the window's, rather than the host machine's stored ones. The password
// travels here so that it is on the command line of neither ssh nor velmora-server. A host that
// has started its server already ignores it.
struct Start
{
    QString options;
    QString description;
    QString password;
    qint32 maxClients = 0;
};

using Message = std::variant<Hello, Error, State, HistoryRow, HistoryEnd, Output, EndOutput, Line,
                             Command, CommandResult, Stop, FlushLog, Start>;

// One whole frame, header included.
QByteArray encode(const Message &message);

enum class Parse
{
    Ok,
    Unknown,  // a type this version does not know: skip it
    Malformed // cut short, or fields that cannot be (spans outside the text, say)
};
struct Decoded
{
    Parse result = Parse::Malformed;
    Message message;
};
// One frame's body (the type byte and the fields, without the header).
Decoded decode(QByteArrayView body);

// `text` cut into pieces of at most `maxUnits` code units (never between the halves of a
// surrogate pair), each with the spans that fall in it.
std::vector<StyledText> splitOutput(const StyledText &text, qsizetype maxUnits = MaxOutputPiece);

// Gathers frames from a stream that arrives in pieces of any size.
class FrameReader
{
public:
    enum class Status
    {
        Fine,
        Oversized // a header announced more than MaxFrame bytes, or none at all: nothing more
    };

    void feed(QByteArrayView bytes);
    // The next whole frame's body, if one has arrived.
    std::optional<QByteArray> next();
    Status status() const { return m_status; }
    // Whether part of a frame is waiting for the rest: at the end of the stream, a cut frame.
    bool hasPartialFrame() const { return m_buffer.size() > m_offset; }

private:
    QByteArray m_buffer;
    qsizetype m_offset = 0; // bytes at the front already handed out
    Status m_status = Status::Fine;
};

} // namespace HostProtocol
