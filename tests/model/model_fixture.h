#pragma once

#include <gtest/gtest.h>

#include "model/folder_model.h"
#include "support/temp_dir.h"

// A model over a real defaults file in a fresh folder, the real bookmarks, a counting access
// layer and a clock that stands still.
class ModelTest : public testing::Test {
protected:
    static constexpr double now = 786715200.25;

    static auto makeModel(const FolderModelServices& with) {
        return std::make_shared<FolderModel>(with);
    }
    std::shared_ptr<FolderModel> makeModel() const { return makeModel(services); }

    static Blob bookmarkOf(const std::filesystem::path& at) { return makeBookmark(at).value(); }
    static Blob blobOf(std::string_view text) { return Blob(text.begin(), text.end()); }
    static Blob encoded(const std::vector<RecentDocket>& dockets) {
        return blobOf(encodeRecentDockets(dockets).value());
    }
    std::optional<Blob> stored(const std::string& key) const { return defaults->dataForKey(key); }

    // The model holds the root (and the only grant), or holds none.
    void expectRoot(const FolderModel& model, const std::optional<std::filesystem::path>& root) {
        EXPECT_EQ(model.rootFolderURL(), root);
        EXPECT_EQ(model.isAccessingSecurityScope(), root.has_value());
        EXPECT_EQ(scope->outstandingGrants(), root ? 1 : 0);
    }

    // What the call writes to standard output.
    template <class Call> static std::string output(Call call) {
        testing::internal::CaptureStdout();
        call();
        return testing::internal::GetCapturedStdout();
    }

    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir / "defaults.ini");
    std::shared_ptr<SecurityScope> scope = std::make_shared<SecurityScope>();
    const FolderModelServices services{defaults, scope, [] { return now; }};
};
