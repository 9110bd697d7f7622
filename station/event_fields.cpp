// SPDX-License-Identifier: MIT
#include "event_fields.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

// The library reads \u00XX as the character U+00XX, where the events mean
// the byte XX (json_encoding.h). So every byte from 0x80 up is first written
// that way too; then each character of a string read back is one byte.
std::string HighBytesEscaped(const std::string& line)
{
    std::string out;
    out.reserve(line.size());
    for (unsigned char c : line) {
        if (c < 0x80) {
            out += char(c);
            continue;
        }
        char esc[8];
        snprintf(esc, sizeof esc, "\\u%04x", c);
        out += esc;
    }
    return out;
}

// The bytes of a string whose characters are all below U+0100 (in the
// library's UTF-8: one or two bytes each); false for any other.
bool BytesOf(const std::string& utf8, std::string* bytes)
{
    bytes->clear();
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80)
            *bytes += char(c);
        else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size())
            *bytes += char((c & 0x03) << 6 | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        else
            return false;  // a character no writer of events escapes
    }
    return true;
}

}  // namespace

bool ParseEventFields(const std::string& line, std::map<std::string, std::string>* fields)
{
    fields->clear();
    const auto doc = nlohmann::json::parse(HighBytesEscaped(line), nullptr, false);
    if (!doc.is_object())
        return false;  // not JSON (the library's "discarded"), or not an object
    for (const auto& member : doc.items()) {
        std::string key, value;
        if (!BytesOf(member.key(), &key))
            return false;
        if (member.value().is_string()) {
            if (!BytesOf(member.value().get_ref<const std::string&>(), &value))
                return false;
        } else if (member.value().is_structured()) {
            return false;  // an event is flat
        } else {
            value = member.value().dump();
        }
        (*fields)[key] = value;
    }
    return true;
}

std::string EventKind(const std::string& line)
{
    // The writer puts the kind first; anything else gets the full reading.
    static const std::string kHead = "{\"event\":\"";
    if (line.compare(0, kHead.size(), kHead) == 0) {
        size_t end = line.find('"', kHead.size());
        if (end != std::string::npos)
            return line.substr(kHead.size(), end - kHead.size());
    }
    std::map<std::string, std::string> fields;
    return ParseEventFields(line, &fields) ? fields["event"] : std::string();
}
