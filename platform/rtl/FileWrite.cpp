#include "platform/rtl/FileWrite.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <unistd.h>

size_t WriteAll(int fd, std::span<const iovec> parts, std::optional<uint64_t> offset) {
    // A few parts per call; more take more calls.
    constexpr size_t kWindow = 8;
    size_t written = 0;
    size_t part = 0, skip = 0; // the first byte not yet written
    for (;;) {
        while (part < parts.size() && skip == parts[part].iov_len) {
            ++part;
            skip = 0;
        }
        if (part == parts.size()) return written;
        std::array<iovec, kWindow> window{};
        size_t count = 0;
        for (size_t i = part; i < parts.size() && count < kWindow; ++i, ++count)
            window[count] = parts[i];
        window[0].iov_base = static_cast<char*>(window[0].iov_base) + skip;
        window[0].iov_len -= skip;
        const auto n = static_cast<int>(count);
        const ssize_t done =
            offset ? ::pwritev(fd, window.data(), n, static_cast<off_t>(*offset + written))
                   : ::writev(fd, window.data(), n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = ENOSPC;
            return written;
        }
        written += static_cast<size_t>(done);
        for (auto left = static_cast<size_t>(done); left > 0;) {
            const size_t take = std::min(left, parts[part].iov_len - skip);
            skip += take;
            left -= take;
            if (skip == parts[part].iov_len) {
                ++part;
                skip = 0;
            }
        }
    }
}

size_t WriteAll(int fd, const void* data, size_t size, std::optional<uint64_t> offset) {
    // The system's record takes a mutable pointer but only reads through it.
    const iovec part{const_cast<void*>(data), size};
    return WriteAll(fd, std::span(&part, 1), offset);
}

namespace {

std::function<bool(const std::string&)>& WriteFailureOverride() {
    static std::function<bool(const std::string&)> fails;
    return fails;
}

} // namespace

void SetFileWriteFailureOverride(std::function<bool(const std::string& fileName)> fails) {
    WriteFailureOverride() = std::move(fails);
}

bool FileWriteFails(const std::string& fileName) {
    if (!WriteFailureOverride() || !WriteFailureOverride()(fileName)) return false;
    errno = ENOSPC;
    return true;
}
