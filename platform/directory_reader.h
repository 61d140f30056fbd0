#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

// Reads the entry names of one folder, shallowly and in the order the file system returns
// them. Nothing is skipped but "." and "..": hidden entries are listed too. Names are the
// exact bytes on disk, whatever their encoding.
class DirectoryReader {
public:
    explicit DirectoryReader(const std::filesystem::path& folder);
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    // False when the folder does not exist, is not a folder or cannot be read.
    bool isOpen() const { return m_handle != nullptr; }

    // The next name, valid until the following call; none at the end of the listing or when
    // reading failed part way.
    std::optional<std::string_view> next();

    // Whether an error, rather than the end of the folder, stopped the listing.
    bool failed() const { return m_failed; }

private:
    void* m_handle = nullptr;
    bool m_failed = false;
};

// Opens a folder for reading. The program reads the file system itself; tests hand in a stand-in
// that can hold a listing up, as a share that has stopped answering does.
using OpenDirectory =
    std::function<std::unique_ptr<DirectoryReader>(const std::filesystem::path& folder)>;

std::unique_ptr<DirectoryReader> openDirectory(const std::filesystem::path& folder);
