#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/paths.h"
#include "bridge/storage.h"
#include "base/text.h"
#include "ui_recorder.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

std::string utf8Of(char32_t cp) {
    std::u16string u;
    if (cp >= 0x10000) {
        u += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        u += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        u += static_cast<char16_t>(cp);
    }
    return utf16ToUtf8(u);
}

// ---- the name rule -----------------------------------------------------------

TEST(SnapshotName, LengthCountsUtf16CodeUnits) {
    EXPECT_FALSE(isValidSnapshotName(""));
    EXPECT_TRUE(isValidSnapshotName(std::string(120, 'a')));
    EXPECT_FALSE(isValidSnapshotName(std::string(121, 'a')));
    // Cyrillic letters are one code unit (two bytes) each.
    std::string cyr120;
    for (int i = 0; i < 120; ++i)
        cyr120 += "ж";
    EXPECT_TRUE(isValidSnapshotName(cyr120));
    EXPECT_FALSE(isValidSnapshotName(cyr120 + "ж"));
    // A character outside the BMP is two code units and no letter of the rule.
    EXPECT_FALSE(isValidSnapshotName(std::string("a").append(utf8Of(0x1D400)))); // MATHEMATICAL BOLD CAPITAL A
}

TEST(SnapshotName, AcceptsLettersDigitsAndThreeMarks) {
    for (const char* ok : {"scan_20250101_120000_Тест.json", ".json", "-", ".", "notes.txt",
                           "A.JSON", "Ωμέγα-2.json", "快照.json", "snap٣.json", "Àÿªºµ²³¹.json"})
        EXPECT_TRUE(isValidSnapshotName(ok)) << ok;
    for (const char* bad : {"scan 1.json", "a/b.json", "a\\b.json", "c:x.json", "a..b.json", "..",
                            "../x.json", "x/y.json", "a\"b", "a\tb", "a\nb", "a*b", "a~b",
                            "a\xC2\xA0" "b", "a\xE2\x80\x8B" "b", "x\xC3\x97y", "x\xC3\xB7y",
                            "\xC2\xA9", "a\x80" "b", "e\xCC\x81"})
        EXPECT_FALSE(isValidSnapshotName(bad)) << bad;
}

TEST(SnapshotName, LatinOneTableOfTheCLocale) {
    int count = 0;
    for (char16_t u = 0; u < 0x100; ++u)
        count += isNameLetterOrDigit(u) ? 1 : 0;
    EXPECT_EQ(count, 130);
    for (char16_t u : {u'\u00AA', u'\u00B2', u'\u00B3', u'\u00B5', u'\u00B9', u'\u00BA', u'\u00C0',
                       u'\u00D6', u'\u00D8', u'\u00F6', u'\u00F8', u'\u00FF'})
        EXPECT_TRUE(isNameLetterOrDigit(u)) << static_cast<int>(u);
    for (char16_t u : {u'\u00A0', u'\u00A9', u'\u00B7', u'\u00BC', u'\u00BF', u'\u00D7',
                       u'\u00F7', u'\u007F', u'_'})
        EXPECT_FALSE(isNameLetterOrDigit(u)) << static_cast<int>(u);
}

TEST(SnapshotName, ScriptsAboveLatinOne) {
    // Letters and decimal digits of other scripts.
    for (char16_t u : {u'Ж', u'ё', u'Ѐ', u'ӿ', u'Ω', u'ά', u'中', u'ぁ', u'한', u'\u0660', u'\u0669',
                       u'\u06F5', u'\u0966', u'\uFF10', u'\uFF21', u'\u0100', u'\u02C1'})
        EXPECT_TRUE(isNameLetterOrDigit(u)) << static_cast<int>(u);
    // Marks, punctuation, symbols, spaces and surrogates are not.
    for (char16_t u : {u'\u0301', u'\u0482', u'\u060C', u'\u2014', u'\u2116', u'\u3000',
                       u'\u3001', u'\uFEFF', u'\uFFFD', static_cast<char16_t>(0xD800), static_cast<char16_t>(0xDFFF), u'\u02C2'})
        EXPECT_FALSE(isNameLetterOrDigit(u)) << static_cast<int>(u);
}

// ---- files ------------------------------------------------------------------

TEST(SnapshotFiles, WriteReadRoundTripInUtf8) {
    ScratchDir d;
    const std::string path = joinPath(d.str(), "t.json");
    const std::string text = "{\"label\":\"Тест\"}\n\ttab";
    ASSERT_TRUE(writeTextFile(path, text));
    EXPECT_EQ(d.get("t.json"), text);
    std::string back;
    ASSERT_TRUE(readTextFile(path, back));
    EXPECT_EQ(back, text);
    // Listed size counts UTF-8 bytes: two per Cyrillic letter.
    const auto list = listSnapshotFiles(d.str());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].size, text.size());
    EXPECT_EQ(text.size(), 25u);
}

TEST(SnapshotFiles, WriteReplacesAndLeavesNoTemporaryFile) {
    ScratchDir d;
    const std::string path = joinPath(d.str(), "r.json");
    ASSERT_TRUE(writeTextFile(path, std::string(1000, 'x')));
    ASSERT_TRUE(writeTextFile(path, "short"));
    EXPECT_EQ(d.get("r.json"), "short");
    ASSERT_TRUE(writeTextFile(path, ""));
    EXPECT_EQ(fs::file_size(d.at("r.json")), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path()), fs::directory_iterator()), 1);
}

TEST(SnapshotFiles, WriteRepairsIllFormedText) {
    ScratchDir d;
    ASSERT_TRUE(writeTextFile(joinPath(d.str(), "b.json"), "a\xFF" "b"));
    EXPECT_EQ(d.get("b.json"), "a\xEF\xBF\xBD" "b");
}

TEST(SnapshotFiles, WriteFailuresAreReportedAndLeaveNothing) {
    ScratchDir d;
    // The directory itself, and a file in a missing directory.
    EXPECT_FALSE(writeTextFile(joinPath(d.str(), "."), "x"));
    EXPECT_FALSE(writeTextFile(joinPath(d.str(), "missing") + "/x.json", "x"));
    fs::create_directory(d.at("sub.json"));
    EXPECT_FALSE(writeTextFile(joinPath(d.str(), "sub.json"), "x"));
    EXPECT_TRUE(fs::is_directory(d.at("sub.json")));
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path()), fs::directory_iterator()), 1);
}

TEST(SnapshotFiles, ReadKeepsByteOrderMarkAndRepairs) {
    ScratchDir d;
    d.put("bom.json", "\xEF\xBB\xBF{}");
    d.put("bad.json", "\xC3(\xF0\x9F");
    d.put("empty.json", "");
    std::string text = "stale";
    ASSERT_TRUE(readTextFile(joinPath(d.str(), "bom.json"), text));
    EXPECT_EQ(text, "\xEF\xBB\xBF{}");
    ASSERT_TRUE(readTextFile(joinPath(d.str(), "bad.json"), text));
    EXPECT_EQ(text, "\xEF\xBF\xBD(\xEF\xBF\xBD");
    ASSERT_TRUE(readTextFile(joinPath(d.str(), "empty.json"), text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(readTextFile(joinPath(d.str(), "missing.json"), text));
    EXPECT_FALSE(readTextFile(joinPath(d.str(), "."), text));
}

TEST(SnapshotFiles, SizeBoundIsThirtyTwoMebibytesInclusive) {
    ScratchDir d;
    // Sparse files: created at once, read back as zeros.
    for (const auto& [name, size] : {std::pair{"exact.json", kMaxReadBytes},
                                     std::pair{"over.json", kMaxReadBytes + 1},
                                     std::pair{"big.json", uint64_t{40000000}}}) {
        std::ofstream(d.at(name), std::ios::binary).close();
        fs::resize_file(d.at(name), size);
    }
    std::string text;
    ASSERT_TRUE(readTextFile(joinPath(d.str(), "exact.json"), text));
    EXPECT_EQ(text.size(), 33554432u);
    EXPECT_FALSE(readTextFile(joinPath(d.str(), "over.json"), text));
    EXPECT_FALSE(readTextFile(joinPath(d.str(), "big.json"), text));
    auto list = listSnapshotFiles(d.str());
    std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "big.json");
    EXPECT_EQ(list[0].size, 40000000u);
}

TEST(SnapshotFiles, ListingMatchesJsonInAnyCaseAndSkipsDirectories) {
    ScratchDir d;
    d.put("A.JSON", "{}");
    d.put("b.Json", "");
    d.put("снимок.json", "ё");
    d.put("notes.txt", "x");
    d.put("x.json.bak", "x");
    d.put("json", "x");
    d.put("r.json.tmp~", "x");
    fs::create_directory(d.at("x.json"));
    d.put("x.json/inner.json", "nested");
    auto list = listSnapshotFiles(d.str());
    std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "A.JSON");
    EXPECT_EQ(list[0].size, 2u);
    EXPECT_EQ(list[1].name, "b.Json");
    EXPECT_EQ(list[1].size, 0u);
    EXPECT_EQ(list[2].name, "снимок.json");
    EXPECT_EQ(list[2].size, 2u);
    EXPECT_TRUE(listSnapshotFiles(joinPath(d.str(), "missing")).empty());
}

TEST(SnapshotFiles, DeleteRemovesFilesOnly) {
    ScratchDir d;
    d.put("a.json", "x");
    EXPECT_TRUE(deleteFile(joinPath(d.str(), "a.json")));
    EXPECT_FALSE(fs::exists(d.at("a.json")));
    EXPECT_FALSE(deleteFile(joinPath(d.str(), "a.json")));
    fs::create_directory(d.at("dir.json"));
    EXPECT_FALSE(deleteFile(joinPath(d.str(), "dir.json")));
    EXPECT_TRUE(fs::is_directory(d.at("dir.json")));
}

} // namespace
} // namespace tv
