#pragma once

#include <filesystem>
#include <string_view>

// A fresh folder under the system's temporary location, removed with everything in it when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

    // Creates a folder (and its parents) below this one and answers its location.
    std::filesystem::path makeFolder(std::string_view relative) const;
    // Creates an empty file below this one (parents included) and answers its location.
    std::filesystem::path makeFile(std::string_view relative) const;

private:
    std::filesystem::path m_path;
};
