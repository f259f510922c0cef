#include "HostProtocol.h"

#include <QtEndian>

namespace HostProtocol {

namespace {

template <class... Ts>
struct Overloaded : Ts...
{
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

enum SpanFlag : quint8
{
    HasColour = 1,
    Bold = 2,
};

class Writer
{
public:
    explicit Writer(Type type)
    {
        m_bytes.resize(HeaderSize);
        u8(quint8(type));
    }
    void u8(quint8 value) { m_bytes.append(char(value)); }
    void u16(quint16 value) { put(qToBigEndian(value)); }
    void u32(quint32 value) { put(qToBigEndian(value)); }
    void i32(qint32 value) { put(qToBigEndian(value)); }
    void i64(qint64 value) { put(qToBigEndian(value)); }
    void bytes(QByteArrayView value)
    {
        u32(quint32(value.size()));
        m_bytes.append(value);
    }
    void text(const QString &value) { bytes(value.toUtf8()); }
    void spans(const StyleSpans &spans)
    {
        u32(quint32(spans.size()));
        for (const StyleSpan &span : spans) {
            u32(quint32(span.start));
            u32(quint32(span.length));
            u8(quint8((span.style.hasColour ? HasColour : 0) | (span.style.bold ? Bold : 0)));
            u32(span.style.colour);
        }
    }
    QByteArray frame()
    {
        qToBigEndian(quint32(m_bytes.size() - HeaderSize), m_bytes.data());
        return std::move(m_bytes);
    }

private:
    template <typename T>
    void put(T bigEndian)
    {
        m_bytes.append(reinterpret_cast<const char *>(&bigEndian), sizeof bigEndian);
    }

    QByteArray m_bytes;
};

// Reads fields off a frame's body; once anything is missing, every later read fails too.
class Reader
{
public:
    explicit Reader(QByteArrayView body) : m_body(body) {}
    bool ok() const { return m_ok; }
    void invalidate() { m_ok = false; }

    quint8 u8() { return take<quint8>(); }
    quint16 u16() { return take<quint16>(); }
    quint32 u32() { return take<quint32>(); }
    qint32 i32() { return take<qint32>(); }
    qint64 i64() { return take<qint64>(); }
    QString text()
    {
        const quint32 size = u32();
        if (!m_ok || size > quint32(m_body.size() - m_at))
            return fail<QString>();
        const QByteArrayView bytes = m_body.sliced(m_at, size);
        m_at += size;
        return QString::fromUtf8(bytes);
    }
    // Spans must lie inside `text`, in order, without overlap and without covering a line feed:
    // the console relies on all of that.
    StyleSpans spans(const QString &text)
    {
        const quint32 count = u32();
        // Each span takes 13 bytes: a count that cannot fit is not believed.
        if (!m_ok || count > quint32((m_body.size() - m_at) / 13))
            return fail<StyleSpans>();
        StyleSpans spans;
        spans.reserve(count);
        qsizetype end = 0;
        for (quint32 i = 0; i < count; ++i) {
            StyleSpan span;
            const quint32 start = u32();
            const quint32 length = u32();
            const quint8 flags = u8();
            span.style.colour = u32();
            if (!m_ok || length == 0 || start < end || start > quint32(text.size()) ||
                length > quint32(text.size()) - start ||
                QStringView(text).sliced(start, length).contains(u'\n'))
                return fail<StyleSpans>();
            span.start = int(start);
            span.length = int(length);
            span.style.hasColour = flags & HasColour;
            span.style.bold = flags & Bold;
            end = start + length;
            spans.append(span);
        }
        return spans;
    }

private:
    template <typename T>
    T take()
    {
        if (!m_ok || m_body.size() - m_at < qsizetype(sizeof(T)))
            return fail<T>();
        const T value = qFromBigEndian<T>(m_body.data() + m_at);
        m_at += sizeof(T);
        return value;
    }
    template <typename T>
    T fail()
    {
        m_ok = false;
        return T();
    }

    QByteArrayView m_body;
    qsizetype m_at = 0;
    bool m_ok = true;
};

Message read(Type type, Reader &in, bool &known)
{
    known = true;
    switch (type) {
    case Type::Hello: {
        Hello hello;
        const QString magic = in.text();
        hello.version = in.u16();
        hello.subscribe = in.u8() != 0;
        // Whatever does not open with the name is not talking to a host at all.
        if (magic != QLatin1String(Magic))
            in.invalidate();
        return hello;
    }
    case Type::Error:
        return Error{in.text()};
    case Type::State: {
        State state;
        state.running = in.u8() != 0;
        state.pid = in.i32();
        state.startedMs = in.i64();
        state.restarts = in.u32();
        state.lastEnd = in.text();
        state.log = in.text();
        state.logFolder = in.text();
        state.hostPid = in.i32();
        state.manager = in.text();
        return state;
    }
    case Type::HistoryRow: {
        HistoryRow row;
        row.text = in.text();
        row.spans = in.spans(row.text);
        return row;
    }
    case Type::HistoryEnd: {
        HistoryEnd end;
        end.open = in.u8() != 0;
        end.run = in.u32();
        return end;
    }
    case Type::Output: {
        Output output;
        output.run = in.u32();
        output.text.text = in.text();
        output.text.spans = in.spans(output.text.text);
        return output;
    }
    case Type::EndOutput:
        return EndOutput{in.u32()};
    case Type::Line:
        return Line{in.text()};
    case Type::Command: {
        Command command;
        command.id = in.u32();
        command.fieldLength = in.i32();
        command.text = in.text();
        return command;
    }
    case Type::CommandResult: {
        CommandResult result;
        result.id = in.u32();
        result.sent = in.u8() != 0;
        result.reason = in.text();
        return result;
    }
    case Type::Stop:
        return Stop{};
    case Type::FlushLog:
        return FlushLog{in.text()};
    case Type::Start: {
        Start start;
        start.options = in.text();
        start.description = in.text();
        start.password = in.text();
        start.maxClients = in.i32();
        return start;
    }
    }
    known = false;
    return Stop{};
}

} // namespace

QByteArray encode(const Message &message)
{
    return std::visit(Overloaded{
                          [](const Hello &hello) {
                              Writer out(Type::Hello);
                              out.bytes(Magic);
                              out.u16(hello.version);
                              out.u8(hello.subscribe ? 1 : 0);
                              return out.frame();
                          },
                          [](const Error &error) {
                              Writer out(Type::Error);
                              out.text(error.text);
                              return out.frame();
                          },
                          [](const State &state) {
                              Writer out(Type::State);
                              out.u8(state.running ? 1 : 0);
                              out.i32(state.pid);
                              out.i64(state.startedMs);
                              out.u32(state.restarts);
                              out.text(state.lastEnd);
                              out.text(state.log);
                              out.text(state.logFolder);
                              out.i32(state.hostPid);
                              out.text(state.manager);
                              return out.frame();
                          },
                          [](const HistoryRow &row) {
                              Writer out(Type::HistoryRow);
                              out.text(row.text);
                              out.spans(row.spans);
                              return out.frame();
                          },
                          [](const HistoryEnd &end) {
                              Writer out(Type::HistoryEnd);
                              out.u8(end.open ? 1 : 0);
                              out.u32(end.run);
                              return out.frame();
                          },
                          [](const Output &output) {
                              Writer out(Type::Output);
                              out.u32(output.run);
                              out.text(output.text.text);
                              out.spans(output.text.spans);
                              return out.frame();
                          },
                          [](const EndOutput &end) {
                              Writer out(Type::EndOutput);
                              out.u32(end.run);
                              return out.frame();
                          },
                          [](const Line &line) {
                              Writer out(Type::Line);
                              out.text(line.text);
                              return out.frame();
                          },
                          [](const Command &command) {
                              Writer out(Type::Command);
                              out.u32(command.id);
                              out.i32(command.fieldLength);
                              out.text(command.text);
                              return out.frame();
                          },
                          [](const CommandResult &result) {
                              Writer out(Type::CommandResult);
                              out.u32(result.id);
                              out.u8(result.sent ? 1 : 0);
                              out.text(result.reason);
                              return out.frame();
                          },
                          [](const Stop &) { return Writer(Type::Stop).frame(); },
                          [](const FlushLog &flush) {
                              Writer out(Type::FlushLog);
                              out.text(flush.log);
                              return out.frame();
                          },
                          [](const Start &start) {
                              Writer out(Type::Start);
                              out.text(start.options);
                              out.text(start.description);
                              out.text(start.password);
                              out.i32(start.maxClients);
                              return out.frame();
                          },
                      },
                      message);
}

Decoded decode(QByteArrayView body)
{
    Decoded decoded;
    if (body.isEmpty())
        return decoded;
    Reader in(body.sliced(1));
    bool known = false;
    decoded.message = read(Type(quint8(body.front())), in, known);
    if (!known)
        decoded.result = Parse::Unknown;
    else if (in.ok())
        decoded.result = Parse::Ok;
    return decoded;
}

std::vector<StyledText> splitOutput(const StyledText &text, qsizetype maxUnits)
{
    std::vector<StyledText> pieces;
    qsizetype at = 0;
    qsizetype span = 0;
    while (at < text.text.size()) {
        qsizetype end = std::min(at + maxUnits, text.text.size());
        if (end < text.text.size() && end > at + 1 && text.text.at(end - 1).isHighSurrogate())
            --end;
        StyledText piece{text.text.sliced(at, end - at), {}};
        for (; span < text.spans.size() && text.spans[span].start < end; ++span) {
            StyleSpan cut = text.spans[span];
            const qsizetype spanEnd = cut.start + cut.length;
            cut.start = int(std::max<qsizetype>(cut.start, at) - at);
            cut.length = int(std::min(spanEnd, end) - at - cut.start);
            piece.spans.append(cut);
            if (spanEnd > end)
                break; // the rest of it belongs to the next piece
        }
        pieces.push_back(std::move(piece));
        at = end;
    }
    return pieces;
}

void FrameReader::feed(QByteArrayView bytes)
{
    if (m_status != Status::Fine)
        return;
    // What was handed out goes once it is most of the buffer, so that a stream of small frames
    // costs no more than copying each byte twice.
    if (m_offset > 0 && m_offset * 2 >= m_buffer.size()) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes);
}

std::optional<QByteArray> FrameReader::next()
{
    if (m_status != Status::Fine || m_buffer.size() - m_offset < HeaderSize)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + m_offset);
    if (length == 0 || length > quint32(MaxFrame)) {
        m_status = Status::Oversized;
        m_buffer.clear();
        m_offset = 0;
        return std::nullopt;
    }
    if (m_buffer.size() - m_offset - HeaderSize < qsizetype(length))
        return std::nullopt;
    QByteArray body = m_buffer.mid(m_offset + HeaderSize, length);
    m_offset += HeaderSize + length;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return body;
}

} // namespace HostProtocol
