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

// A Windows bitmap claiming more than 16 M pixels. Such pictures are legal, and the BMP reader's
// own target reads them; converted to 24 bits, fitted and resampled they take an instrumented
// build longer than a fuzz run's timeout allows one input.
inline bool ClaimsHugeBitmap(std::string_view bytes) {
    constexpr int64_t MaxPixels = int64_t{16} << 20;
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
        return v;
    };
    if (bytes.size() < 26 || bytes.substr(0, 2) != "BM") return false;
    int64_t width = 0, height = 0;
    if (u32(14) == 12) {
        width = u32(18) & 0xFFFF;
        height = u32(18) >> 16;
    } else {
        width = static_cast<int32_t>(u32(18));
        height = static_cast<int32_t>(u32(22));
    }
    return std::abs(width) * std::abs(height) > MaxPixels;
}

} // namespace fuzz_files
