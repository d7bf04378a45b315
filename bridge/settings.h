// The page's settings, kept by the native side because the page stores
// nothing of its own: one small text file ("settings.ini") in the directory
// that holds the scans directory, so the history, which lists every *.json
// of the scans directory, never sees it. One "key=value" per line; today the
// only key is `lang`, the interface language. Runs on the UI thread only.
#pragma once

#include <string>
#include <string_view>

namespace tv {

inline constexpr std::string_view kSettingsFileName = "settings.ini";

// The interface languages the page knows; Russian is the default.
inline constexpr std::string_view kLangRu = "ru";
inline constexpr std::string_view kLangEn = "en";
bool isKnownLang(std::string_view lang);

// The language a settings text names; "" when it names none or an unknown one.
std::string langFromSettings(std::string_view text);

// The settings text that stores `lang`.
std::string settingsText(std::string_view lang);

// The settings file: beside the scans directory (scansPath()).
std::string settingsPath();

// The stored language; "" when the file is missing, unreadable or names none.
std::string storedLang();

// Stores a known language with the atomic writer; false for an unknown word
// or a failed write (an existing file then stays as it was).
bool storeLang(std::string_view lang);

// The hello message with the stored language appended as "lang" after its
// last key; without a stored language, the hello as buildHello gives it.
std::string buildHelloWithLang(std::string_view scansDir, std::string_view lang);

} // namespace tv
