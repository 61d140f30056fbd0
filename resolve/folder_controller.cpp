#include "resolve/folder_controller.h"

namespace {

// The search of one bucket, or none when the bucket cannot be a folder of the root.
std::optional<EntrySearch> bucketSearch(const std::filesystem::path& root,
                                        const std::string& bucket, const std::string& prefix) {
    std::optional<std::filesystem::path> folder = bucketLocation(root, bucket);
    if (!folder)
        return std::nullopt;
    return EntrySearch{root, std::move(*folder), prefix};
}

} // namespace

FolderController::FolderController(std::shared_ptr<FolderModel> model,
                                   std::shared_ptr<DesktopOpener> opener,
                                   OpenDirectory openDirectory,
                                   std::shared_ptr<MainThread> mainThread,
                                   EntryFinder::StartThread startThread)
    : model(std::move(model)), m_opener(std::move(opener)), m_mainThread(mainThread),
      m_finder(std::move(openDirectory), std::move(mainThread), std::move(startThread)) {}

std::string FolderController::notAnsweringMessage() const {
    const auto& root = model->rootFolderURL() ? model->rootFolderURL() : model->bookmarkedRoot();
    return "File server not answering for " + (root ? root->native() : std::string());
}

void FolderController::deliver(IsWanted isWanted, std::function<void()> answer) const {
    m_mainThread->post([isWanted = std::move(isWanted), answer = std::move(answer)] {
        if (isWanted())
            answer();
    });
}

void FolderController::whenRootReady(IsWanted isWanted, std::function<void(RootOrMessage)> then,
                                     bool askedAgain) const {
    switch (model->rootStatus()) {
    case FolderModel::RootStatus::accessible:
        then(*model->rootFolderURL());
        return;
    case FolderModel::RootStatus::none:
        then(std::string("Root folder not selected"));
        return;
    case FolderModel::RootStatus::notAnswering:
        if (askedAgain) {
            then(notAnsweringMessage());
            return;
        }
        // The share may be back: ask it before telling the user it is not.
        model->recheckRoot();
        break;
    case FolderModel::RootStatus::checking:
        break;
    }
    model->whenRootChecked([self = std::weak_ptr<const FolderController*>(m_self),
                            isWanted = std::move(isWanted), then = std::move(then)]() mutable {
        if (const auto controller = self.lock(); controller && isWanted())
            (*controller)->whenRootReady(std::move(isWanted), std::move(then), true);
    });
}

FolderController::Lookup FolderController::lookup(std::string key,
                                                  const std::filesystem::path& root) {
    Lookup lookup;
    lookup.names = docketNames(key);
    if (lookup.names.legacyBucket)
        lookup.legacy = bucketSearch(root, *lookup.names.legacyBucket, key);
    lookup.j = bucketSearch(root, lookup.names.jBucket, lookup.names.jName);
    lookup.key = std::move(key);
    return lookup;
}

ResolveResult FolderController::decide(const std::string& key, const SearchAnswer& legacy,
                                       const SearchAnswer& j, const std::string& notAnswering) {
    // Without both answers there is no telling one folder from a conflict.
    if (legacy.notAnswering || j.notAnswering)
        return resolve_result::none{notAnswering};
    if (legacy.entry && j.entry)
        return resolve_result::conflict{legacy.entry->location, j.entry->location, key,
                                        legacy.entry->isFolder, j.entry->isFolder};
    if (legacy.entry)
        return resolve_result::one{legacy.entry->location, DocketKind::legacy, key,
                                   legacy.entry->isFolder};
    if (j.entry)
        return resolve_result::one{j.entry->location, DocketKind::j, key, j.entry->isFolder};
    return resolve_result::none{"Folder not found for " + key};
}

void FolderController::resolve(IsWanted isWanted, std::function<void(ResolveResult)> answer) const {
    std::string key = extractDigits(model->folderNumber());
    if (key.empty()) {
        deliver(std::move(isWanted), [answer = std::move(answer)] {
            answer(resolve_result::none{"Please enter digits"});
        });
        return;
    }
    auto search = [self = std::weak_ptr<const FolderController*>(m_self), isWanted,
                   answer = std::move(answer), key = std::move(key)](RootOrMessage root) mutable {
        const auto alive = self.lock();
        if (!alive)
            return;
        const FolderController& controller = **alive;
        if (auto* message = std::get_if<std::string>(&root)) {
            controller.deliver(isWanted,
                               [answer = std::move(answer), message = std::move(*message)] {
                                   answer(resolve_result::none{message});
                               });
            return;
        }
        const Lookup found = lookup(std::move(key), std::get<std::filesystem::path>(root));
        std::vector<EntrySearch> searches;
        for (const std::optional<EntrySearch>* bucket : {&found.legacy, &found.j}) {
            if (*bucket)
                searches.push_back(**bucket);
        }
        controller.m_finder.find(
            searches, isWanted,
            [answer = std::move(answer), key = found.key, hasLegacy = found.legacy.has_value(),
             hasJ = found.j.has_value(),
             notAnswering = controller.notAnsweringMessage()](EntryFinder::Found entries) {
                SearchAnswer legacy;
                SearchAnswer j;
                std::size_t next = 0;
                if (hasLegacy)
                    legacy = std::move(entries[next++]);
                if (hasJ)
                    j = std::move(entries[next]);
                answer(decide(key, legacy, j, notAnswering));
            });
    };
    whenRootReady(std::move(isWanted), std::move(search));
}

void FolderController::openRecent(const RecentDocket& docket, IsWanted isWanted,
                                  std::function<void(std::optional<std::string>)> answer) {
    auto search = [self = std::weak_ptr<const FolderController*>(m_self), isWanted,
                   answer = std::move(answer), docket](RootOrMessage root) mutable {
        const auto alive = self.lock();
        if (!alive)
            return;
        const FolderController& controller = **alive;
        const auto tell = [&](std::optional<std::string> message) {
            controller.deliver(isWanted, [answer = std::move(answer),
                                          message = std::move(message)] { answer(message); });
        };
        if (auto* message = std::get_if<std::string>(&root)) {
            tell(std::move(*message));
            return;
        }
        // The record's own kind alone: the other bucket is not searched.
        const Lookup found = lookup(docket.docketKey(), std::get<std::filesystem::path>(root));
        const bool isJ = docket.kind() == DocketKind::j;
        if (!isJ && !found.names.legacyBucket) {
            tell("Recent docket is invalid");
            return;
        }
        const std::optional<EntrySearch>& search = isJ ? found.j : found.legacy;
        std::string notFound = "Folder not found for " + (isJ ? found.names.jName : found.key);
        if (!search) {
            tell(std::move(notFound));
            return;
        }

        // Weak, so that a lookup that outlives the panel keeps nothing of it alive on its thread.
        controller.m_finder.find(
            {*search}, isWanted,
            [answer = std::move(answer), notFound = std::move(notFound),
             notAnswering = controller.notAnsweringMessage(), key = found.key, kind = docket.kind(),
             weakModel = std::weak_ptr<FolderModel>(controller.model),
             weakOpener =
                 std::weak_ptr<DesktopOpener>(controller.m_opener)](EntryFinder::Found entries) {
                const auto model = weakModel.lock();
                const auto opener = weakOpener.lock();
                if (!model || !opener)
                    return;
                const SearchAnswer& given = entries.front();
                if (!given.entry) {
                    answer(given.notAnswering ? notAnswering : notFound);
                    return;
                }
                opener->open(given.entry->location, given.entry->isFolder);
                model->addRecent(key, kind, displayName(given.entry->location));
                answer(std::nullopt);
            });
    };
    whenRootReady(std::move(isWanted), std::move(search));
}
