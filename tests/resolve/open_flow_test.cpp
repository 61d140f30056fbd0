#include <gtest/gtest.h>

#include "resolve/open_flow.h"
#include "support/docket_fixture.h"

namespace fs = std::filesystem;

class OpenFlowTest : public ::testing::Test {
protected:
    void open(const std::string& typed, bool viaButton) {
        model->setFolderNumber(typed);
        viaButton ? flow.openFolderButton() : flow.openFolder();
    }
    std::string recents() const {
        std::string result;
        for (const RecentDocket& docket : model->recentDockets())
            result += docket.id() + " " + docket.displayName() + "; ";
        return result;
    }

    TempDir temp;
    const fs::path root = temp.makeFolder("dockets");
    const fs::path only = temp.makeFolder("dockets/a-1/124 Only");
    const fs::path j = temp.makeFolder("dockets/a-J0001/J000123 New");
    const fs::path legacy = temp.makeFolder("dockets/a-1/123 Old");
    const std::shared_ptr<FolderModel> model = makeDocketModel(temp, root);
    const std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    OpenFlow flow{std::make_shared<FolderController>(model, opener), opener};
};

// Return and the button differ only where a conflict comes up: Return leaves the error line
// as it was, the button clears it first.
TEST_F(OpenFlowTest, KeepsTheErrorLineAndTheConflictDialogByTheRules) {
    std::vector<ConflictChoice> first;
    for (const bool viaButton : {false, true}) {
        open("No. 9", viaButton);
        EXPECT_EQ(flow.errorMessage, "Folder not found for 9");
        open("123", viaButton);
        EXPECT_TRUE(flow.showConflict);
        EXPECT_EQ(flow.errorMessage,
                  viaButton ? std::nullopt : std::optional<std::string>("Folder not found for 9"));
        first = flow.conflictChoices();
        // Cancel, then dismissal: the dialog closes, and nothing is opened.
        viaButton ? flow.conflictDialogClosed() : flow.choose(first.at(2));
        EXPECT_FALSE(flow.showConflict);
        open("124", viaButton);
        EXPECT_EQ(flow.errorMessage, std::nullopt);
    }
    EXPECT_EQ(opener->opened, (std::vector<fs::path>{only, only}));
    EXPECT_EQ(recents(), "124-legacy 124 Only; ");
    EXPECT_EQ(first[0].label + "; " + first[1].label + "; " + first[2].label,
              "Legacy: 123 Old; J: J000123 New; Cancel");

    // With another conflict pending, the earlier J button still opens and records the J
    // folder of 123 alone, and leaves the error line and the pending conflict as they are.
    temp.makeFolder("dockets/a-4/456 Other");
    temp.makeFolder("dockets/a-J0004/J000456 Other");
    open("456", false);
    flow.errorMessage = "kept";
    flow.choose(first[1]);
    EXPECT_EQ(opener->opened, (std::vector<fs::path>{only, only, j}));
    EXPECT_EQ(recents(), "123-j J000123 New; 124-legacy 124 Only; ");
    EXPECT_EQ(flow.errorMessage, "kept");
    EXPECT_EQ(flow.conflictURLs->docketKey, "456");

    flow.reopenRecent(RecentDocket(DocketKind::j, "124", "x", 1));
    EXPECT_EQ(flow.errorMessage, "Folder not found for J000124");
    flow.reopenRecent(RecentDocket(DocketKind::legacy, "124", "x", 1));
    EXPECT_EQ(flow.errorMessage, std::nullopt);
    EXPECT_EQ(opener->opened.back(), only);
}
