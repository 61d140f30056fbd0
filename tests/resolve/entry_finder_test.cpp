#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/worker_thread.h"
#include "resolve/entry_finder.h"
#include "support/eventually.h"
#include "support/queued_main_thread.h"
#include "support/stalling_directories.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

// A finder over folders of a share that can be held up while opening or part way through
// reading, with at most two stuck listings per share, and answers that wait in a queue.
class EntryFinderTest : public ::testing::Test {
protected:
    // The answers of one find call, once the test's main thread has run them.
    struct Asked {
        std::optional<EntryFinder::Found> found;
        std::shared_ptr<std::atomic<bool>> wanted = std::make_shared<std::atomic<bool>>(true);
    };
    std::shared_ptr<Asked> ask(const std::vector<EntrySearch>& searches) {
        auto asked = std::make_shared<Asked>();
        finder.find(
            searches, [wanted = asked->wanted] { return wanted->load(); },
            [asked](EntryFinder::Found found) { asked->found = std::move(found); });
        // Never inside the call that asked.
        EXPECT_FALSE(asked->found.has_value());
        return asked;
    }
    EntrySearch search(const char* bucket, const char* prefix) const {
        return EntrySearch{root, root / bucket, prefix};
    }
    static SearchAnswer found(const fs::path& location, bool isFolder = true) {
        return SearchAnswer{FoundEntry{location, isFolder}, false};
    }
    static SearchAnswer notFound() { return SearchAnswer{}; }
    static SearchAnswer notAnswering() { return SearchAnswer{std::nullopt, true}; }
    // Runs what the main thread is given until every one of them has its answers.
    void answer(std::initializer_list<std::shared_ptr<Asked>> all) {
        const auto unanswered = [&] {
            for (const auto& asked : all) {
                if (!asked->found)
                    return true;
            }
            return false;
        };
        while (unanswered() && mainThread->runNext()) {
        }
        ASSERT_FALSE(unanswered());
    }

    TempDir temp;
    const fs::path root = temp.makeFolder("dockets");
    StallingDirectories stalls;
    const std::shared_ptr<QueuedMainThread> mainThread = std::make_shared<QueuedMainThread>();
    std::atomic<int> threadsStarted = 0;
    EntryFinder finder{stalls.opener(), mainThread,
                       [this](std::function<void()> work) {
                           ++threadsStarted;
                           return startDetachedThread(std::move(work));
                       },
                       2};
};

// A folder has one listing from opening to its last entry: searches that come while it reads
// join it, and still find the entries it read before they came.
TEST_F(EntryFinderTest, OneListingPerFolderServesEverySearchThatComesWhileItRuns) {
    const fs::path first = temp.makeFolder("dockets/a-1/111 First");
    const fs::path second = temp.makeFile("dockets/a-1/122 Second");
    stalls.holdReading(root, 1);
    const auto nothing = ask({search("a-1", "999")});
    ASSERT_TRUE(stalls.waitForStalledReads(1));
    const auto both = ask({search("a-1", "111"), search("a-1", "122")});
    const auto again = ask({search("a-1", "12")});
    stalls.releaseReading(root);
    answer({nothing, both, again});

    EXPECT_EQ(*nothing->found, EntryFinder::Found{notFound()});
    // Whether it is a folder is what the listing said of each.
    EXPECT_EQ(*both->found, (EntryFinder::Found{found(first), found(second, false)}));
    EXPECT_EQ(*again->found, EntryFinder::Found{found(second, false)});
    EXPECT_EQ(stalls.openings(root / "a-1"), 1);
    EXPECT_EQ(stalls.entriesRead(root / "a-1"), 2);
    EXPECT_EQ(threadsStarted, 1);

    // Once it has ended, the folder is listed afresh.
    const auto later = ask({search("a-1", "111")});
    answer({later});
    EXPECT_EQ(*later->found, EntryFinder::Found{found(first)});
    EXPECT_EQ(stalls.openings(root / "a-1"), 2);
}

// A listing that nobody wants any more stops at the next entry it reads, and says nothing.
TEST_F(EntryFinderTest, AListingNobodyWantsStopsAtItsNextEntry) {
    for (int i = 0; i < 50; ++i)
        temp.makeFolder("dockets/a-1/" + std::to_string(100 + i) + " Docket");
    stalls.holdReading(root, 1);
    const auto given = ask({search("a-1", "999")});
    ASSERT_TRUE(stalls.waitForStalledReads(1));
    *given->wanted = false;
    stalls.releaseReading(root);
    ASSERT_TRUE(eventually([&] { return finder.runningListings(root) == 0; }));
    EXPECT_EQ(stalls.entriesRead(root / "a-1"), 2);
    EXPECT_EQ(mainThread->queued(), 0u);
}

// A search nobody wants any more leaves a listing that others still wait on, which goes on for
// them, those before and after it alike.
TEST_F(EntryFinderTest, ASearchNobodyWantsLeavesTheListingToTheOthers) {
    const fs::path wantedEntry = temp.makeFolder("dockets/a-1/123 Docket");
    for (int i = 0; i < 20; ++i)
        temp.makeFolder("dockets/a-1/" + std::to_string(200 + i) + " Docket");
    stalls.holdReading(root, 1);
    const auto before = ask({search("a-1", "999")});
    ASSERT_TRUE(stalls.waitForStalledReads(1));
    const auto unwanted = ask({search("a-1", "999")});
    const auto after = ask({search("a-1", "123")});
    *unwanted->wanted = false;
    stalls.releaseReading(root);
    answer({before, after});

    EXPECT_EQ(*before->found, EntryFinder::Found{notFound()});
    EXPECT_EQ(*after->found, EntryFinder::Found{found(wantedEntry)});
    EXPECT_EQ(stalls.entriesRead(root / "a-1"), 21);
    ASSERT_TRUE(eventually([&] { return finder.runningListings(root) == 0; }));
    EXPECT_FALSE(unwanted->found.has_value());
    EXPECT_EQ(mainThread->queued(), 0u);
}

// Stuck listings are counted per share: past the cap a search gets "not answering" at once
// rather than another thread, while a search of a folder already being listed still joins it.
// A share that answers with an error that says it is unreachable is "not answering" too; one
// that says a folder is not there is not.
TEST_F(EntryFinderTest, ASharePastItsCapOrFailingToAnswerIsNotAnswering) {
    const fs::path docket = temp.makeFolder("dockets/a-1/111 Docket");
    temp.makeFolder("dockets/a-2");
    stalls.hold(root);
    const auto stuck = ask({search("a-1", "111"), search("a-2", "2")});
    ASSERT_TRUE(stalls.waitForStalled(2));
    const auto refused = ask({search("a-3", "3"), search("a-1", "111")});
    const auto elsewhere = ask({EntrySearch{temp / "other", temp / "other/a-1", "1"}});
    answer({elsewhere});
    EXPECT_EQ(*elsewhere->found, EntryFinder::Found{notFound()});
    EXPECT_EQ(finder.runningListings(root), 2u);
    EXPECT_EQ(threadsStarted, 3);

    stalls.release(root);
    answer({stuck, refused});
    EXPECT_EQ(*stuck->found, (EntryFinder::Found{found(docket), notFound()}));
    EXPECT_EQ(*refused->found, (EntryFinder::Found{notAnswering(), found(docket)}));
    ASSERT_TRUE(eventually([&] { return finder.runningListings(root) == 0; }));

    stalls.fail(root / "a-1", EIO);
    stalls.fail(root / "a-2", ESTALE);
    stalls.fail(root / "a-3", ENOENT);
    std::vector<SearchAnswer> failing;
    for (const char* bucket : {"a-1", "a-2", "a-3"}) {
        const auto asked = ask({search(bucket, "1")});
        answer({asked});
        failing.push_back(asked->found->front());
    }
    EXPECT_EQ(failing, (std::vector{notAnswering(), notAnswering(), notFound()}));

    // No thread to be had: not answering, not "not found".
    EntryFinder starved{stalls.opener(), mainThread, [](auto) { return false; }};
    auto asked = std::make_shared<Asked>();
    starved.find(
        {search("a-1", "111")}, [] { return true; },
        [asked](EntryFinder::Found found) { asked->found = std::move(found); });
    answer({asked});
    EXPECT_EQ(*asked->found, EntryFinder::Found{notAnswering()});
    EXPECT_EQ(starved.runningListings(root), 0u);
}
