#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/blob.h"

class QSettings;

// The per-user defaults store: byte blobs under string keys, kept in an INI file.
// Writes go through to the file at once; a write that cannot reach the disk is logged and
// leaves the old file as it was, while this instance keeps the new value in memory.
//
// A file that is there but cannot be read, or is not a regular file at all, is reported once
// and then left alone for the life of the instance: it starts empty and keeps everything in
// memory. Replacing such a file would lose what it holds, and opening a FIFO would hang.
class UserDefaults {
public:
    // Why the file cannot serve as the store, or none when it can: when it can be read, and
    // also when it does not exist yet.
    using FileCheck = std::function<std::optional<std::string>(const std::filesystem::path&)>;
    static std::optional<std::string> checkFile(const std::filesystem::path& file);

    explicit UserDefaults(const std::filesystem::path& file, const FileCheck& check = checkFile);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The store of the user's session: "Zorvant/Zorvant.ini" in the config location
    // ($XDG_CONFIG_HOME, normally ~/.config).
    static std::filesystem::path standardLocation();

    // None when the key is absent or holds something other than a byte blob.
    std::optional<Blob> dataForKey(const std::string& key) const;
    bool contains(const std::string& key) const;

    void setObject(const Blob& data, const std::string& key);
    void removeObjectForKey(const std::string& key);

private:
    // A blob to store, or none to remove the key.
    using Change = std::optional<Blob>;

    void write(const std::string& key, const Change& change);

    std::filesystem::path m_file;
    // None when the file is left alone; then m_memory is the store.
    std::unique_ptr<QSettings> m_settings;
    std::map<std::string, Blob> m_memory;
    // The changes the file has not taken yet, since a write failed: handed to each instance
    // made after the failure, until one writes them.
    std::map<std::string, Change> m_unwritten;
};
