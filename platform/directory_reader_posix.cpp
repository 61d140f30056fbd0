#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>

#include "platform/directory_reader.h"

DirectoryReader::DirectoryReader(const std::filesystem::path& folder)
    : m_handle(::opendir(folder.c_str())) {
    m_failed = m_handle == nullptr;
    if (m_failed)
        m_error = errno;
}

std::unique_ptr<DirectoryReader> openDirectory(const std::filesystem::path& folder) {
    return std::make_unique<DirectoryReader>(folder);
}

DirectoryReader::~DirectoryReader() {
    if (m_handle)
        ::closedir(static_cast<DIR*>(m_handle));
}

std::optional<std::string_view> DirectoryReader::next() {
    m_name = nullptr;
    if (!m_handle)
        return std::nullopt;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(static_cast<DIR*>(m_handle));
        if (!entry) {
            m_error = errno;
            m_failed = m_error != 0;
            return std::nullopt;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        m_type = entry->d_type;
        m_name = name;
        return std::string_view(name, std::strlen(name));
    }
}

std::optional<bool> DirectoryReader::listedAsFolder() const {
    if (!m_name || m_type == DT_UNKNOWN || m_type == DT_LNK)
        return std::nullopt;
    return m_type == DT_DIR;
}

bool meansNotAnswering(int error) {
    switch (error) {
    case EIO:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ENOTCONN:
    case ECONNABORTED:
    case ECONNRESET:
    case ESTALE:
    case ENODEV:
    case ENXIO:
    case EAGAIN:
    case EINTR:
        return true;
    default:
        return false;
    }
}
