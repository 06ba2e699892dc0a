#include "app/ordered_run.h"
#include "app/output_names.h"
#include "pictures/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> runAndCollect(OrderedRun run, int* workers = nullptr)
{
    std::vector<std::string> order;
    auto emit = run.emit;
    run.emit = [&](std::size_t i) {
        order.push_back(std::to_string(i));
        return emit ? emit(i) : true;
    };
    const int started = runOrdered(run);
    if (workers) *workers = started;
    return order;
}

}  // namespace

TEST(OrderedRun, EmitsInOrderWhateverOrderTasksFinishIn)
{
    OrderedRun run;
    run.tasks = 40;
    run.threads = 3;
    run.run = [](std::size_t i, bool) {
        std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 13 * 100));
        return TaskEnd::done;
    };
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(runAndCollect(run), expected);

    // Emit refuses task 5: nothing after it is emitted, and the run ends.
    run.emit = [](std::size_t i) { return i != 5; };
    expected.resize(6);
    EXPECT_EQ(runAndCollect(run), expected);
}

TEST(OrderedRun, GoesOnWithTheThreadsThatStarted)
{
    OrderedRun run;
    run.tasks = 10;
    run.threads = 8;
    int starts = 0;
    run.startThread = [&](std::function<void()> body) {
        if (++starts > 2) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(body));
    };
    std::atomic<int> ran{0};
    run.run = [&](std::size_t, bool) {
        ++ran;
        return TaskEnd::done;
    };
    int workers = 0;
    EXPECT_EQ(runAndCollect(run, &workers).size(), 10u);
    EXPECT_EQ(workers, 3);
    EXPECT_EQ(ran, 10);
}

TEST(OrderedRun, ATaskOutOfMemoryRunsAgainAlone)
{
    // A task fails for memory whenever another runs beside it, as large
    // pictures do under a memory limit.
    OrderedRun run;
    run.tasks = 12;
    run.threads = 3;
    std::atomic<int> running{0}, retries{0};
    std::vector<int> ranAlone(12, 0);
    run.run = [&](std::size_t i, bool alone) {
        const int beside = running++;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const bool crowded = beside > 0 || running > 1;
        --running;
        if (alone) {
            ++retries;
            ranAlone[i] = crowded ? -1 : 1;
            return TaskEnd::done;
        }
        return i % 3 == 0 || crowded ? TaskEnd::outOfMemory : TaskEnd::done;
    };
    EXPECT_EQ(runAndCollect(run).size(), 12u);
    EXPECT_GE(retries, 4);
    for (int i = 0; i < 12; i += 3) EXPECT_EQ(ranAlone[i], 1) << "task " << i;
    EXPECT_EQ(std::count(ranAlone.begin(), ranAlone.end(), -1), 0);
}

TEST(DistinctStems, KeepPlainNamesAndTellSharedOnesApart)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(distinctStems({"a/x.bmp", "b/y.bmp", "z"}), (V{"x", "y", "z"}));
    EXPECT_EQ(distinctStems({"d1/x.bmp", "d2/x.bmp"}), (V{"d1_x", "d2_x"}));
    EXPECT_EQ(distinctStems({"/p/a/s/x.bmp", "/p/b/s/x.bmp", "/q/b/t/x.bmp"}), (V{"a_s_x", "b_s_x", "t_x"}));
    EXPECT_EQ(distinctStems({"d/x.bmp", "./d/../d/x.bmp", "d/x.png"}), (V{"x", "x-2", "x-3"}));
    // A made-up name that is another input's own is numbered, not shared.
    const V clash = distinctStems({"/a/d1_x.bmp", "/b/d1/x.bmp", "/b/d2/x.bmp", "/c/d1_x-2.bmp"});
    EXPECT_EQ(std::set<std::string>(clash.begin(), clash.end()).size(), clash.size());
    // An input named as a page of another input's stack ("stack.tif" page 1
    // is stack#1) keeps out of its way.
    EXPECT_EQ(distinctStems({"stack.tif", "stack#1.pgm", "a#b.pgm", "x#.pgm"}), (V{"stack", "stack#1_", "a#b", "x#"}));
}

TEST(Files, WritingReplacesWholeOrNotAtAll)
{
    char folder[] = "/tmp/orvane-files-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder, target = dir + "/out.txt", link = dir + "/link.txt";
    writeFileAtomically(target, "first");
    chmod(target.c_str(), 0640);
    ASSERT_EQ(symlink("out.txt", link.c_str()), 0);
    writeFileAtomically(link, "second");
    EXPECT_EQ(readWholeFile(target, 100, "100 bytes"), "second");
    struct stat info {};
    lstat(link.c_str(), &info);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    stat(target.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    EXPECT_THROW(writeFileAtomically(dir, "x"), std::runtime_error);
    EXPECT_THROW(writeFileAtomically("/dev/null", "x"), std::runtime_error);
    EXPECT_THROW(writeFileAtomically(dir + "/missing/out.txt", "x"), std::runtime_error);
    EXPECT_EQ(std::system(("test $(ls -A " + dir + " | wc -l) = 2").c_str()), 0) << "a temporary file was left";
    std::system(("rm -r " + dir).c_str());
}

TEST(Files, ReadingStopsAtTheLimitAndRefusesWhatIsNotARegularFile)
{
    char folder[] = "/tmp/orvane-files-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string big = std::string(folder) + "/big", fifo = std::string(folder) + "/fifo";
    std::ofstream(big, std::ios::binary) << std::string((1 << 20) + 1, 'x');
    try {
        readWholeFile(big, 1 << 20, "1 MiB");
        ADD_FAILURE() << "a file past the limit was read";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "the file is larger than 1 MiB");
    }
    // A pipe with no writer would block the open; /dev/zero never ends.
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& special : {fifo, std::string("/dev/zero")}) {
        const auto start = std::chrono::steady_clock::now();
        try {
            readWholeFile(special, 1 << 30, "1 GiB");
            ADD_FAILURE() << special << " was read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << special;
    }
    EXPECT_GT(readWholeFile("/proc/self/cmdline", 1 << 20, "1 MiB").size(), 1u);  // a file that reports size 0
    EXPECT_THROW(readWholeFile("/nonexistent", 10, "10 bytes"), std::runtime_error);
    for (const std::string& made : {big, fifo}) std::remove(made.c_str());
    ::rmdir(folder);
}

TEST(Files, NamesShowEveryByte)
{
    EXPECT_EQ(displayFileName("caf\xc3\xa9.bmp"), "caf\xc3\xa9.bmp");
    EXPECT_EQ(displayFileName("caf\xe9.bmp"), "caf\\xE9.bmp");
    EXPECT_EQ(displayFileName("\xe2\x82"), "\\xE2\\x82");     // cut short
    EXPECT_EQ(displayFileName("\xed\xa0\x80"), "\\xED\\xA0\\x80");  // a surrogate
}
