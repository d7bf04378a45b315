// The front's two languages. The front and its rules write Russian (the
// rules' words are checked against the page's in tests/vectors); in English
// every line on its way out passes through one table of Russian phrases and
// their English forms, the native side's texts included. --json output is
// never translated.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tv::cli {

enum class Lang { Ru, En };

void setLanguage(Lang lang);
Lang language();

// "ru" / "en"; nothing for another word.
std::optional<Lang> parseLang(std::string_view word);

// The language a locale name stands for: Russian for "ru…", for "C",
// "POSIX", "C.UTF-8" and an empty name (Russian is the default); English for
// any other language.
Lang langOfLocale(std::string_view locale);

// A text of the front in the chosen language: unchanged in Russian; in
// English every phrase of the table replaced, longest first.
std::string shownText(std::string_view text);

// For tests: the text in English, whatever the chosen language.
std::string englishText(std::string_view text);

} // namespace tv::cli
