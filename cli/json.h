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

    const Json* get(const std::string& key) const;
    std::string getString(const std::string& key) const; // "" when absent or not a string
    int64_t getInt(const std::string& key, int64_t dflt = 0) const;
    bool getBool(const std::string& key) const;
};

std::optional<Json> parseJson(const std::string& text);

// A JSON string literal for `s` (escapes as the native UI messages do).
std::string jsonString(const std::string& s);

} // namespace tv::cli
