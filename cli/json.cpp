#include "cli/json.h"

#include <cstdint>

#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "cli/rules.h"

namespace tv::cli {

Json::Json() = default;
Json::Json(const Json&) = default;
Json::Json(Json&&) noexcept = default;
Json& Json::operator=(const Json&) = default;
Json& Json::operator=(Json&&) noexcept = default;
Json::~Json() = default;
namespace {

struct Parser {
    const std::string& s;
    size_t i = 0;
    int depth = 0;

    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }
    bool lit(const char* w) {
        size_t n = 0;
        while (w[n])
            ++n;
        if (s.compare(i, n, w) != 0)
            return false;
        i += n;
        return true;
    }
    bool hex4(uint32_t& v) {
        if (i + 4 > s.size())
            return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s[i++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    bool string(std::string& out) {
        if (i >= s.size() || s[i] != '"')
            return false;
        ++i;
        while (i < s.size()) {
            const char c = s[i++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size())
                return false;
            const char e = s[i++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp <= 0xDBFF && s.compare(i, 2, "\\u") == 0) {
                    const size_t save = i;
                    i += 2;
                    uint32_t lo;
                    if (hex4(lo) && lo >= 0xDC00 && lo <= 0xDFFF)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    else
                        i = save;
                }
                if (cp >= 0xD800 && cp <= 0xDFFF)
                    cp = 0xFFFD;
                appendUtf8(out, cp);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool value(Json& v) {
        if (++depth > 64)
            return false;
        ws();
        if (i >= s.size())
            return false;
        const char c = s[i];
        bool ok = true;
        if (c == '{') {
            v.type = Json::Type::Object;
            ++i;
            ws();
            if (i < s.size() && s[i] == '}') {
                ++i;
            } else {
                while (true) {
                    ws();
                    std::string k;
                    Json item;
                    if (!string(k))
                        return false;
                    ws();
                    if (i >= s.size() || s[i] != ':')
                        return false;
                    ++i;
                    if (!value(item))
                        return false;
                    v.obj.emplace_back(std::move(k), std::move(item));
                    ws();
                    if (i < s.size() && s[i] == ',') {
                        ++i;
                        continue;
                    }
                    if (i < s.size() && s[i] == '}') {
                        ++i;
                        break;
                    }
                    return false;
                }
            }
        } else if (c == '[') {
            v.type = Json::Type::Array;
            ++i;
            ws();
            if (i < s.size() && s[i] == ']') {
                ++i;
            } else {
                while (true) {
                    Json item;
                    if (!value(item))
                        return false;
                    v.arr.push_back(std::move(item));
                    ws();
                    if (i < s.size() && s[i] == ',') {
                        ++i;
                        continue;
                    }
                    if (i < s.size() && s[i] == ']') {
                        ++i;
                        break;
                    }
                    return false;
                }
            }
        } else if (c == '"') {
            v.type = Json::Type::String;
            ok = string(v.str);
        } else if (lit("true")) {
            v.type = Json::Type::Bool;
            v.b = true;
        } else if (lit("false")) {
            v.type = Json::Type::Bool;
        } else if (lit("null")) {
            v.type = Json::Type::Null;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const char* start = s.c_str() + i;
            char* end = nullptr;
            v.type = Json::Type::Number;
            v.num = std::strtod(start, &end);
            if (end == start)
                return false;
            i += static_cast<size_t>(end - start);
        } else {
            return false;
        }
        --depth;
        return ok;
    }
};

} // namespace

const Json* Json::get(const std::string& key) const {
    for (const auto& [k, v] : obj)
        if (k == key)
            return &v;
    return nullptr;
}

std::string Json::getString(const std::string& key) const {
    const Json* v = get(key);
    return v && v->type == Type::String ? v->str : std::string();
}

int64_t Json::getInt(const std::string& key, int64_t dflt) const {
    const Json* v = get(key);
    if (!v || v->type != Type::Number || v->num != v->num)
        return dflt;
    // Clamped: a cast of a value outside the range is undefined.
    if (v->num >= 9.2e18)
        return INT64_MAX;
    if (v->num <= -9.2e18)
        return INT64_MIN;
    return static_cast<int64_t>(v->num);
}

bool Json::getBool(const std::string& key) const {
    const Json* v = get(key);
    return v && v->type == Type::Bool && v->b;
}

XferView xferViewOf(const Json& m) {
    XferView x;
    x.word = m.getString("xfer");
    x.down = m.getString("down");
    x.up = m.getString("up");
    x.downBytes = m.getInt("downBytes", -1);
    x.upBytes = m.getInt("upBytes", -1);
    x.downKbps = m.getInt("downKbps", -1);
    x.upKbps = m.getInt("upKbps", -1);
    return x;
}

std::optional<Json> parseJson(const std::string& text) {
    Parser p{text};
    Json v;
    if (!p.value(v))
        return std::nullopt;
    p.ws();
    if (p.i != text.size())
        return std::nullopt;
    return v;
}

std::string jsonString(const std::string& s) {
    std::string out;
    out.reserve(s.size() + 2);
    appendJsonQuoted(out, s);
    return out;
}

} // namespace tv::cli
