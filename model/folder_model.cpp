#include "model/folder_model.h"

#include <cerrno>

#include "model/unicode_text.h"
#include "platform/background_task.h"
#include "platform/directory_reader.h"
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

// What a check of the root folder found out on its worker thread.
struct FolderModel::RootCheck {
    std::uint64_t number = 0;
    Expected<ResolvedBookmark> resolved = Failure{"the root folder was not checked"};
    SecurityScope::Check access = SecurityScope::Check::refused;
    // A fresh bookmark of a stale one, or why none could be made.
    std::optional<Expected<Blob>> fresh;
};

void FolderModel::setRootStatus(RootStatus status) {
    announce(Field::rootStatus);
    m_rootStatus = status;
}

void FolderModel::applyRootFolderBookmark() {
    // A check still running is about the bookmark being replaced: its answer is dropped.
    ++m_newestCheck;
    if (m_isAccessingSecurityScope && m_rootFolderURL) {
        m_services.securityScope->stopAccessing(*m_rootFolderURL);
        m_isAccessingSecurityScope = false;
    }

    if (!m_rootFolderBookmark) {
        m_services.defaults->removeObjectForKey(bookmarkKey);
        m_bookmarkedRoot.reset();
        setRootFolderURL(std::nullopt);
        setRootStatus(RootStatus::none);
        return;
    }

    // Stored before resolving, so that a bookmark that fails now is tried again next launch.
    m_services.defaults->setObject(*m_rootFolderBookmark, bookmarkKey);

    auto location = bookmarkedLocation(*m_rootFolderBookmark);
    if (!location) {
        logLine("⚠️ Error resolving bookmark after setting:", location.failure().description);
        m_bookmarkedRoot.reset();
        setRootFolderURL(std::nullopt);
        setRootStatus(RootStatus::none);
        return;
    }
    m_bookmarkedRoot = std::move(location.value());
    checkRoot();
}

void FolderModel::checkRoot() {
    const std::uint64_t number = m_newestCheck;
    setRootStatus(RootStatus::checking);
    // The worker holds copies of what it calls, never the model: it may stay stuck in the
    // file system for longer than the model lives.
    auto work = [number, blob = *m_rootFolderBookmark, resolve = m_services.resolveBookmark,
                 makeBookmark = m_services.makeBookmark, scope = m_services.securityScope] {
        RootCheck check;
        check.number = number;
        check.resolved = resolve(blob);
        if (!check.resolved)
            return check;
        check.access = scope->check(check.resolved->location);
        if (check.access == SecurityScope::Check::granted && check.resolved->isStale)
            check.fresh = makeBookmark(check.resolved->location);
        return check;
    };
    auto then = [self = std::weak_ptr<FolderModel*>(m_self)](RootCheck check) {
        if (const auto model = self.lock())
            (*model)->rootChecked(std::move(check));
    };
    if (!runInBackground<RootCheck>(m_services.startThread, m_services.mainThread, std::move(work),
                                    std::move(then))) {
        RootCheck unchecked;
        unchecked.number = number;
        unchecked.resolved = Failure{"no thread could be had to check the root folder", EAGAIN};
        rootChecked(std::move(unchecked));
    }
}

void FolderModel::rootChecked(RootCheck check) {
    if (check.number != m_newestCheck || m_rootStatus != RootStatus::checking)
        return;
    const auto settle = [this](RootStatus status) {
        setRootStatus(status);
        for (auto& then : std::exchange(m_afterCheck, {}))
            then();
    };

    if (!check.resolved) {
        logLine("⚠️ Error resolving bookmark after setting:",
                check.resolved.failure().description);
        setRootFolderURL(std::nullopt);
        // Unreachable is not gone: the root is kept, to be asked again.
        settle(meansNotAnswering(check.resolved.failure().error) ? RootStatus::notAnswering
                                                                 : RootStatus::none);
        return;
    }

    const std::filesystem::path& location = check.resolved->location;
    if (check.access == SecurityScope::Check::notAnswering) {
        setRootFolderURL(std::nullopt);
        settle(RootStatus::notAnswering);
        return;
    }
    if (!m_services.securityScope->startAccessing(location, check.access)) {
        logLine("⚠️ Failed to access security-scoped URL after setting bookmark:",
                fileURL(location, true));
        setRootFolderURL(std::nullopt);
        settle(RootStatus::none);
        return;
    }
    m_isAccessingSecurityScope = true;
    setRootFolderURL(location);

    if (check.fresh) {
        // Only the stored copy is refreshed: assigning the property would run all of this again.
        if (*check.fresh)
            m_services.defaults->setObject(check.fresh->value(), bookmarkKey);
        else
            logLine("⚠️ Failed to refresh stale bookmark:", check.fresh->failure().description);
    }
    settle(RootStatus::accessible);
}

bool FolderModel::inBackground(std::function<void()> work, std::function<void()> then) {
    return runInBackground<bool>(
        m_services.startThread, m_services.mainThread,
        [work = std::move(work)] {
            work();
            return true;
        },
        [self = std::weak_ptr<FolderModel*>(m_self), then = std::move(then)](bool) {
            if (self.lock())
                then();
        });
}

void FolderModel::recheckRoot() {
    if (m_rootStatus == RootStatus::notAnswering && m_rootFolderBookmark) {
        ++m_newestCheck;
        checkRoot();
    }
}

void FolderModel::whenRootChecked(std::function<void()> then) {
    if (m_rootStatus == RootStatus::checking)
        m_afterCheck.push_back(std::move(then));
    else
        then();
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
