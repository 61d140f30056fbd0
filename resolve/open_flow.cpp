#include "resolve/open_flow.h"

#include <type_traits>

#include "resolve/docket_naming.h"

OpenFlow::OpenFlow(std::shared_ptr<FolderController> controller,
                   std::shared_ptr<DesktopOpener> opener)
    : m_controller(std::move(controller)), m_opener(std::move(opener)) {}

void OpenFlow::openFolder() {
    m_controller->resolve(startLookup(), [this](ResolveResult outcome) {
        std::visit(
            [this](auto&& result) {
                using Case = std::decay_t<decltype(result)>;
                if constexpr (std::is_same_v<Case, resolve_result::none>) {
                    errorMessage = result.message;
                } else if constexpr (std::is_same_v<Case, resolve_result::one>) {
                    openAndRecord(result.url, result.isFolder, result.kind, result.docketKey);
                    errorMessage.reset();
                } else {
                    conflictURLs = ConflictURLs{result.legacy, result.j, result.docketKey,
                                                result.legacyIsFolder, result.jIsFolder};
                    showConflict = true;
                }
            },
            outcome);
        answered();
    });
}

void OpenFlow::openFolderButton() {
    errorMessage.reset();
    openFolder();
}

std::vector<ConflictChoice> OpenFlow::conflictChoices() const {
    std::vector<ConflictChoice> choices;
    if (conflictURLs) {
        choices.push_back({ConflictChoice::Role::legacy,
                           "Legacy: " + displayName(conflictURLs->legacy), conflictURLs});
        choices.push_back(
            {ConflictChoice::Role::j, "J: " + displayName(conflictURLs->j), conflictURLs});
    }
    choices.push_back({ConflictChoice::Role::cancel, "Cancel", std::nullopt});
    return choices;
}

void OpenFlow::choose(const ConflictChoice& choice) {
    if (choice.urls) {
        const ConflictURLs& urls = *choice.urls;
        if (choice.role == ConflictChoice::Role::legacy)
            openAndRecord(urls.legacy, urls.legacyIsFolder, DocketKind::legacy, urls.docketKey);
        else if (choice.role == ConflictChoice::Role::j)
            openAndRecord(urls.j, urls.jIsFolder, DocketKind::j, urls.docketKey);
    }
    conflictDialogClosed();
}

void OpenFlow::reopenRecent(const RecentDocket& docket) {
    m_controller->openRecent(docket, startLookup(), [this](std::optional<std::string> message) {
        errorMessage = std::move(message);
        answered();
    });
}

void OpenFlow::abandonLookup() {
    if (!m_lookingUp)
        return;
    ++*m_newestLookup;
    m_lookingUp = false;
}

void OpenFlow::lookupTimedOut() {
    if (!m_lookingUp)
        return;
    abandonLookup();
    errorMessage = m_controller->notAnsweringMessage();
    answered();
}

FolderController::IsWanted OpenFlow::startLookup() {
    const std::uint64_t lookup = ++*m_newestLookup;
    m_lookingUp = true;
    return [newest = std::weak_ptr<const std::atomic<std::uint64_t>>(m_newestLookup), lookup] {
        const auto current = newest.lock();
        return current && *current == lookup;
    };
}

void OpenFlow::answered() {
    m_lookingUp = false;
    if (m_answerHandler)
        m_answerHandler();
}

void OpenFlow::openAndRecord(const std::filesystem::path& location, bool isFolder, DocketKind kind,
                             const std::string& docketKey) {
    m_opener->open(location, isFolder);
    m_controller->model->addRecent(docketKey, kind, displayName(location));
}
