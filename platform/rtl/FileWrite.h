// Whole writes to files: the one loop over short and interrupted writes that every writer of
// files goes through, and the test override that makes writes to chosen files fail as on a
// full disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <sys/uio.h>

// Writes every byte of Parts, in order, at the file position, or at Offset (then the position
// stays). Returns the bytes written: fewer than asked only on an error, errno telling which (a
// write that makes no progress counts as ENOSPC).
size_t WriteAll(int fd, std::span<const iovec> parts, std::optional<uint64_t> offset = {});
size_t WriteAll(int fd, const void* data, size_t size, std::optional<uint64_t> offset = {});

// Tests make the writes to chosen files fail as on a full disk: Fails sees the name of each file
// written through TFileStream or the AVI file services; an empty function restores real writes.
void SetFileWriteFailureOverride(std::function<bool(const std::string& fileName)> fails);
// True, with errno set to ENOSPC, when the override makes writes to FileName fail.
bool FileWriteFails(const std::string& fileName);
