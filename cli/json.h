// A small JSON reader for the front: UI messages, the IP-information body and
// shared test vectors. Strict enough for well-formed input; malformed input
// gives nullopt, never a crash.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tv::cli {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool b = false;
    double num = 0;
    std::string str;
    std::vector<Json> arr;
    std::vector<std::pair<std::string, Json>> obj; // in document order

    // Out of line: the members hold Json itself, complete only after the
    // class (clang's library checks insist).
    Json();
    Json(const Json&);
    Json(Json&&) noexcept;
    Json& operator=(const Json&);
    Json& operator=(Json&&) noexcept;
    ~Json();

    const Json* get(const std::string& key) const;
    std::string getString(const std::string& key) const; // "" when absent or not a string
    int64_t getInt(const std::string& key, int64_t dflt = 0) const;
    bool getBool(const std::string& key) const;
};

std::optional<Json> parseJson(const std::string& text);

// The transfer-test keys of a res message or a snapshot entry.
struct XferView;
XferView xferViewOf(const Json& m);

// A JSON string literal for `s` (escapes as the native UI messages do).
std::string jsonString(const std::string& s);

} // namespace tv::cli
