#include <gtest/gtest.h>

#include "base/text.h"

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

TEST(Text, PrintableShowsControlsAndNeutralisesBidi) {
    EXPECT_EQ(toPrintable("Тест ok.lab.test \xF0\x9F\x98\x80"), "Тест ok.lab.test \xF0\x9F\x98\x80");
    EXPECT_EQ(toPrintable("a\x1b[2J\x1b]0;x\x07\tb\x7f"), "a\\x1b[2J\\x1b]0;x\\x07\\x09b\\x7f");
    EXPECT_EQ(toPrintable(std::string_view("n\0z", 3)), "n\\x00z");
    // C1 controls (CSI U+009B) and the bidi controls at both ends of their ranges.
    EXPECT_EQ(toPrintable("\xC2\x80\xC2\x9B\xC2\x9F\xC2\xA0"), "\\u0080\\u009b\\u009f\xC2\xA0");
    EXPECT_EQ(toPrintable("\xE2\x80\xAA\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\xAF\xE2\x81\xA5"),
              "\\u202a\\u202e\\u2066\\u2069\xE2\x80\xAF\xE2\x81\xA5");
    // Ill-formed bytes (also a raw C1 byte) become U+FFFD; the result is a fixed point.
    EXPECT_EQ(toPrintable("\x9b" "2J"), "\xEF\xBF\xBD" "2J");
    const std::string once = toPrintable("x\x1b\xE2\x80\xAEy");
    EXPECT_EQ(toPrintable(once), once);
}

TEST(Text, UntilNul) {
    EXPECT_EQ(untilNul(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(untilNul(""), "");
}

} // namespace
} // namespace tv
