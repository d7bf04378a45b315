#include "bridge/settings.h"

#include "base/paths.h"
#include "bridge/protocol.h"
#include "bridge/state.h"
#include "bridge/storage.h"

namespace tv {
namespace {

constexpr std::string_view kLangKey = "lang";

} // namespace

bool isKnownLang(std::string_view lang) {
    return lang == kLangRu || lang == kLangEn;
}

std::string langFromSettings(std::string_view text) {
    std::string lang;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = trimWhiteSpace(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || trimWhiteSpace(line.substr(0, eq)) != kLangKey)
            continue;
        const std::string_view value = trimWhiteSpace(line.substr(eq + 1));
        // The last line with the key counts, as in any "key=value" file.
        lang = isKnownLang(value) ? std::string(value) : std::string();
    }
    return lang;
}

std::string settingsText(std::string_view lang) {
    std::string s(kLangKey);
    s += '=';
    s += lang;
    s += '\n';
    return s;
}

std::string settingsPath() {
    // The scans path cut before its last separator: the program's data directory.
    return joinPath(exeDirFromModulePath(scansPath()), kSettingsFileName);
}

std::string storedLang() {
    std::string text;
    if (!readTextFile(settingsPath(), text))
        return {};
    return langFromSettings(text);
}

bool storeLang(std::string_view lang) {
    if (!isKnownLang(lang))
        return false;
    makeDir(exeDirFromModulePath(scansPath()));
    return writeTextFile(settingsPath(), settingsText(lang));
}

std::string buildHelloWithLang(std::string_view scansDir, std::string_view lang) {
    std::string hello = buildHello(scansDir);
    if (lang.empty())
        return hello;
    hello.pop_back(); // the closing brace
    hello += ",\"lang\":";
    hello += jsonQuote(lang);
    hello += '}';
    return hello;
}

} // namespace tv
