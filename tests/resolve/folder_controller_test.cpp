#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <grp.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/bookmark.h"
#include "platform/worker_thread.h"
#include "resolve/folder_controller.h"
#include "support/docket_fixture.h"
#include "support/eventually.h"
#include "support/queued_main_thread.h"
#include "support/stalling_directories.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

// Lookups are answered through a queue that stands for the main thread; the folders are read
// through a reader that can be held up like a share that has stopped answering.
class FolderControllerTest : public ::testing::Test {
protected:
    // The answer of the background lookup, once the test's main thread has run it.
    template <class Answer, class Start> Answer answerOf(Start start) {
        std::optional<Answer> answer;
        start([] { return true; }, [&](Answer given) { answer = std::move(given); });
        while (!answer && mainThread->runNext()) {
        }
        if (!answer)
            throw std::runtime_error("the lookup gave no answer");
        return std::move(*answer);
    }
    ResolveResult lookUp() {
        return answerOf<ResolveResult>([&](auto wanted, auto answer) {
            controller.resolve(std::move(wanted), std::move(answer));
        });
    }
    // The outcome for the typed text on one line, locations relative to the root.
    std::string resolve(const std::string& typed) {
        model->setFolderNumber(typed);
        return describe(lookUp());
    }
    // The entry that the lookups' search finds in the folder.
    std::optional<fs::path> findEntry(const std::string& prefix, const fs::path& folder) {
        const auto found = answerOf<EntryFinder::Found>([&](auto wanted, auto answer) {
            controller.finder().find({EntrySearch{root, folder, prefix}}, std::move(wanted),
                                     std::move(answer));
        });
        if (!found.front().entry)
            return std::nullopt;
        return found.front().entry->location;
    }
    std::string describe(const ResolveResult& result) const {
        auto in = [&](const fs::path& p) { return p.lexically_relative(root).native(); };
        if (const auto* r = std::get_if<resolve_result::one>(&result))
            return std::string(rawValue(r->kind)) + " " + r->docketKey + ": " + in(r->url);
        if (const auto* r = std::get_if<resolve_result::conflict>(&result))
            return "both " + r->docketKey + ": " + in(r->legacy) + " | " + in(r->j);
        return std::get<resolve_result::none>(result).message;
    }
    // What reopening the record says, "opened" when it opened a folder.
    std::string reopen(DocketKind kind, const std::string& key) {
        return answerOf<std::optional<std::string>>([&](auto wanted, auto answer) {
                   controller.openRecent(RecentDocket(kind, key, "x", 1), std::move(wanted),
                                         std::move(answer));
               })
            .value_or("opened");
    }

    TempDir temp;
    const fs::path root = temp.makeFolder("dockets");
    const fs::path legacy = temp.makeFolder("dockets/a-1/123 Old");
    const fs::path j = temp.makeFolder("dockets/a-J0001/J000123 New");
    StallingDirectories stalls;
    const std::shared_ptr<FolderModel> model = makeDocketModel(temp, root);
    const std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    const std::shared_ptr<QueuedMainThread> mainThread = std::make_shared<QueuedMainThread>();
    FolderController controller{model, opener, stalls.opener(), mainThread};
};

TEST_F(FolderControllerTest, FindsByCharactersAndReopensOnlyTheRecordsKind) {
    const std::string longJ = "a-J0123/J012346 " + std::string(247, 'x'); // a 255-byte name
    const std::string notUTF8 = "a-123/12349 Caf\xE9 \xFF\xFE";
    // Beside the folders the rows expect: a keycap on the last digit, and the Legacy buckets
    // a two-character key would have if it had one, by characters and by bytes.
    for (const std::string& name :
         {"a-123/12346\u20E3 Keycap"s, longJ, notUTF8, "a-/\u0661\u0662 Old"s,
          "a-\u0661/\u0661\u0662 Old"s, "a-J0000/J0000\u0661\u0662 New"s, "a-J1234/J1234567 X"s,
          "../elsewhere/45678 Linked"s, "../out/x"s})
        temp.makeFolder("dockets/" + name);
    for (const char* name : {"a-1234/1234567 X", "a-123/12348\nsecond line", "a-J0004", "a-9/.1"})
        temp.makeFile("dockets/"s + name);
    fs::create_directory_symlink(temp / "elsewhere", root / "a-456");

    const std::string megabyte(1u << 20, '1'); // its bucket name is far beyond any file system's
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"No. 1-23\n", "both 123: a-1/123 Old | a-J0001/J000123 New"},
        {"12346", "j 12346: " + longJ},
        {"12348", "legacy 12348: a-123/12348\nsecond line"},
        {"12349", "legacy 12349: " + notUTF8},
        {"\u0661\u0662", "j \u0661\u0662: a-J0000/J0000\u0661\u0662 New"},
        {"123456", "both 123456: a-1234/1234567 X | a-J1234/J1234567 X"},
        // A missing bucket and a file for a bucket; a symlinked bucket.
        {"456", "Folder not found for 456"},
        {"45678", "legacy 45678: a-456/45678 Linked"},
        {megabyte, "Folder not found for " + megabyte}};
    testing::internal::CaptureStdout();
    std::vector<std::string> outcomes;
    for (const auto& row : rows)
        outcomes.push_back(resolve(row.first));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // listing errors are not reported
    for (std::size_t n = 0; n < rows.size(); ++n)
        EXPECT_EQ(outcomes[n], rows[n].second);
    // The listing skips "." and ".." but no hidden entry.
    EXPECT_EQ(findEntry(".", root / "a-9"), root / "a-9/.1");
    EXPECT_EQ(findEntry("", temp.makeFolder("dockets/a-8")), std::nullopt);

    // Stored keys are taken as they are, and never lead out of the root: a listing there
    // would show on the watch. ("a-" exists, so "a-/.." leads somewhere.)
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, (temp / "out").c_str(), IN_OPEN), 0);
    char events[4096]; // one read takes every event queued
    auto listed = [&] { return ::read(watch, events, sizeof events) > 0; };
    EXPECT_EQ(findEntry("x", root / "a-/../../out"), root / "a-/../../out/x");
    ASSERT_TRUE(listed());
    EXPECT_EQ(reopen(DocketKind::j, "12"), "Folder not found for J000012"); // padded, not refused
    EXPECT_EQ(reopen(DocketKind::legacy, "12"), "Recent docket is invalid");
    EXPECT_EQ(reopen(DocketKind::legacy, "1-23"), "Folder not found for 1-23");
    EXPECT_EQ(reopen(DocketKind::legacy, "/../../outxx"), "Folder not found for /../../outxx");
    EXPECT_EQ(reopen(DocketKind::legacy, "/../../out/xyz"), "Folder not found for /../../out/xyz");
    EXPECT_FALSE(listed());
    ::close(watch);

    // Nothing was opened or recorded so far. 123 has both folders; each record opens and
    // records its own kind alone, with the name on disk. A name that is not UTF-8 is opened by
    // its exact bytes.
    EXPECT_EQ(reopen(DocketKind::legacy, "123"), "opened");
    EXPECT_EQ(reopen(DocketKind::j, "123"), "opened");
    EXPECT_EQ(reopen(DocketKind::legacy, "12349"), "opened");
    EXPECT_EQ(opener->opened, (std::vector<fs::path>{legacy, j, root / notUTF8}));
    std::string recents;
    for (const RecentDocket& docket : model->recentDockets())
        recents += docket.id() + " " + docket.displayName() + "; ";
    EXPECT_EQ(recents,
              "12349-legacy 12349 Caf\uFFFD \uFFFD\uFFFD; 123-j J000123 New; 123-legacy 123 Old; ");
    // Stored as valid JSON: a later run reads the same list back.
    EXPECT_EQ(makeDocketModel(temp, std::nullopt)->recentDockets(), model->recentDockets());
}

TEST_F(FolderControllerTest, ReturnsTheFirstMatchInListingOrderAmongThousands) {
    for (int n = 0; n < 3000; ++n)
        temp.makeFile("dockets/a-999/9999" + std::to_string(n % 9) + " " + std::to_string(n));
    EXPECT_EQ(resolve("99999"), "Folder not found for 99999");
    for (int n = 0; n < 100; ++n)
        (n % 2 ? temp.makeFile("dockets/a-999/99999 " + std::to_string(n))
               : temp.makeFolder("dockets/a-999/99999 " + std::to_string(n)));
    fs::directory_iterator entry(root / "a-999");
    while (!entry->path().filename().native().starts_with("99999"))
        ++entry;
    EXPECT_EQ(resolve("99999"), "legacy 99999: a-999/" + entry->path().filename().native());
}

TEST_F(FolderControllerTest, UnreadableBucketCountsAsNotFound) {
    // Permission bits deny root nothing, so the lookup runs in a child that is an ordinary
    // user, for whom all the tree but the Legacy bucket is reachable.
    fs::permissions(root / "a-1", fs::perms::none);
    fs::permissions(temp.path(), fs::perms::others_all, fs::perm_options::add);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t nobody = 65534;
        if ((::geteuid() == 0 && (::setgroups(0, nullptr) || ::setresgid(nobody, nobody, nobody) ||
                                  ::setresuid(nobody, nobody, nobody))) ||
            ::access(j.c_str(), X_OK) != 0 || ::access(legacy.c_str(), F_OK) == 0)
            ::_exit(10);
        ::_exit(resolve("123") == "j 123: a-J0001/J000123 New" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 10)
        GTEST_SKIP() << "this user cannot be kept out of a folder here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FolderControllerTest, FollowsTheRootFolderOnDisk) {
    // A root deleted after it was chosen, then another folder put in its place: made while the
    // old one existed, so it is another inode, as a replaced folder is. The root leads to it.
    temp.makeFolder("incoming/a-1/123 Replacement");
    fs::remove_all(root);
    EXPECT_EQ(resolve("123"), "Folder not found for 123");
    EXPECT_EQ(reopen(DocketKind::j, "123"), "Folder not found for J000123");
    fs::rename(temp / "incoming", root);
    EXPECT_EQ(resolve("123"), "legacy 123: a-1/123 Replacement");

    // Without a root, digits come first.
    model->setRootFolderBookmark(std::nullopt);
    EXPECT_EQ(resolve("abc"), "Please enter digits");
    EXPECT_EQ(resolve("123"), "Root folder not selected");
    EXPECT_EQ(reopen(DocketKind::j, "123"), "Root folder not selected");
}

// The two listings of a lookup run at the same time, off the asking thread: both are seen
// waiting at once, while the call that asked has long returned.
TEST_F(FolderControllerTest, ListsBothBucketsAtOnceOffTheAskingThread) {
    stalls.hold(root);
    model->setFolderNumber("123");
    std::optional<ResolveResult> answer;
    controller.resolve([] { return true; }, [&](ResolveResult given) { answer = given; });
    ASSERT_TRUE(stalls.waitForStalled(2));
    EXPECT_EQ(mainThread->queued(), 0u);
    stalls.release(root);
    ASSERT_TRUE(mainThread->runNext());
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(describe(*answer), "both 123: a-1/123 Old | a-J0001/J000123 New");

    // No listing is needed without digits, yet the answer comes the one way all answers do:
    // from the main thread's queue, never inside the call that asked.
    answer.reset();
    model->setFolderNumber("abc");
    controller.resolve([] { return true; }, [&](ResolveResult given) { answer = given; });
    EXPECT_FALSE(answer.has_value());
    ASSERT_TRUE(mainThread->runNext());
    EXPECT_EQ(answer, ResolveResult(resolve_result::none{"Please enter digits"}));
}

// A folder that is still being opened takes later searches along instead of starting one
// listing more each: a share that never answers costs one stuck thread per folder. What the
// joined listing reads, it reads after every search in it was asked for.
TEST_F(FolderControllerTest, SearchesOfAFolderStillOpeningShareItsListing) {
    const fs::path bucket = root / "a-1";
    stalls.hold(bucket);
    for (const char* typed : {"123", "124", "123"}) {
        model->setFolderNumber(typed);
        controller.resolve([] { return true; }, [](ResolveResult) {});
    }
    std::string answers;
    controller.openRecent(
        RecentDocket(DocketKind::legacy, "124", "x", 1), [] { return true; },
        [&](std::optional<std::string> message) { answers += message.value_or("opened"); });
    ASSERT_TRUE(stalls.waitForStalled(1));
    temp.makeFolder("dockets/a-1/124 Made while waiting");
    stalls.release(bucket);
    for (int answered = 0; answered < 4; ++answered)
        ASSERT_TRUE(mainThread->runNext());
    EXPECT_EQ(stalls.openings(bucket), 1);
    EXPECT_EQ(answers, "opened");
    EXPECT_EQ(opener->opened, std::vector<fs::path>{root / "a-1/124 Made while waiting"});

    // Once open, a folder is listed afresh for the next search.
    EXPECT_EQ(resolve("124"), "legacy 124: a-1/124 Made while waiting");
    EXPECT_EQ(stalls.openings(bucket), 2);
}

// An answer no longer wanted has no effect: nothing is opened or recorded, and the asker hears
// nothing. A folder stuck for good holds up no other lookup.
TEST_F(FolderControllerTest, AnAnswerNoLongerWantedIsDroppedAndAStuckFolderHoldsUpNoOther) {
    stalls.hold(root / "a-J0001");
    bool wanted = true;
    int answers = 0;
    controller.openRecent(
        RecentDocket(DocketKind::j, "123", "x", 1), [&] { return wanted; },
        [&](std::optional<std::string>) { ++answers; });
    ASSERT_TRUE(stalls.waitForStalled(1));
    EXPECT_EQ(reopen(DocketKind::legacy, "123"), "opened");
    EXPECT_EQ(resolve("45678"), "Folder not found for 45678");

    wanted = false;
    stalls.release(root / "a-J0001");
    ASSERT_TRUE(eventually([&] { return controller.finder().runningListings(root) == 0; }));
    EXPECT_EQ(mainThread->queued(), 0u);
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(opener->opened, std::vector<fs::path>{legacy});
    ASSERT_EQ(model->recentDockets().size(), 1u);
    EXPECT_EQ(model->recentDockets()[0].id(), "123-legacy");
}

// A lookup asked for while the root is being checked waits for the check; one under a root
// whose share did not answer asks the share once more, and says it is not answering, naming
// the root, rather than that the root was never chosen or the docket is not there.
TEST(FolderControllerRootTest, ALookupWaitsForTheRootsCheckAndNamesAShareThatDoesNotAnswer) {
    TempDir temp;
    const fs::path root = temp.makeFolder("dockets");
    const fs::path docket = temp.makeFolder("dockets/a-J0000/J000007 Seven");
    UserDefaults(temp / "defaults.ini").setObject(makeBookmark(root).value(), "rootFolderBookmark");
    auto mainThread = std::make_shared<QueuedMainThread>();
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = true;
    int error = 0;
    int checks = 0;
    FolderModelServices services{.defaults = std::make_shared<UserDefaults>(temp / "defaults.ini")};
    services.startThread = startDetachedThread;
    services.mainThread = mainThread;
    services.resolveBookmark = [&](const Blob& blob) -> Expected<ResolvedBookmark> {
        std::unique_lock lock(mutex);
        ++checks;
        changed.wait(lock, [&] { return !holding; });
        if (error != 0)
            return Failure{"no answer", error};
        return resolveBookmark(blob);
    };
    const auto model = std::make_shared<FolderModel>(services);
    FolderController controller(model, std::make_shared<RecordingOpener>(), openDirectory,
                                mainThread);
    const auto lookUp = [&] {
        std::optional<ResolveResult> answer;
        controller.resolve([] { return true; }, [&](ResolveResult given) { answer = given; });
        while (!answer && mainThread->runNext()) {
        }
        return answer;
    };
    const auto answering = [&](int with) {
        const std::lock_guard lock(mutex);
        holding = false;
        error = with;
        changed.notify_all();
    };

    model->setFolderNumber("7");
    std::optional<ResolveResult> answer;
    controller.resolve([] { return true; }, [&](ResolveResult given) { answer = given; });
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::checking);
    EXPECT_EQ(mainThread->queued(), 0u);
    answering(EIO);
    while (!answer && mainThread->runNext()) {
    }
    EXPECT_EQ(answer, ResolveResult(
                          resolve_result::none{"File server not answering for " + root.native()}));
    EXPECT_EQ(checks, 1); // it was being checked already: not asked twice

    EXPECT_EQ(lookUp(), ResolveResult(resolve_result::none{"File server not answering for " +
                                                           root.native()}));
    EXPECT_EQ(checks, 2);
    answering(0);
    EXPECT_EQ(lookUp(), ResolveResult(resolve_result::one{docket, DocketKind::j, "7", true}));
    EXPECT_EQ(checks, 3);
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::accessible);
}
