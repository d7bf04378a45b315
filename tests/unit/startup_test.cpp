#include <gtest/gtest.h>

#include "base/paths.h"
#include "app/host.h"
#include "app/startup.h"

namespace tv {
namespace {

TEST(Switches, BothSwitchesAnywhereInTheCommandLine) {
    const std::string cmd = "C:\\Tools\\tarnveil.exe --cdp --selftest";
    EXPECT_TRUE(switchInCommandLine(cmd, kSwitchSelftest));
    EXPECT_TRUE(switchInCommandLine(cmd, kSwitchCdp));
    EXPECT_FALSE(switchInCommandLine("tarnveil.exe", kSwitchSelftest));
}

TEST(Switches, LetterCaseMatters) {
    EXPECT_FALSE(switchInCommandLine("tarnveil.exe --SelfTest", kSwitchSelftest));
    EXPECT_FALSE(switchInCommandLine("tarnveil.exe --CDP", kSwitchCdp));
}

TEST(Switches, InsideALongerArgumentOrTheProgramPath) {
    EXPECT_TRUE(switchInCommandLine("tarnveil.exe x--selftesty", kSwitchSelftest));
    EXPECT_TRUE(switchInCommandLine("/opt/--cdp/tarnveil", kSwitchCdp));
    EXPECT_TRUE(switchInCommandLine("\"C:\\a --selftest b\\tarnveil.exe\"", kSwitchSelftest));
}

TEST(ExecutableDir, CutBeforeTheLastSlashOfEitherKind) {
    EXPECT_EQ(exeDirFromModulePath("C:\\Program Files\\Tarnveil\\tarnveil.exe"),
              "C:\\Program Files\\Tarnveil");
    EXPECT_EQ(exeDirFromModulePath("/usr/local/bin/tarnveil"), "/usr/local/bin");
    EXPECT_EQ(exeDirFromModulePath("C:\\mixed/dir\\tarnveil.exe"), "C:\\mixed/dir");
    EXPECT_EQ(exeDirFromModulePath("C:/a\\b/tarnveil.exe"), "C:/a\\b");
}

TEST(ExecutableDir, NoSeparatorGivesTheCurrentDirectory) {
    EXPECT_EQ(exeDirFromModulePath("tarnveil.exe"), ".");
    EXPECT_EQ(exeDirFromModulePath(""), ".");
}

TEST(ExecutableDir, RootDirectoryCutsToEmpty) {
    // "/tarnveil" lies in the root: the directory text before the slash is empty.
    EXPECT_EQ(exeDirFromModulePath("/tarnveil"), "");
}

TEST(DataDir, WritableExecutableDirectoryWins) {
    EXPECT_EQ(chooseDataDir("/opt/t", true, "/x", "/home/u"), "/opt/t");
}

TEST(DataDir, FallsBackToXdgThenHome) {
    EXPECT_EQ(chooseDataDir("/usr/bin", false, "/x/data", "/home/u"), "/x/data/tarnveil");
    EXPECT_EQ(chooseDataDir("/usr/bin", false, "", "/home/u"), "/home/u/.local/share/tarnveil");
    EXPECT_EQ(chooseDataDir("/usr/bin", false, nullptr, "/home/u"),
              "/home/u/.local/share/tarnveil");
    EXPECT_EQ(chooseDataDir("/usr/bin", false, nullptr, nullptr), "/usr/bin");
}

} // namespace
} // namespace tv

namespace tv {

TEST(StartupBoxes, RussianAsBeforeEnglishWhenStored) {
    for (const StartupBox b :
         {StartupBox::runtimeMissing, StartupBox::profileBusy, StartupBox::engineMissing}) {
        const std::string en(startupBoxText(b, true));
        EXPECT_EQ(en.find_first_of("\xD0\xD1"), std::string::npos) << en;
        EXPECT_NE(std::string(startupBoxText(b)).find_first_of("\xD0\xD1"), std::string::npos);
    }
    EXPECT_EQ(startupBoxText(StartupBox::engineMissing),
              "Не удалось запустить WebKitGTK.\nУстанови WebKitGTK (пакет libwebkit2gtk-4.1-0).");
}

} // namespace tv
