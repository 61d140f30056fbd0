#include <limits>

#include "model/model_fixture.h"

using FolderModelTest = ModelTest;

TEST_F(FolderModelTest, TheRootFollowsTheStateTableAtStartUpAndOnAssignment) {
    // A first launch finds nothing and writes nothing.
    EXPECT_EQ(output([&] { expectRoot(*makeModel(), std::nullopt); }), "");
    EXPECT_FALSE(defaults->contains("recentDockets"));

    const auto root = dir.makeFolder("dockets");
    const Blob bookmark = bookmarkOf(root);
    defaults->setObject(bookmark, "rootFolderBookmark");
    defaults->setObject(blobOf(R"([ {"lastOpened": 5, "note": "by hand", "displayName": "J1",
                                     "docketKey": "1", "kind": "j"} ])"),
                        "recentDockets");
    auto with = services;
    Blob recentsWhenResolving;
    with.resolveBookmark = [&](const Blob& blob) {
        recentsWhenResolving = stored("recentDockets").value();
        return resolveBookmark(blob);
    };
    std::shared_ptr<FolderModel> model;
    EXPECT_EQ(output([&] { model = makeModel(with); }), "");
    expectRoot(*model, root);
    // The recents were loaded and written back re-encoded before the root was restored.
    EXPECT_EQ(recentsWhenResolving,
              blobOf(R"([{"kind":"j","docketKey":"1","displayName":"J1","lastOpened":5.0}])"));

    // None gives the access back, once, and removes the key.
    model->setRootFolderBookmark(std::nullopt);
    model->setRootFolderBookmark(std::nullopt);
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(scope->stopCount(root), 1);
    EXPECT_FALSE(defaults->contains("rootFolderBookmark"));
    // A bookmark that fails stays stored, to be tried again at the next launch.
    EXPECT_EQ(output([&] { model->setRootFolderBookmark(Blob{}); }),
              "⚠️ Error resolving bookmark after setting: the bookmark data is empty\n");
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(stored("rootFolderBookmark"), Blob{});
    scope->setPolicy([](const std::filesystem::path&) { return false; });
    EXPECT_EQ(output([&] { model->setRootFolderBookmark(bookmark); }),
              "⚠️ Failed to access security-scoped URL after setting bookmark: file://" +
                  root.string() + "/\n");
    expectRoot(*model, std::nullopt);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmark);

    // A stale bookmark is renewed in the store only; a renewal that fails is logged. The old
    // folder is kept, so that the new one cannot reuse its inode.
    std::filesystem::rename(root, dir / "before");
    std::filesystem::create_directory(root);
    auto failing = services;
    failing.makeBookmark = [](auto&) -> Expected<Blob> { return Failure{"the disk is full"}; };
    for (const bool renews : {false, true}) {
        *scope = SecurityScope();
        EXPECT_EQ(output([&] { model = makeModel(renews ? services : failing); }),
                  renews ? "" : "⚠️ Failed to refresh stale bookmark: the disk is full\n");
        expectRoot(*model, root);
        EXPECT_EQ(model->rootFolderBookmark(), bookmark);
        EXPECT_EQ(resolveBookmark(stored("rootFolderBookmark").value())->isStale, !renews);
    }
}

TEST_F(FolderModelTest, ObserversHearEveryAssignmentBeforeTheValueIsStored) {
    const auto model = makeModel();
    std::vector<std::string> heard;
    const Connection connection = model->observeChanges([&](FolderModel::Field field) {
        const char* names[] = {"number", "bookmark", "url", "recents"};
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
    // The access flag changes unannounced, before the location is assigned.
    EXPECT_EQ(heard, (std::vector<std::string>{
                         "number '' 0", "number '12' 0", "bookmark '12' 0",
                         "url '12' bookmark accessing 0", "recents '12' bookmark url accessing 0",
                         "bookmark '12' bookmark url accessing 1", "url '12' url 1"}));
}

TEST_F(FolderModelTest, RecentsFollowTheStoreRules) {
    // A blob that does not decode is logged and stays stored until the next save.
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
    model->clearRecents();
    EXPECT_EQ(stored("recentDockets"), blobOf("[]"));

    // A stored list is taken whole: ten thousand entries, docket 0 twice as legacy, once as J.
    std::vector<RecentDocket> many{RecentDocket(DocketKind::legacy, "0", "zero", 1),
                                   RecentDocket(DocketKind::j, "0", "J000000", 2)};
    for (int i = 1; i < 9998; ++i)
        many.emplace_back(DocketKind::legacy, std::to_string(i), "name", i);
    many.emplace_back(DocketKind::legacy, "0", "zero again", 3);
    defaults->setObject(encoded(many), "recentDockets");
    model = makeModel();
    EXPECT_EQ(model->recentDockets(), many);
    // Adding drops only the same key and kind, then keeps ten.
    model->addRecent("0", DocketKind::legacy, "again");
    std::vector<RecentDocket> kept{RecentDocket(DocketKind::legacy, "0", "again", now)};
    kept.insert(kept.end(), many.begin() + 1, many.begin() + 10);
    EXPECT_EQ(model->recentDockets(), kept);
    EXPECT_EQ(stored("recentDockets"), encoded(kept));

    // A time that JSON cannot hold is logged, and the stored list stays as it was.
    auto with = services;
    with.clock = [] { return std::numeric_limits<double>::infinity(); };
    EXPECT_EQ(output([&] {
                  model = makeModel(with);
                  model->addRecent("2", DocketKind::j, "J000002");
              }),
              "⚠️ Failed to encode recent dockets: element 0: member \"lastOpened\" is not a "
              "finite number\n");
    EXPECT_EQ(model->recentDockets().front(),
              RecentDocket(DocketKind::j, "2", "J000002", with.clock()));
    EXPECT_EQ(stored("recentDockets"), encoded(kept));
}
