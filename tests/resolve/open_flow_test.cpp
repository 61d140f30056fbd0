#include <gtest/gtest.h>

#include "resolve/open_flow.h"
#include "support/docket_fixture.h"
#include "support/eventually.h"
#include "support/queued_main_thread.h"
#include "support/stalling_directories.h"

namespace fs = std::filesystem;

// The flow over a controller whose answers wait in a queue that stands for the main thread,
// and whose folders can be held up like those of a share that has stopped answering.
class OpenFlowTest : public ::testing::Test {
protected:
    void start(const std::string& typed, bool viaButton) {
        model->setFolderNumber(typed);
        viaButton ? flow.openFolderButton() : flow.openFolder();
    }
    // Runs what the main thread is given until the flow has its answer.
    void settle() {
        while (flow.isLookingUp() && mainThread->runNext()) {
        }
        ASSERT_FALSE(flow.isLookingUp());
    }
    void open(const std::string& typed, bool viaButton) {
        start(typed, viaButton);
        settle();
    }
    void reopen(const RecentDocket& docket) {
        flow.reopenRecent(docket);
        settle();
    }
    // Waits, a bounded while, until no listing of the root's folders runs.
    bool listingsEnd() const {
        return eventually([&] { return controller->finder().runningListings(root) == 0; });
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
    StallingDirectories stalls;
    const std::shared_ptr<FolderModel> model = makeDocketModel(temp, root);
    const std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    const std::shared_ptr<QueuedMainThread> mainThread = std::make_shared<QueuedMainThread>();
    const std::shared_ptr<FolderController> controller =
        std::make_shared<FolderController>(model, opener, stalls.opener(), mainThread);
    OpenFlow flow{controller, opener};
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

    reopen(RecentDocket(DocketKind::j, "124", "x", 1));
    EXPECT_EQ(flow.errorMessage, "Folder not found for J000124");
    reopen(RecentDocket(DocketKind::legacy, "124", "x", 1));
    EXPECT_EQ(flow.errorMessage, std::nullopt);
    EXPECT_EQ(opener->opened.back(), only);
}

// Only the newest request is answered: an older lookup that comes back later, or one given up
// when the panel closed, changes nothing, opens nothing and records nothing. The button clears
// the error line at once, not when its answer comes.
TEST_F(OpenFlowTest, TheNewestRequestWinsAndAGivenUpLookupChangesNothing) {
    const fs::path bucket = root / "a-1";
    std::vector<std::string> answers;
    flow.setAnswerHandler([&] { answers.push_back(flow.errorMessage.value_or("-")); });
    stalls.hold(bucket);
    start("123", false);
    EXPECT_TRUE(flow.isLookingUp());
    open("No. 9", false);
    EXPECT_EQ(flow.errorMessage, "Folder not found for 9");
    start("124", true);
    EXPECT_EQ(flow.errorMessage, std::nullopt);
    // An answer that needs no listing comes the way every answer does, and is the newest.
    start(" ", false);
    EXPECT_TRUE(flow.isLookingUp());
    settle();
    EXPECT_EQ(flow.errorMessage, "Please enter digits");
    flow.reopenRecent(RecentDocket(DocketKind::legacy, "124", "x", 1));
    EXPECT_TRUE(flow.isLookingUp());
    flow.abandonLookup();
    EXPECT_FALSE(flow.isLookingUp());

    ASSERT_TRUE(stalls.waitForStalled(1));
    stalls.release(bucket);
    // The lookups of 123 and 124 and the reopening shared the listing of a-1, and none of them
    // is wanted any more: the listing ends without a word to the main thread.
    ASSERT_TRUE(listingsEnd());
    EXPECT_EQ(mainThread->queued(), 0u);
    EXPECT_EQ(stalls.openings(bucket), 1);
    EXPECT_EQ(answers, (std::vector<std::string>{"Folder not found for 9", "Please enter digits"}));
    EXPECT_FALSE(flow.showConflict);
    EXPECT_EQ(flow.errorMessage, "Please enter digits");
    EXPECT_TRUE(opener->opened.empty());
    EXPECT_TRUE(model->recentDockets().empty());

    // A lookup after all that is answered as usual.
    open("124", false);
    EXPECT_EQ(opener->opened, std::vector<fs::path>{only});
    EXPECT_EQ(recents(), "124-legacy 124 Only; ");
}

// A lookup that has waited too long for a share that does not answer is given up with a
// message that names the root; its late answer then changes nothing.
TEST_F(OpenFlowTest, ALookupThatWaitedTooLongSaysTheServerIsNotAnswering) {
    flow.lookupTimedOut();
    EXPECT_EQ(flow.errorMessage, std::nullopt); // nothing was running
    stalls.hold(root);
    start("124", false);
    ASSERT_TRUE(stalls.waitForStalled(1));
    flow.lookupTimedOut();
    EXPECT_FALSE(flow.isLookingUp());
    EXPECT_EQ(flow.errorMessage, "File server not answering for " + root.native());
    stalls.release(root);
    ASSERT_TRUE(listingsEnd());
    EXPECT_EQ(mainThread->queued(), 0u);
    EXPECT_TRUE(opener->opened.empty());
    EXPECT_TRUE(model->recentDockets().empty());
}
