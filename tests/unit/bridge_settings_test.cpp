#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/paths.h"
#include "bridge/dispatcher.h"
#include "bridge/host_hooks.h"
#include "bridge/protocol.h"
#include "bridge/settings.h"
#include "bridge/state.h"
#include "ui_recorder.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::UiRecorder;
using V = std::vector<std::string>;

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        scans = joinPath(dir.str(), "scans");
        setScansPath(scans);
        setHostHooks({});
    }

    V send(const std::string& command) {
        rec.clear();
        dispatchCommand(command);
        return rec.messages();
    }
    std::string hello() {
        const V r = send("ready");
        return r.empty() ? std::string() : r[0];
    }

    test::ScratchDir dir;
    std::string scans;
    UiRecorder rec;
};

// The choice lands beside the scans directory, not in it (the history lists
// every *.json there), and the next start's hello carries it.
TEST_F(Settings, StoredLanguageComesBackInTheHello) {
    EXPECT_EQ(hello(), buildHello(scans));
    EXPECT_TRUE(send("lang\ten").empty());
    EXPECT_EQ(dir.get("settings.ini"), "lang=en\n");
    EXPECT_FALSE(fs::exists(dir.at("scans/settings.ini")));
    const V r = send("ready");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], buildHello(scans).substr(0, buildHello(scans).size() - 1) + R"(,"lang":"en"})");
    EXPECT_EQ(r[1], R"({"t":"files","list":[]})");
    send("lang\tru");
    EXPECT_NE(hello().find(R"(,"lang":"ru"})"), std::string::npos);
}

// Anything but a known word, in the file or in the command, reads as no
// stored language: the page stays Russian.
TEST_F(Settings, GarbageReadsAsTheDefault) {
    for (const char* text : {"", "lang=de\n", "lang\n", "\x01\xff\xfe garbage", "{\"lang\":\"en\"}",
                             "language=en\n", "lang=en_US\n", "lang=EN\n"}) {
        dir.put("settings.ini", text);
        EXPECT_EQ(hello(), buildHello(scans)) << text;
    }
    dir.put("settings.ini", "# comment\r\n x = 1 \r\n lang = en \r\n");
    EXPECT_EQ(storedLang(), "en");
    // An unknown word or a missing one is ignored and changes nothing.
    for (const char* c : {"lang\tde", "lang\t", "lang\tEN", "lang"})
        EXPECT_TRUE(send(c).empty()) << c;
    EXPECT_EQ(dir.get("settings.ini"), "# comment\r\n x = 1 \r\n lang = en \r\n");
}

TEST_F(Settings, FailedWriteIsReportedAndKeepsNothingHalfWritten) {
    fs::create_directory(dir.at("settings.ini"));
    EXPECT_EQ(send("lang\ten"), V{R"({"t":"msg","text":"Не удалось сохранить настройки"})"});
    EXPECT_TRUE(fs::is_directory(dir.at("settings.ini")));
    EXPECT_EQ(hello(), buildHello(scans));
}

} // namespace
} // namespace tv
