#include <cerrno>
#include <condition_variable>
#include <limits>
#include <mutex>

#include "model/model_fixture.h"
#include "support/queued_main_thread.h"

namespace {

// A model whose start-up finds a stored bookmark of a "dockets" folder.
class StoredRootTest : public ModelTest {
protected:
    void SetUp() override { defaults->setObject(bookmark, "rootFolderBookmark"); }

    const std::filesystem::path root = dir.makeFolder("dockets");
    const Blob bookmark = bookmarkOf(root);
};

// The folder the bookmark was made of is moved away (kept, so that its inode is not reused)
// and a new folder stands at its path: the bookmark resolves, stale.
class StaleRootTest : public StoredRootTest {
protected:
    void SetUp() override {
        StoredRootTest::SetUp();
        std::filesystem::rename(root, dir / "before");
        std::filesystem::create_directory(root);
    }
};

} // namespace

using FolderModelTest = ModelTest;

TEST_F(FolderModelTest, AFirstLaunchFindsNoRootAndWritesNothing) {
    EXPECT_EQ(output([&] { expectRoot(*makeModel(), std::nullopt); }), "");
    EXPECT_FALSE(defaults->contains("rootFolderBookmark"));
    EXPECT_FALSE(defaults->contains("recentDockets"));
}

TEST_F(StoredRootTest, TheRecentsAreLoadedAndWrittenBackBeforeTheRootIsRestored) {
    defaults->setObject(blobOf(R"([ {"lastOpened": 5, "note": "by hand", "displayName": "J1",
                                     "docketKey": "1", "kind": "j"} ])"),
                        "recentDockets");
    auto with = services;
    std::optional<Blob> recentsWhenResolving;
    with.resolveBookmark = [&](const Blob& blob) {
        recentsWhenResolving = stored("recentDockets");
        return resolveBookmark(blob);
    };
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(output([&] { model = makeModel(with); }), "");
    expectRoot(*model, root);
    // Re-encoded: an integral time, its own member order, unknown members dropped.
    EXPECT_EQ(recentsWhenResolving,
              blobOf(R"([{"kind":"j","docketKey":"1","displayName":"J1","lastOpened":5.0}])"));
}

TEST_F(StoredRootTest, AFreshBookmarkIsWrittenBackUnchangedNotRemade) {
    auto with = services;
    int made = 0;
    with.makeBookmark = [&](const std::filesystem::path&) -> Expected<Blob> {
        ++made;
        return blobOf("remade");
    };
    const auto model = makeModel(with);
    expectRoot(*model, root);
    EXPECT_EQ(made, 0);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmark);
    EXPECT_EQ(model->rootFolderBookmark(), bookmark);
}

TEST_F(StoredRootTest, AssigningNoneGivesTheAccessBackOnceAndRemovesTheKey) {
    const auto model = makeModel();
    model->setRootFolderBookmark(std::nullopt);
    model->setRootFolderBookmark(std::nullopt);
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(scope->stopCount(root), 1);
    EXPECT_FALSE(defaults->contains("rootFolderBookmark"));
}

// Stored first, so that it is tried again at the next launch.
TEST_F(StoredRootTest, ABookmarkThatDoesNotResolveIsLoggedAndStaysStored) {
    const auto model = makeModel();
    EXPECT_EQ(output([&] { model->setRootFolderBookmark(Blob{}); }),
              "⚠️ Error resolving bookmark after setting: the bookmark data is empty\n");
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(scope->stopCount(root), 1);
    EXPECT_EQ(stored("rootFolderBookmark"), Blob{});
}

TEST_F(StoredRootTest, RefusedAccessIsLoggedAndTheBookmarkStaysStored) {
    scope->setPolicy([](const std::filesystem::path&) { return false; });
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(output([&] { model = makeModel(); }),
              "⚠️ Failed to access security-scoped URL after setting bookmark: file://" +
                  root.string() + "/\n");
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmark);
}

// A share that does not answer, or answers that it cannot be reached, keeps the root: nothing
// stored changes, the panel can still name it, and the next lookup asks again. Only a root the
// share answers for as gone is no root.
TEST_F(StoredRootTest, ARootWhoseShareDoesNotAnswerIsKeptAndAskedAgain) {
    auto with = services;
    int error = EIO;
    with.resolveBookmark = [&](const Blob& blob) -> Expected<ResolvedBookmark> {
        if (error != 0)
            return Failure{"the share did not answer", error};
        return resolveBookmark(blob);
    };
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(output([&] { model = makeModel(with); }),
              "⚠️ Error resolving bookmark after setting: the share did not answer\n");
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::notAnswering);
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(model->bookmarkedRoot(), root);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmark);

    error = ESTALE;
    output([&] { model->recheckRoot(); });
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::notAnswering);
    error = 0;
    model->recheckRoot();
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::accessible);
    expectRoot(*model, root);
    model->recheckRoot(); // an accessible root is not asked again
    EXPECT_EQ(scope->startCount(root), 1);

    error = ENOENT;
    output([&] { model->setRootFolderBookmark(bookmark); });
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::none);
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmark);
}

// With the program's threads, the root is checked off the main thread: it is being checked
// until the answer lands from the main thread's queue, and whoever waits for it hears then. An
// answer about a bookmark replaced meanwhile is dropped.
TEST_F(StoredRootTest, TheRootIsCheckedOnAWorkerAndItsAnswerLandsInTheEventLoop) {
    auto with = services;
    auto mainThread = std::make_shared<QueuedMainThread>();
    with.mainThread = mainThread;
    with.startThread = startDetachedThread;
    std::mutex mutex;
    std::condition_variable released;
    bool answering = false;
    with.resolveBookmark = [&](const Blob& blob) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return answering; });
        return resolveBookmark(blob);
    };
    const auto model = makeModel(with);
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::checking);
    EXPECT_EQ(model->bookmarkedRoot(), root);
    expectRoot(*model, std::nullopt);
    std::string heard;
    model->whenRootChecked([&] { heard += "first;"; });
    model->whenRootChecked([&] { heard += "second;"; });

    const auto other = dir.makeFolder("other");
    model->setRootFolderBookmark(bookmarkOf(other));
    {
        const std::lock_guard lock(mutex);
        answering = true;
    }
    released.notify_all();
    ASSERT_TRUE(mainThread->runNext());
    ASSERT_TRUE(mainThread->runNext());
    EXPECT_EQ(heard, "first;second;");
    EXPECT_EQ(model->rootStatus(), FolderModel::RootStatus::accessible);
    expectRoot(*model, other);
    EXPECT_EQ(scope->startCount(root), 0);
    model->whenRootChecked([&] { heard += "at once;"; });
    EXPECT_EQ(heard, "first;second;at once;");
}

TEST_F(StaleRootTest, AStaleBookmarkIsRenewedInTheStoreOnly) {
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(output([&] { model = makeModel(); }), "");
    expectRoot(*model, root);
    EXPECT_EQ(model->rootFolderBookmark(), bookmark);
    EXPECT_FALSE(resolveBookmark(stored("rootFolderBookmark").value())->isStale);
}

TEST_F(StaleRootTest, AFailedRenewalIsLoggedAndKeepsTheOldBlob) {
    auto failing = services;
    failing.makeBookmark = [](auto&) -> Expected<Blob> { return Failure{"the disk is full"}; };
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(output([&] { model = makeModel(failing); }),
              "⚠️ Failed to refresh stale bookmark: the disk is full\n");
    expectRoot(*model, root);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmark);
}

TEST_F(FolderModelTest, ObserversHearEveryAssignmentBeforeTheValueIsStored) {
    const auto model = makeModel();
    std::vector<std::string> heard;
    const Connection connection = model->observeChanges([&](FolderModel::Field field) {
        const char* names[] = {"number", "bookmark", "url", "recents", "status"};
        heard.push_back(names[static_cast<int>(field)] + (" '" + model->folderNumber() + "'") +
                        (model->rootFolderBookmark() ? " bookmark" : "") +
                        (model->rootFolderURL() ? " url" : "") +
                        (model->isAccessingSecurityScope() ? " accessing " : " ") +
                        std::to_string(model->recentDockets().size()));
    });
    model->setFolderNumber("12");
    model->setFolderNumber("12");
    model->setRootFolderBookmark(bookmarkOf(dir.makeFolder("dockets")));
    model->addRecent("12", DocketKind::j, "J000012");
    model->setRootFolderBookmark(std::nullopt);
    // The access flag changes unannounced, before the location is assigned. The root's status
    // goes to checking once the bookmark is stored, and settles after the location.
    EXPECT_EQ(heard,
              (std::vector<std::string>{
                  "number '' 0", "number '12' 0", "bookmark '12' 0", "status '12' bookmark 0",
                  "url '12' bookmark accessing 0", "status '12' bookmark url accessing 0",
                  "recents '12' bookmark url accessing 0", "bookmark '12' bookmark url accessing 1",
                  "url '12' url 1", "status '12' 1"}));
}

TEST_F(FolderModelTest, AStoredListThatDoesNotDecodeIsLoggedAndKeptUntilTheNextSave) {
    defaults->setObject(blobOf("[1]"), "recentDockets");
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(
        output([&] { model = makeModel(); }),
        "⚠️ Failed to decode recent dockets: element 0 must be an object, found number\n");
    EXPECT_TRUE(model->recentDockets().empty());
    EXPECT_EQ(stored("recentDockets"), blobOf("[1]"));
    model->addRecent("7", DocketKind::legacy, "7 Seven");
    EXPECT_EQ(stored("recentDockets"),
              encoded({RecentDocket(DocketKind::legacy, "7", "7 Seven", now)}));
}

TEST_F(FolderModelTest, ClearingStoresAnEmptyArray) {
    const auto model = makeModel();
    model->addRecent("7", DocketKind::legacy, "7 Seven");
    model->clearRecents();
    EXPECT_TRUE(model->recentDockets().empty());
    EXPECT_EQ(stored("recentDockets"), blobOf("[]"));
}

// Ten thousand entries, docket 0 twice as Legacy and once as J: neither cut nor cleaned.
TEST_F(FolderModelTest, AStoredListIsTakenWholeAndAddingDropsOnlyTheSameKeyAndKind) {
    std::vector<RecentDocket> many{RecentDocket(DocketKind::legacy, "0", "zero", 1),
                                   RecentDocket(DocketKind::j, "0", "J000000", 2)};
    for (int i = 1; i < 9998; ++i)
        many.emplace_back(DocketKind::legacy, std::to_string(i), "name", i);
    many.emplace_back(DocketKind::legacy, "0", "zero again", 3);
    defaults->setObject(encoded(many), "recentDockets");
    const auto model = makeModel();
    EXPECT_EQ(model->recentDockets(), many);

    model->addRecent("0", DocketKind::legacy, "again");
    std::vector<RecentDocket> kept{RecentDocket(DocketKind::legacy, "0", "again", now)};
    kept.insert(kept.end(), many.begin() + 1, many.begin() + 10);
    EXPECT_EQ(model->recentDockets(), kept);
    EXPECT_EQ(stored("recentDockets"), encoded(kept));
}

// A key typed with a precomposed letter and stored with a decomposed one is the same docket.
TEST_F(FolderModelTest, AddingDropsAnEntryWhoseKeyIsCanonicallyEquivalent) {
    const auto model = makeModel();
    model->addRecent("1", DocketKind::j, "older");
    model->addRecent("A\u030a", DocketKind::legacy, "decomposed");
    model->addRecent("\u00c5", DocketKind::legacy, "precomposed");
    ASSERT_EQ(model->recentDockets().size(), 2u);
    EXPECT_EQ(model->recentDockets().front().displayName(), "precomposed");
    EXPECT_EQ(model->recentDockets().back().displayName(), "older");
}

TEST_F(FolderModelTest, ATimeJSONCannotHoldIsLoggedAndTheStoredListStays) {
    const auto model = makeModel();
    model->addRecent("7", DocketKind::legacy, "7 Seven");
    const Blob before = stored("recentDockets").value();

    auto with = services;
    with.clock = [] { return std::numeric_limits<double>::infinity(); };
    std::shared_ptr<FolderModel> infinite;
    EXPECT_EQ(output([&] {
                  infinite = makeModel(with);
                  infinite->addRecent("2", DocketKind::j, "J000002");
              }),
              "⚠️ Failed to encode recent dockets: element 0: member \"lastOpened\" is not a "
              "finite number\n");
    EXPECT_EQ(infinite->recentDockets().front(),
              RecentDocket(DocketKind::j, "2", "J000002", with.clock()));
    EXPECT_EQ(stored("recentDockets"), before);
}
