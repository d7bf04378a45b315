#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "bridge/dispatcher.h"
#include "bridge/host_hooks.h"
#include "bridge/protocol.h"
#include "bridge/state.h"
#include "ui_recorder.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::logHasLine;
using test::UiRecorder;
using V = std::vector<std::string>;

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        scans = joinPath(dir.str(), "scans");
        setScansPath(scans);
        setHostHooks({});
    }
    void TearDown() override { setHostHooks({}); }

    V send(const std::string& command) {
        rec.clear();
        dispatchCommand(command);
        return rec.messages();
    }
    std::string files() const { return buildFiles(listSnapshotFilesHere()); }
    std::vector<FileEntry> listSnapshotFilesHere() const;

    test::ScratchDir dir;
    std::string scans;
    UiRecorder rec;
};

std::vector<FileEntry> Dispatcher::listSnapshotFilesHere() const {
    std::vector<FileEntry> out;
    if (!fs::exists(dir.at("scans")))
        return out;
    for (const auto& e : fs::directory_iterator(dir.at("scans")))
        if (e.is_regular_file()) {
            const auto u8 = e.path().filename().u8string();
            out.push_back({std::string(u8.begin(), u8.end()), e.file_size()});
        }
    return out;
}

TEST_F(Dispatcher, ReadyGreetsThenLists) {
    fs::create_directory(dir.at("scans"));
    dir.put("scans/a.json", "{}");
    const std::string hello = buildHello(scans);
    EXPECT_NE(hello.find("\"dir\":"), std::string::npos);
    const V once = send("ready");
    ASSERT_EQ(once.size(), 2u);
    EXPECT_EQ(once[0], hello);
    EXPECT_EQ(once[1], R"({"t":"files","list":[{"name":"a.json","size":2}]})");
    dispatchCommand("ready");
    EXPECT_EQ(rec.messages(), (V{hello, once[1], hello, once[1]}));
}

TEST_F(Dispatcher, UnknownNamesAndShortCommandsAreIgnored) {
    for (const char* c : {"List", "LIST", "bogus", "", "open", "scan\t1\tdomains\t500\t4\t1",
                          "basics\t1", "save\tx.json", "load", "delete", "copy", " ready",
                          "ready "}) {
        EXPECT_TRUE(send(c).empty()) << c;
        EXPECT_FALSE(busyFlag().load()) << c;
    }
    EXPECT_FALSE(fs::exists(dir.at("scans/x.json")));
}

TEST_F(Dispatcher, ExtraFieldsAreIgnored) {
    EXPECT_EQ(send("list\tmore\t\tfields"), V{R"({"t":"files","list":[]})"});
    const V r = send("ready\tx");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(UiRecorder::kindOf(r[0]), "hello");
}

TEST_F(Dispatcher, SaveWritesTheRestOfTheCommandAndLists) {
    const V r = send("save\tscan_1_Тест.json\t{\"a\":\"x\ty\"}\tz\n");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], R"({"t":"saved","name":"scan_1_Тест.json"})");
    EXPECT_EQ(dir.get("scans/scan_1_Тест.json"), "{\"a\":\"x\ty\"}\tz\n");
    EXPECT_EQ(r[1], files());
    EXPECT_TRUE(logHasLine("Снимок сохранён: scan_1_Тест.json"));
    // An empty text is a valid snapshot of zero bytes.
    EXPECT_EQ(send("save\tempty.json\t")[0], R"({"t":"saved","name":"empty.json"})");
    EXPECT_EQ(fs::file_size(dir.at("scans/empty.json")), 0u);
}

TEST_F(Dispatcher, SaveRefusesBadNamesAndReportsWriteFailures) {
    for (const char* c : {"save\t../x.json\tt", "save\ta b.json\tt", "save\tx/y.json\tt",
                          "save\t\tt", "save\t..\tt"})
        EXPECT_EQ(send(c), V{R"({"t":"msg","text":"Недопустимое имя файла"})"}) << c;
    EXPECT_FALSE(fs::exists(dir.at("x.json")));
    EXPECT_FALSE(fs::exists(dir.at("scans/y.json")));
    // "." passes the rule but names the directory itself.
    EXPECT_EQ(send("save\t.\tt"), V{R"({"t":"msg","text":"Не удалось записать файл"})"});
    // A directory in the file's place: no `saved`, no list.
    fs::create_directories(dir.at("scans/d.json"));
    EXPECT_EQ(send("save\td.json\tt"), V{R"({"t":"msg","text":"Не удалось записать файл"})"});
}

TEST_F(Dispatcher, LoadAnswersFileOrReadNotice) {
    fs::create_directory(dir.at("scans"));
    dir.put("scans/s.json", "{\"v\":\"Тест\"}\r\n");
    dir.put("scans/notes.txt", "n");
    EXPECT_EQ(send("load\ts.json"),
              V{R"({"t":"file","name":"s.json","data":"{\"v\":\"Тест\"}\r\n"})"});
    EXPECT_EQ(send("load\tnotes.txt\tignored"), V{R"({"t":"file","name":"notes.txt","data":"n"})"});
    EXPECT_EQ(send("load\tmissing.json"),
              V{R"({"t":"msg","text":"Не удалось прочитать файл missing.json"})"});
    EXPECT_EQ(send("load\t.."), V{R"({"t":"msg","text":"Не удалось прочитать файл .."})"});
    EXPECT_EQ(send("load\t."), V{R"({"t":"msg","text":"Не удалось прочитать файл ."})"});
    EXPECT_EQ(send("load\t"), V{R"({"t":"msg","text":"Не удалось прочитать файл "})"});
    // The name is echoed, made safe for JSON.
    EXPECT_EQ(send("load\t../a\"b"),
              V{R"({"t":"msg","text":"Не удалось прочитать файл ../a\"b"})"});
}

TEST_F(Dispatcher, DeleteAlwaysAnswersWithTheList) {
    fs::create_directory(dir.at("scans"));
    dir.put("scans/a.json", "1");
    dir.put("scans/b.json", "22");
    dir.put("outside.json", "x");
    EXPECT_EQ(send("delete\ta.json"), V{R"({"t":"files","list":[{"name":"b.json","size":2}]})"});
    EXPECT_FALSE(fs::exists(dir.at("scans/a.json")));
    EXPECT_EQ(send("delete\tmissing.json"), V{files()});
    EXPECT_EQ(send("delete\t../outside.json"), V{files()});
    EXPECT_TRUE(fs::exists(dir.at("outside.json")));
}

TEST_F(Dispatcher, CopyReportsWhetherTheClipboardTookTheText) {
    const std::string ok = R"({"t":"msg","text":"Скопировано в буфер обмена"})";
    const std::string failed = R"({"t":"msg","text":"Не удалось скопировать в буфер обмена"})";
    EXPECT_EQ(send("copy\treport"), V{failed}); // no clipboard at all
    std::string got;
    setHostHooks({[&](const std::string& t) {
                      got = t;
                      return false;
                  },
                  {}});
    EXPECT_EQ(send("copy\tx"), V{failed});
    setHostHooks({[&](const std::string& t) {
                      got = t;
                      return true;
                  },
                  {}});
    EXPECT_EQ(send("copy\tline1\nline2\tcol\t"), V{ok});
    EXPECT_EQ(got, "line1\nline2\tcol\t"); // LF kept, TABs restored
    EXPECT_EQ(send("copy\t\xD0"), V{ok});
    EXPECT_EQ(got, "\xEF\xBF\xBD");
}

TEST_F(Dispatcher, OpenFolderRecreatesTheDirectoryAndPostsNothing) {
    std::vector<std::string> opened;
    setHostHooks({{}, [&](const std::string& p) { opened.push_back(p); }});
    EXPECT_FALSE(fs::exists(dir.at("scans")));
    EXPECT_TRUE(send("openfolder").empty());
    EXPECT_TRUE(fs::is_directory(dir.at("scans")));
    EXPECT_EQ(opened, V{scans});
    setHostHooks({});
    fs::remove_all(dir.at("scans"));
    EXPECT_TRUE(send("openfolder\textra").empty());
    EXPECT_TRUE(fs::is_directory(dir.at("scans")));
}

TEST_F(Dispatcher, CancelOnlySetsTheFlagAndLogs) {
    cancelFlag().store(false);
    EXPECT_TRUE(send("cancel").empty());
    EXPECT_TRUE(cancelFlag().load());
    EXPECT_TRUE(logHasLine("Скан отменён пользователем"));
    cancelFlag().store(false);
}

} // namespace
} // namespace tv
