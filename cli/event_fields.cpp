// SPDX-License-Identifier: MIT
#include "event_fields.h"

#include <cstdlib>

namespace {

struct Reader {
    const std::string& s;
    size_t i = 0;

    void Space()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;
    }
    bool Eat(char c)
    {
        Space();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool String(std::string* out)
    {
        if (!Eat('"'))
            return false;
        out->clear();
        while (i < s.size()) {
            char c = s[i++];
            if (c == '"')
                return true;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (i >= s.size())
                return false;
            char e = s[i++];
            switch (e) {
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case '"': case '\\': case '/': *out += e; break;
            case 'u': {
                if (i + 4 > s.size())
                    return false;
                char* end = nullptr;
                std::string hex = s.substr(i, 4);
                unsigned long v = strtoul(hex.c_str(), &end, 16);
                // The writer escapes single bytes only; UTF-8 comes unescaped.
                if (*end || v > 0xFF)
                    return false;
                *out += char(v);
                i += 4;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool Scalar(std::string* out)
    {
        Space();
        size_t from = i;
        while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ' ')
            ++i;
        *out = s.substr(from, i - from);
        return !out->empty();
    }
};

}  // namespace

bool ParseEventFields(const std::string& line, std::map<std::string, std::string>* fields)
{
    Reader r{line};
    fields->clear();
    if (!r.Eat('{'))
        return false;
    if (r.Eat('}'))
        return true;
    for (;;) {
        std::string key, value;
        if (!r.String(&key) || !r.Eat(':'))
            return false;
        r.Space();
        if (r.i < line.size() && line[r.i] == '"') {
            if (!r.String(&value))
                return false;
        } else if (!r.Scalar(&value)) {
            return false;
        }
        (*fields)[key] = value;
        if (r.Eat(','))
            continue;
        if (!r.Eat('}'))
            return false;
        r.Space();
        return r.i == line.size();
    }
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
