#include "model/model_fixture.h"
#include "model/root_folder_selection.h"

using Locations = std::vector<std::filesystem::path>;
using RootFolderSelectionTest = ModelTest;

// The failures run first, on a model that holds a root they must leave alone; then a pick
// replaces it.
TEST_F(RootFolderSelectionTest,
       FailedSelectionsLeaveTheRootAloneAndAPickReplacesItWithBalancedAccess) {
    const auto current = dir.makeFolder("current"), picked = dir.makeFolder("picked");
    const auto unbookmarkable = dir.makeFolder("no-bm"), file = dir.makeFile("notes.txt");
    defaults->setObject(bookmarkOf(current), "rootFolderBookmark");
    auto with = services;
    with.makeBookmark = [&](const std::filesystem::path& at) {
        return at == unbookmarkable ? Failure{"the volume does not support bookmarks"}
                                    : makeBookmark(at);
    };
    std::vector<int> currentStopsWhenResolving;
    with.resolveBookmark = [&](const Blob& blob) {
        currentStopsWhenResolving.push_back(scope->stopCount(current));
        return resolveBookmark(blob);
    };
    const auto model = makeModel(with);
    // The model announces its new location once it holds its own access to it.
    std::vector<int> pickedStopsWhenTaken;
    const Connection connection = model->observeChanges([&](FolderModel::Field field) {
        if (field == FolderModel::Field::rootFolderURL && model->isAccessingSecurityScope())
            pickedStopsWhenTaken.push_back(scope->stopCount(picked));
    });
    EXPECT_EQ(output([&] {
                  for (const FolderPickerOutcome& outcome : std::vector<FolderPickerOutcome>{
                           FolderPickerError{"The operation was cancelled."}, Locations{},
                           Locations{file}, Locations{unbookmarkable}})
                      handleRootFolderSelection(outcome, *model);
              }),
              "Folder selection failed: The operation was cancelled.\n"
              "Failed to start accessing security-scoped URL: file://" +
                  file.string() +
                  "\nFailed to create bookmark for root folder: the volume does not support "
                  "bookmarks\n");
    expectRoot(*model, current);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmarkOf(current));
    EXPECT_EQ(scope->stopCount(file), 0);
    EXPECT_EQ(scope->stopCount(unbookmarkable), 1);

    EXPECT_EQ(output([&] { handleRootFolderSelection(Locations{picked, current}, *model); }), "");
    // The old root was given up once, before the new bookmark was resolved; the picker's own
    // access was given back only after the model had taken its own.
    EXPECT_EQ(currentStopsWhenResolving, (std::vector<int>{0, 1}));
    EXPECT_EQ(scope->stopCount(current), 1);
    EXPECT_EQ(pickedStopsWhenTaken, std::vector<int>{0});
    EXPECT_EQ(scope->startCount(picked), 2);
    EXPECT_EQ(scope->stopCount(picked), 1);
    expectRoot(*model, picked);
    EXPECT_EQ(stored("rootFolderBookmark"), bookmarkOf(picked));
}
