#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "platform/directory_reader.h"

// Opens folders as the file system does, except that opening a folder under a held location
// waits until that location is released, as on a share that has stopped answering. Whatever
// is still held is released when the object goes away, so that no worker stays stuck.
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

    // Waits (a bounded while) until this many openings wait at held locations.
    bool waitForStalled(int count,
                        std::chrono::milliseconds patience = std::chrono::seconds(20)) const;
    // How often the folder was opened, held or not.
    int openings(const std::filesystem::path& folder) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
