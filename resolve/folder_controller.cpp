#include "resolve/folder_controller.h"

#include "resolve/docket_naming.h"

namespace {

// The search of one bucket, or none when the bucket cannot be a folder of the root.
std::optional<EntrySearch> bucketSearch(const std::filesystem::path& root,
                                        const std::string& bucket, const std::string& prefix) {
    std::optional<std::filesystem::path> folder = bucketLocation(root, bucket);
    if (!folder)
        return std::nullopt;
    return EntrySearch{std::move(*folder), prefix};
}

} // namespace

FolderController::FolderController(std::shared_ptr<FolderModel> model,
                                   std::shared_ptr<DesktopOpener> opener,
                                   std::shared_ptr<MainThread> mainThread)
    : model(std::move(model)), m_opener(std::move(opener)),
      m_finder(this->model->services().openDirectory, std::move(mainThread)) {}

std::variant<resolve_result::none, FolderController::Lookup> FolderController::lookup() const {
    std::string key = extractDigits(model->folderNumber());
    if (key.empty())
        return resolve_result::none{"Please enter digits"};

    const std::optional<std::filesystem::path>& root = model->rootFolderURL();
    if (!root)
        return resolve_result::none{"Root folder not selected"};

    const DocketNames names = docketNames(key);
    Lookup lookup;
    if (names.legacyBucket)
        lookup.legacy = bucketSearch(*root, *names.legacyBucket, key);
    lookup.j = bucketSearch(*root, names.jBucket, names.jName);
    lookup.key = std::move(key);
    return lookup;
}

ResolveResult FolderController::decide(const std::string& key,
                                       std::optional<std::filesystem::path> legacy,
                                       std::optional<std::filesystem::path> j) {
    if (legacy && j)
        return resolve_result::conflict{std::move(*legacy), std::move(*j), key};
    if (legacy)
        return resolve_result::one{std::move(*legacy), DocketKind::legacy, key};
    if (j)
        return resolve_result::one{std::move(*j), DocketKind::j, key};
    return resolve_result::none{"Folder not found for " + key};
}

void FolderController::resolve(IsWanted isWanted, std::function<void(ResolveResult)> answer) const {
    auto planned = lookup();
    if (auto* none = std::get_if<resolve_result::none>(&planned)) {
        answer(std::move(*none));
        return;
    }
    Lookup& found = std::get<Lookup>(planned);
    std::vector<EntrySearch> searches;
    for (std::optional<EntrySearch>* search : {&found.legacy, &found.j}) {
        if (*search)
            searches.push_back(**search);
    }
    m_finder.find(searches, [isWanted = std::move(isWanted), answer = std::move(answer),
                             key = found.key, hasLegacy = found.legacy.has_value(),
                             hasJ = found.j.has_value()](EntryFinder::Found entries) {
        if (!isWanted())
            return;
        std::optional<std::filesystem::path> legacy;
        std::optional<std::filesystem::path> j;
        std::size_t next = 0;
        if (hasLegacy)
            legacy = std::move(entries[next++]);
        if (hasJ)
            j = std::move(entries[next]);
        answer(decide(key, std::move(legacy), std::move(j)));
    });
}

ResolveResult FolderController::resolve() const {
    auto planned = lookup();
    if (auto* none = std::get_if<resolve_result::none>(&planned))
        return std::move(*none);
    const Lookup& found = std::get<Lookup>(planned);
    std::optional<std::filesystem::path> legacy;
    if (found.legacy)
        legacy = findEntry(found.legacy->prefix, found.legacy->folder);
    std::optional<std::filesystem::path> j;
    if (found.j)
        j = findEntry(found.j->prefix, found.j->folder);
    return decide(found.key, std::move(legacy), std::move(j));
}

void FolderController::openRecent(const RecentDocket& docket, IsWanted isWanted,
                                  std::function<void(std::optional<std::string>)> answer) {
    const std::optional<std::filesystem::path>& root = model->rootFolderURL();
    if (!root) {
        answer("Root folder not selected");
        return;
    }

    const std::string& key = docket.docketKey();
    const DocketNames names = docketNames(key);
    std::optional<EntrySearch> search;
    std::string notFound;
    if (docket.kind() == DocketKind::j) {
        search = bucketSearch(*root, names.jBucket, names.jName);
        notFound = "Folder not found for " + names.jName;
    } else {
        if (!names.legacyBucket) {
            answer("Recent docket is invalid");
            return;
        }
        search = bucketSearch(*root, *names.legacyBucket, key);
        notFound = "Folder not found for " + key;
    }
    if (!search) {
        answer(std::move(notFound));
        return;
    }

    // Weak, so that a lookup that outlives the panel keeps nothing of it alive on its thread.
    m_finder.find(
        {*search},
        [isWanted = std::move(isWanted), answer = std::move(answer), notFound = std::move(notFound),
         key, kind = docket.kind(), weakModel = std::weak_ptr<FolderModel>(model),
         weakOpener = std::weak_ptr<DesktopOpener>(m_opener)](EntryFinder::Found entries) {
            const auto model = weakModel.lock();
            const auto opener = weakOpener.lock();
            if (!model || !opener || !isWanted())
                return;
            const std::optional<std::filesystem::path>& found = entries.front();
            if (!found) {
                answer(notFound);
                return;
            }
            opener->open(*found);
            model->addRecent(key, kind, displayName(*found));
            answer(std::nullopt);
        });
}

std::optional<std::filesystem::path>
FolderController::findEntry(const std::string& prefix, const std::filesystem::path& folder) const {
    return m_finder.findEntry(prefix, folder);
}
