#include "support/docket_fixture.h"

#include <stdexcept>

#include "platform/bookmark.h"
#include "platform/user_defaults.h"

std::shared_ptr<FolderModel> makeDocketModel(const TempDir& temp,
                                             const std::optional<std::filesystem::path>& root) {
    FolderModelServices services{.defaults = std::make_shared<UserDefaults>(temp / "defaults.ini")};
    services.clock = [tick = 0.0]() mutable { return tick += 1.0; };
    auto model = std::make_shared<FolderModel>(std::move(services));
    if (root) {
        const Expected<Blob> bookmark = makeBookmark(*root);
        if (!bookmark)
            throw std::runtime_error("cannot bookmark the root: " + bookmark.failure().description);
        model->setRootFolderBookmark(bookmark.value());
        if (model->rootFolderURL() != root)
            throw std::runtime_error("the root folder did not become accessible");
    }
    return model;
}
