#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include "app/paths.h"
#include "bridge/storage.h"
#include "ui_recorder.h"

namespace tv {
namespace {

// A write that runs out of room (here: the process's file size limit, which
// holds for root too) must leave the snapshot it was replacing intact.
TEST(SnapshotFilesPosix, FailedReplaceKeepsTheOldSnapshot) {
    test::ScratchDir d;
    const std::string path = joinPath(d.str(), "keep.json");
    const std::string old = "{\"old\":true}";
    ASSERT_TRUE(writeTextFile(path, old));

    struct sigaction ign {}, prev {};
    ign.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ign, &prev), 0);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool wrote = writeTextFile(path, std::string(100000, 'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &prev, nullptr);

    EXPECT_FALSE(wrote);
    EXPECT_EQ(d.get("keep.json"), old);
    // The partial temporary file is gone too.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()),
                            std::filesystem::directory_iterator()),
              1);
}

} // namespace
} // namespace tv
