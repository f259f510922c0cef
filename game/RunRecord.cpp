#include "RunRecord.h"

#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Length of the well-formed UTF-8 sequence at `text[at]`, or 0 when the bytes there are not one
// (overlong forms, surrogates and code points above U+10FFFF count as not well formed).
std::size_t utf8SequenceLength(const std::string &text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

void appendStringArray(std::string &json, const std::vector<std::string> &items,
                       std::string (*convert)(const std::string &))
{
    json += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            json += ',';
        json += convert(items[i]);
    }
    json += ']';
}

std::string quotedHex(const std::string &bytes)
{
    return '"' + RunRecord::hex(bytes) + '"';
}

} // namespace

std::string RunRecord::jsonString(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += digits[c >> 4];
            out += digits[c & 0xF];
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t length = utf8SequenceLength(bytes, i)) {
            out.append(bytes, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string RunRecord::hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto value = static_cast<unsigned char>(c);
        out += digits[value >> 4];
        out += digits[value & 0xF];
    }
    return out;
}

std::string RunRecord::toJson() const
{
    std::string json = "{\"argv0\":" + jsonString(argv0) + ",\"arguments\":";
    appendStringArray(json, arguments, &RunRecord::jsonString);
    json += ",\"argumentsHex\":";
    appendStringArray(json, arguments, &quotedHex);
    json += ",\"cwd\":" + jsonString(cwd);
    json += ",\"mode\":" + jsonString(mode);
    json += ",\"pid\":" + std::to_string(pid);
    if (mainStartedNs)
        json += ",\"mainStartedNs\":" + std::to_string(*mainStartedNs);
    json += "}\n";
    return json;
}

bool RunRecord::writeAtomically(const std::string &path, std::string &error) const
{
    const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
    UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.isValid()) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const std::string json = toJson();
    std::size_t done = 0;
    while (done < json.size()) {
        const ssize_t written = ::write(file.get(), json.data() + done, json.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = "cannot write " + temporary + ": " + std::strerror(errno);
            ::unlink(temporary.c_str());
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    if (!file.close()) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
