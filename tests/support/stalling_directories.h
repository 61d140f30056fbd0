#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "platform/directory_reader.h"

// Opens folders as the file system does, except that opening a folder under a held location
// waits until that location is released, as on a share that has stopped answering; reading a
// folder under a location held for reading waits the same way once it has read a given number
// of entries; and a folder under a failing location does not open, with the error given.
// Whatever is still held is released when the object goes away, so that no worker stays stuck.
class StallingDirectories {
public:
    StallingDirectories();
    ~StallingDirectories();
    StallingDirectories(const StallingDirectories&) = delete;
    StallingDirectories& operator=(const StallingDirectories&) = delete;

    // The reader to hand to the model's services.
    OpenDirectory opener() const;

    void hold(const std::filesystem::path& under);
    void release(const std::filesystem::path& under);
    // Listings under the location read this many entries, then wait until released.
    void holdReading(const std::filesystem::path& under, int after);
    void releaseReading(const std::filesystem::path& under);
    void fail(const std::filesystem::path& under, int error);

    // Waits (a bounded while) until this many openings wait at held locations.
    bool waitForStalled(int count,
                        std::chrono::milliseconds patience = std::chrono::seconds(20)) const;
    // Waits (a bounded while) until this many listings wait in the middle of reading.
    bool waitForStalledReads(int count,
                             std::chrono::milliseconds patience = std::chrono::seconds(20)) const;
    // How often the folder was opened, held or not.
    int openings(const std::filesystem::path& folder) const;
    // How many entries the listings of the folder have read, together.
    int entriesRead(const std::filesystem::path& folder) const;

    // What the readers it hands out share with it.
    struct State;

private:
    std::shared_ptr<State> m_state;
};
