// Streams and string lists of the class library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Root of the class library's objects: event senders are passed as TObject*.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };
using enum TSeekOrigin;

class TStream : public TObject {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Transfer up to Count bytes; the result is the count transferred.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // The result is the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize);

    // Transfer exactly Count bytes or raise EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies Count bytes from Source's position (all of Source from its start when 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

enum TFileMode : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

class TFileStream final : public TStream {
public:
    // fmCreate makes or truncates the file (EFCreateError); other modes open it (EFOpenError).
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    // From the file's status: one call where seeking there and back takes three.
    int64_t Size() override;
    void SetSize(int64_t newSize) override;
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    int fd_ = -1;
};

// Tests make the writes to chosen files fail as on a full disk: Fails sees each file name that a
// TFileStream or a settings file writes to; an empty function restores real writes.
void SetFileWriteFailureOverride(std::function<bool(const std::string& fileName)> fails);
// Whether the test override makes writes to FileName fail.
bool FileWriteFails(const std::string& fileName);

class TMemoryStream final : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    // The stream's bytes, read and written in place.
    uint8_t* Memory() { return data_.data(); }
    const uint8_t* Memory() const { return data_.data(); }
    void Clear();
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

class TStringList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& operator[](int index) const;
    std::string& operator[](int index);
    int Add(std::string text); // in sorted lists, at its place
    void Insert(int index, std::string text);
    void Delete(int index);
    void Clear() { items_.clear(); }
    int IndexOf(const std::string& text) const; // -1 when absent
    void Sort();
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    // Lines joined with "\r\n", each ending in one, as the class library's Text.
    std::string Text() const;
    void SetText(const std::string& text);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;
    std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
    std::vector<std::string>::const_iterator end() const { return items_.end(); }

private:
    void CheckIndex(int index, bool allowEnd = false) const;
    std::vector<std::string> items_;
    bool sorted_ = false;
};
