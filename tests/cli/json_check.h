// SPDX-License-Identifier: MIT
// A strict reader of one JSON text for the tests, independent of the CLI's
// own code. nlohmann's parser holds the text to RFC 8259 (grammar, UTF-8,
// nothing after the value); this adds that no object names a member twice,
// which the library lets pass (the last one would win). It hands back the
// top-level object's members: strings as the bytes the events stand for
// (\u00XX the byte XX, UTF-8 its own bytes), other values as JSON text.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <string>
#include <vector>

class JsonCheck {
public:
    // True when `text` is one JSON object and nothing else.
    static bool Object(const std::string& text, std::map<std::string, std::string>* members)
    {
        members->clear();
        if (!Strict(text))
            return false;
        // Again, each byte from 0x80 up written as \u00XX: then every
        // character of a string read back stands for one byte.
        std::string ascii;
        for (unsigned char c : text)
            ascii += c < 0x80 ? std::string(1, char(c)) : "\\u00" + Hex(c);
        const nlohmann::json doc = nlohmann::json::parse(ascii);
        for (const auto& member : doc.items()) {
            const nlohmann::json& v = member.value();
            (*members)[Latin1(member.key())] = v.is_string() ? Latin1(v.get<std::string>()) : v.dump();
        }
        return true;
    }

private:
    static bool Strict(const std::string& text)
    {
        using Event = nlohmann::json::parse_event_t;
        std::vector<std::set<std::string>> keys;  // one set an open object
        bool twice = false;
        auto watch = [&](int, Event event, nlohmann::json& parsed) {
            if (event == Event::object_start)
                keys.emplace_back();
            else if (event == Event::object_end)
                keys.pop_back();
            else if (event == Event::key)
                twice |= !keys.back().insert(parsed.get<std::string>()).second;
            return true;
        };
        const nlohmann::json doc = nlohmann::json::parse(text, watch, false);
        return doc.is_object() && !twice;
    }

    static std::string Hex(unsigned char c)
    {
        const char* digits = "0123456789abcdef";
        return {digits[c >> 4], digits[c & 15]};
    }

    // Characters up to U+00FF as one byte each ('?' for any above: no
    // event escapes one).
    static std::string Latin1(const std::string& utf8)
    {
        std::string bytes;
        size_t i = 0;
        while (i < utf8.size()) {
            const unsigned char lead = static_cast<unsigned char>(utf8[i]);
            const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            unsigned cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
            for (size_t k = 1; k < length; ++k)
                cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            bytes += cp < 0x100 ? char(cp) : '?';
            i += length;
        }
        return bytes;
    }
};
