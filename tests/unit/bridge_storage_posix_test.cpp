#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "base/paths.h"
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

// A process killed outright in the middle of a save: the snapshot on disk is
// the old one or the whole new one, never a mix. A large snapshot, in a loop.
TEST(SnapshotFilesPosix, KillDuringSaveLeavesAWholeSnapshot) {
    test::ScratchDir d;
    const std::string path = joinPath(d.str(), "big.json");
    const std::string old(16 << 20, 'o');
    const std::string next(16 << 20, 'n');
    ASSERT_TRUE(writeTextFile(path, old));
    std::mt19937 rng(7);
    for (int i = 0; i < 12; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;)
                writeTextFile(path, (i % 2 ? old : next));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 60000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::string now = d.get("big.json");
        ASSERT_TRUE(now == old || now == next) << "round " << i << ": " << now.size() << " bytes";
    }
}

} // namespace
} // namespace tv
