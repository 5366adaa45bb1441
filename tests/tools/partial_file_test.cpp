// An output written partial and renamed: whole or not at all, an earlier
// file kept until the new one is whole; and a tool that runs out of memory
// ends with one line and its temporaries removed, not an abort.
#include "common/interruption.h"
#include "common/partial_file.h"
#include "common/temporary_paths.h"

#include "scratch_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

namespace kestrune {
namespace {

namespace fs = std::filesystem;

using testing_files::text;

fs::path scratch(const std::string &name) {
    return testing_files::scratch("kestrune-partial-test", name);
}

TEST(PartialFile, ReplacesTheEarlierFileOnlyWhenCommitted) {
    const fs::path folder = scratch("commit");
    const std::string path = (folder / "out.csv").string();
    ASSERT_EQ(writeWholeFile(path, "earlier\n"), "");
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "committed" : "dropped");
        {
            PartialFile partial(path);
            std::ofstream(partial.path()) << "new\n";
            EXPECT_EQ(text(path), "earlier\n");
            if (commit) {
                EXPECT_EQ(partial.commit(), "");
            }
        }
        EXPECT_EQ(text(path), commit ? "new\n" : "earlier\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    }
    // Kept (a failed run's rows up to its failure): it stays, and the
    // interruption's cleanup no longer removes it.
    PartialFile kept(path);
    std::ofstream(kept.path()) << "rows\n";
    kept.keep();
    removeRememberedTemporaries();
    EXPECT_EQ(text(kept.path()), "rows\n");
    // A folder that is gone: the failure says which file.
    EXPECT_NE(writeWholeFile((folder / "gone" / "x.json").string(), "{}").find("x.json"), std::string::npos);
}

TEST(PartialFileDeathTest, RunningOutOfMemoryEndsWithOneLineAndNoTemporaries) {
    const fs::path folder = scratch("memory");
    const std::string path = (folder / "out.csv").string();
    EXPECT_EXIT(
        {
            watchForInterruption("kestrune-test");
            setInterruptedWork("running load_step.ssp");
            runGuarded([&]() -> int {
                PartialFile partial(path);
                std::ofstream(partial.path()) << "rows\n";
                rememberTemporary((folder / "kestrune-fmu-x").string());
                fs::create_directories(folder / "kestrune-fmu-x");
                throw std::bad_alloc();
            });
        },
        testing::ExitedWithCode(EXIT_UNEXPECTED),
        "^kestrune-test: out of memory while running load_step.ssp; its temporary files are removed\n$");
    EXPECT_TRUE(fs::is_empty(folder));
}

} // namespace
} // namespace kestrune
