// SPDX-License-Identifier: MIT
// A strict reader of one JSON text, independent of the CLI's own code: it
// accepts exactly the grammar of RFC 8259 and hands back the top-level
// object's members (strings unescaped, other values as their text).
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>

class JsonCheck {
public:
    // True when `text` is one JSON object and nothing else.
    static bool Object(const std::string& text, std::map<std::string, std::string>* members)
    {
        JsonCheck j{text};
        members->clear();
        j.Ws();
        if (!j.ObjectValue(members))
            return false;
        j.Ws();
        return j.m_i == text.size();
    }

private:
    explicit JsonCheck(const std::string& t) : m_s(t) {}

    void Ws()
    {
        while (m_i < m_s.size() && (m_s[m_i] == ' ' || m_s[m_i] == '\t' || m_s[m_i] == '\n' || m_s[m_i] == '\r'))
            ++m_i;
    }
    bool Lit(const char* word)
    {
        std::string w = word;
        if (m_s.compare(m_i, w.size(), w) != 0)
            return false;
        m_i += w.size();
        return true;
    }
    bool StringValue(std::string* out)
    {
        if (m_i >= m_s.size() || m_s[m_i] != '"')
            return false;
        ++m_i;
        out->clear();
        while (m_i < m_s.size()) {
            unsigned char c = static_cast<unsigned char>(m_s[m_i++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;  // control characters must be escaped
            if (c != '\\') {
                *out += char(c);
                continue;
            }
            if (m_i >= m_s.size())
                return false;
            char e = m_s[m_i++];
            switch (e) {
            case '"': case '\\': case '/': *out += e; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                if (m_i + 4 > m_s.size())
                    return false;
                unsigned v = 0;
                for (int k = 0; k < 4; ++k) {
                    char h = m_s[m_i++];
                    if (!isxdigit(static_cast<unsigned char>(h)))
                        return false;
                    v = v * 16 + unsigned(isdigit(static_cast<unsigned char>(h)) ? h - '0' : (tolower(h) - 'a' + 10));
                }
                *out += v < 0x100 ? char(v) : '?';
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool NumberValue()
    {
        size_t from = m_i;
        if (m_i < m_s.size() && m_s[m_i] == '-')
            ++m_i;
        if (m_i >= m_s.size() || !isdigit(static_cast<unsigned char>(m_s[m_i])))
            return false;
        if (m_s[m_i] == '0')
            ++m_i;
        else
            while (m_i < m_s.size() && isdigit(static_cast<unsigned char>(m_s[m_i])))
                ++m_i;
        if (m_i < m_s.size() && m_s[m_i] == '.') {
            ++m_i;
            size_t digits = m_i;
            while (m_i < m_s.size() && isdigit(static_cast<unsigned char>(m_s[m_i])))
                ++m_i;
            if (m_i == digits)
                return false;
        }
        if (m_i < m_s.size() && (m_s[m_i] == 'e' || m_s[m_i] == 'E')) {
            ++m_i;
            if (m_i < m_s.size() && (m_s[m_i] == '+' || m_s[m_i] == '-'))
                ++m_i;
            size_t digits = m_i;
            while (m_i < m_s.size() && isdigit(static_cast<unsigned char>(m_s[m_i])))
                ++m_i;
            if (m_i == digits)
                return false;
        }
        return m_i > from;
    }
    bool Value(std::string* text)
    {
        Ws();
        size_t from = m_i;
        if (m_i >= m_s.size())
            return false;
        char c = m_s[m_i];
        bool ok;
        if (c == '"')
            return StringValue(text);
        if (c == '{') {
            std::map<std::string, std::string> inner;
            ok = ObjectValue(&inner);
        } else if (c == '[') {
            ok = ArrayValue();
        } else if (c == 't') {
            ok = Lit("true");
        } else if (c == 'f') {
            ok = Lit("false");
        } else if (c == 'n') {
            ok = Lit("null");
        } else {
            ok = NumberValue();
        }
        *text = m_s.substr(from, m_i - from);
        return ok;
    }
    bool ArrayValue()
    {
        ++m_i;
        Ws();
        if (m_i < m_s.size() && m_s[m_i] == ']') {
            ++m_i;
            return true;
        }
        for (;;) {
            std::string v;
            if (!Value(&v))
                return false;
            Ws();
            if (m_i < m_s.size() && m_s[m_i] == ',') {
                ++m_i;
                continue;
            }
            if (m_i < m_s.size() && m_s[m_i] == ']') {
                ++m_i;
                return true;
            }
            return false;
        }
    }
    bool ObjectValue(std::map<std::string, std::string>* members)
    {
        if (m_i >= m_s.size() || m_s[m_i] != '{')
            return false;
        ++m_i;
        Ws();
        if (m_i < m_s.size() && m_s[m_i] == '}') {
            ++m_i;
            return true;
        }
        for (;;) {
            Ws();
            std::string key, value;
            if (!StringValue(&key))
                return false;
            Ws();
            if (m_i >= m_s.size() || m_s[m_i] != ':')
                return false;
            ++m_i;
            if (!Value(&value) || members->count(key))
                return false;  // a member named twice is no use to a reader
            (*members)[key] = value;
            Ws();
            if (m_i < m_s.size() && m_s[m_i] == ',') {
                ++m_i;
                continue;
            }
            if (m_i < m_s.size() && m_s[m_i] == '}') {
                ++m_i;
                return true;
            }
            return false;
        }
    }

    const std::string& m_s;
    size_t m_i = 0;
};
