#include <cerrno>
#include <cstring>

#include <dirent.h>

#include "platform/directory_reader.h"

DirectoryReader::DirectoryReader(const std::filesystem::path& folder)
    : m_handle(::opendir(folder.c_str())) {
    m_failed = m_handle == nullptr;
}

std::unique_ptr<DirectoryReader> openDirectory(const std::filesystem::path& folder) {
    return std::make_unique<DirectoryReader>(folder);
}

DirectoryReader::~DirectoryReader() {
    if (m_handle)
        ::closedir(static_cast<DIR*>(m_handle));
}

std::optional<std::string_view> DirectoryReader::next() {
    if (!m_handle)
        return std::nullopt;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(static_cast<DIR*>(m_handle));
        if (!entry) {
            m_failed = errno != 0;
            return std::nullopt;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        return std::string_view(name, std::strlen(name));
    }
}
