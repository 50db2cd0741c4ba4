// Fuzz targets that go through file names: a private folder for the run's files.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fuzz_files {

inline void RemoveFolder();

// Made on first use, removed at exit; in memory where the system offers it, since a disk's
// write-back of files rewritten every run would dominate the run.
inline const std::string& Folder() {
    static const std::string folder = [] {
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/mvfuzzXXXXXX";
        return std::string(::mkdtemp(pattern.data())) + "/";
    }();
    // Registered once the folder's name exists, so it runs before the name is destroyed.
    [[maybe_unused]] static const bool cleanup = std::atexit(RemoveFolder) == 0;
    return folder;
}

inline void RemoveFolder() {
    std::filesystem::remove_all(Folder());
}

// Name in the folder holding Bytes.
inline std::string Put(const std::string& name, std::string_view bytes) {
    const std::string path = Folder() + name;
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace fuzz_files
