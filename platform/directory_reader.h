#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

// Reads the entry names of one folder, shallowly and in the order the file system returns
// them. Nothing is skipped but "." and "..": hidden entries are listed too. Names are the
// exact bytes on disk, whatever their encoding.
//
// Every call may block for as long as the folder's file server takes to answer, for ever on a
// hard mount that has lost its server: readers are for worker threads only.
class DirectoryReader {
public:
    explicit DirectoryReader(const std::filesystem::path& folder);
    virtual ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    // False when the folder does not exist, is not a folder or cannot be read.
    bool isOpen() const { return m_handle != nullptr; }

    // The next name, valid until the following call; none at the end of the listing or when
    // reading failed part way.
    virtual std::optional<std::string_view> next();

    // What the listing itself says of the entry that next() returned last: a folder or not, or
    // none when it does not say (a link, or a file system that leaves the type out). Most file
    // systems, NFS and SMB among them, say. Costs nothing.
    std::optional<bool> listedAsFolder() const;

    // Whether an error, rather than the end of the folder, stopped the listing.
    bool failed() const { return m_failed; }
    // The error that kept the folder from opening or stopped the listing, 0 if none.
    int error() const { return m_error; }

protected:
    // A reader of a folder that could not be opened, with the error that kept it closed: what a
    // stand-in for a failing share hands out.
    explicit DirectoryReader(int error) : m_failed(true), m_error(error) {}

private:
    void* m_handle = nullptr;
    bool m_failed = false;
    int m_error = 0;
    // The last entry's type as the listing gave it, and its name (none before the first).
    unsigned char m_type = 0;
    const char* m_name = nullptr;
};

// Opens a folder for reading. The program reads the file system itself; tests hand in a stand-in
// that can hold a listing up, as a share that has stopped answering does.
using OpenDirectory =
    std::function<std::unique_ptr<DirectoryReader>(const std::filesystem::path& folder)>;

std::unique_ptr<DirectoryReader> openDirectory(const std::filesystem::path& folder);

// Whether a file-system error says that the file server behind a location is unreachable or
// not answering (a soft mount that timed out, a stale handle, an automount that is down), as
// opposed to an answer about the location itself (it is gone, no folder, or not ours to read).
bool meansNotAnswering(int error);
