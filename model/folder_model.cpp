#include "model/folder_model.h"

#include "model/unicode_text.h"
#include "platform/log.h"

FolderModel::FolderModel(FolderModelServices services) : m_services(std::move(services)) {
    loadRecents();
    if (auto stored = m_services.defaults->dataForKey(bookmarkKey))
        setRootFolderBookmark(std::move(stored));
}

void FolderModel::setFolderNumber(std::string folderNumber) {
    announce(Field::folderNumber);
    m_folderNumber = std::move(folderNumber);
}

void FolderModel::setRootFolderBookmark(std::optional<Blob> bookmark) {
    announce(Field::rootFolderBookmark);
    m_rootFolderBookmark = std::move(bookmark);
    applyRootFolderBookmark();
}

void FolderModel::setRootFolderURL(std::optional<std::filesystem::path> location) {
    announce(Field::rootFolderURL);
    m_rootFolderURL = std::move(location);
}

void FolderModel::setRecentDockets(std::vector<RecentDocket> dockets) {
    announce(Field::recentDockets);
    m_recentDockets = std::move(dockets);
    saveRecents();
}

Connection FolderModel::observeChanges(std::function<void(Field)> observer) {
    return m_objectWillChange.connect(std::move(observer));
}

void FolderModel::applyRootFolderBookmark() {
    if (m_isAccessingSecurityScope && m_rootFolderURL) {
        m_services.securityScope->stopAccessing(*m_rootFolderURL);
        m_isAccessingSecurityScope = false;
    }

    if (!m_rootFolderBookmark) {
        m_services.defaults->removeObjectForKey(bookmarkKey);
        setRootFolderURL(std::nullopt);
        return;
    }

    // Stored before resolving, so that a bookmark that fails now is tried again next launch.
    m_services.defaults->setObject(*m_rootFolderBookmark, bookmarkKey);

    const auto resolved = m_services.resolveBookmark(*m_rootFolderBookmark);
    if (!resolved) {
        logLine("⚠️ Error resolving bookmark after setting:", resolved.failure().description);
        setRootFolderURL(std::nullopt);
        return;
    }

    const std::filesystem::path& location = resolved->location;
    if (!m_services.securityScope->startAccessing(location)) {
        logLine("⚠️ Failed to access security-scoped URL after setting bookmark:",
                fileURL(location));
        setRootFolderURL(std::nullopt);
        return;
    }
    m_isAccessingSecurityScope = true;
    setRootFolderURL(location);

    if (resolved->isStale) {
        // Only the stored copy is refreshed: assigning the property would run all of this again.
        const auto fresh = m_services.makeBookmark(location);
        if (fresh)
            m_services.defaults->setObject(*fresh, bookmarkKey);
        else
            logLine("⚠️ Failed to refresh stale bookmark:", fresh.failure().description);
    }
}

void FolderModel::addRecent(const std::string& docketKey, DocketKind kind,
                            const std::string& displayName) {
    RecentDocket added(kind, docketKey, displayName, m_services.clock());
    std::vector<RecentDocket> dockets;
    dockets.reserve(m_recentDockets.size() + 1);
    dockets.push_back(std::move(added));
    for (const RecentDocket& docket : m_recentDockets) {
        if (!(docket.kind() == kind && canonicallyEquivalent(docket.docketKey(), docketKey)))
            dockets.push_back(docket);
    }
    if (dockets.size() > maximumRecents)
        dockets.erase(dockets.begin() + maximumRecents, dockets.end());
    setRecentDockets(std::move(dockets));
}

void FolderModel::saveRecents() {
    const auto encoded = encodeRecentDockets(m_recentDockets);
    if (!encoded) {
        logLine("⚠️ Failed to encode recent dockets:", encoded.failure().description);
        return;
    }
    m_services.defaults->setObject(Blob(encoded->begin(), encoded->end()), recentsKey);
}

void FolderModel::loadRecents() {
    const auto stored = m_services.defaults->dataForKey(recentsKey);
    if (!stored)
        return;
    const std::string_view json(reinterpret_cast<const char*>(stored->data()), stored->size());
    auto decoded = decodeRecentDockets(json);
    if (!decoded) {
        logLine("⚠️ Failed to decode recent dockets:", decoded.failure().description);
        return;
    }
    setRecentDockets(std::move(decoded.value()));
}

void FolderModel::clearRecents() {
    setRecentDockets({});
}
