#include <gtest/gtest.h>

#include "probe/text.h"

namespace tv {
namespace {

TEST(Text, ValidUtf8PassesUnchanged) {
    const std::string s = "Скан #1 — ok ✓ \xF0\x9F\x98\x80";
    EXPECT_EQ(toValidUtf8(s), s);
}

TEST(Text, IllFormedSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(toValidUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    // A truncated three-byte sequence is one maximal subpart: one U+FFFD.
    EXPECT_EQ(toValidUtf8("\xE2\x82"), "\xEF\xBF\xBD");
    // Overlong encodings and encoded surrogates are rejected.
    EXPECT_EQ(toValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(toValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, Utf16RoundTripAndUnpairedSurrogates) {
    const std::string s = "Тест \xF0\x9F\x98\x80 z";
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(s)), s);
    EXPECT_EQ(utf8ToUtf16("Я").size(), 1u);
    EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98\x80").size(), 2u);
    const std::u16string lone = {u'a', char16_t(0xD800), u'b'};
    EXPECT_EQ(utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b");
}

TEST(Text, UntilNul) {
    EXPECT_EQ(untilNul(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(untilNul(""), "");
}

} // namespace
} // namespace tv
