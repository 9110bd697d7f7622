// SPDX-License-Identifier: MIT
#include "json_encoding.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at p (1 to 4 bytes), 0 when
// the bytes there are none; *truncated when they begin one that runs past
// the end of the text.
size_t Utf8Sequence(const unsigned char* p, size_t left, bool* truncated)
{
    *truncated = false;
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    // The second byte's range excludes overlong forms, surrogates and code
    // points past U+10FFFF.
    size_t more;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        lo = lead == 0xE0 ? 0xA0 : 0x80;
        hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (size_t i = 1; i <= more; ++i) {
        if (i >= left) {
            *truncated = true;
            return 0;
        }
        if (p[i] < lo || p[i] > hi)
            return 0;
        lo = 0x80;
        hi = 0xBF;
    }
    return more + 1;
}

}  // namespace

size_t Utf8OpenTail(const std::string& s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t k = 1; k <= 3 && k <= s.size(); ++k) {
        if ((p[s.size() - k] & 0xC0) == 0x80)
            continue;  // a continuation byte: its lead is further back
        bool truncated;
        Utf8Sequence(p + s.size() - k, k, &truncated);
        return truncated ? k : 0;
    }
    return 0;
}

std::string JsonQuote(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::string s = "\"";
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        bool truncated;
        const size_t len = c >= 0x80 ? Utf8Sequence(p + i, n - i, &truncated) : 0;
        if (len > 0) {
            s.append(bytes, i, len);
            i += len;
            continue;
        }
        switch (c) {
        case '"':
            s += "\\\"";
            break;
        case '\\':
            s += "\\\\";
            break;
        case '\n':
            s += "\\n";
            break;
        case '\r':
            s += "\\r";
            break;
        case '\t':
            s += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x80) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                s += esc;
            } else {
                s += char(c);
            }
        }
        ++i;
    }
    return s + "\"";
}

std::string EventText(const EventObject& event)
{
    using Type = EventObject::value_t;
    switch (event.type()) {
    case Type::string:
        return JsonQuote(event.get_ref<const std::string&>());
    case Type::number_float: {
        // The events' times in seconds, to the millisecond.
        char buf[40];
        snprintf(buf, sizeof buf, "%.3f", event.get<double>());
        return buf;
    }
    case Type::object: {
        std::string s = "{";
        for (const auto& member : event.items())
            s += (s.size() > 1 ? "," : "") + JsonQuote(member.key()) + ":" + EventText(member.value());
        return s + "}";
    }
    case Type::array: {
        std::string s = "[";
        for (const auto& value : event)
            s += (s.size() > 1 ? "," : "") + EventText(value);
        return s + "]";
    }
    default:
        return event.dump();  // integers, booleans, null: as the library writes them
    }
}
