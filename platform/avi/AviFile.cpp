// The handle layer: files and streams with reference counts over the AVI writer and reader.
// Every stream reference also holds its file, so the file is finished (when written) and freed
// by whichever release comes last. Handles are checked against the live ones, so a released or
// foreign handle gives AVIERR_BADHANDLE instead of touching freed memory.
#include "platform/avi/AviFile.h"

#include "platform/avi/AviReader.h"
#include "platform/avi/AviWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <vector>

class TAviStream {
public:
    TAviStream(TAviFile* file, int index) : file_(file), index_(index) {}
    TAviFile* File() const { return file_; }
    int Index() const { return index_; }
    uint32_t references = 0;

private:
    TAviFile* file_;
    int index_;
};

class TAviFile {
public:
    std::unique_ptr<avi::AviWriter> writer;
    std::unique_ptr<avi::AviReader> reader;
    uint32_t references = 1;

    int StreamCount() const { return writer ? writer->StreamCount() : reader->StreamCount(); }
    AVISTREAMINFO Info(int stream) const {
        return writer ? writer->Info(stream) : reader->Info(stream);
    }
    int32_t Start(int stream) const {
        return writer ? writer->Start(stream) : reader->Start(stream);
    }
    int32_t Length(int stream) const {
        return writer ? writer->Length(stream) : reader->Length(stream);
    }
    const std::vector<uint8_t>& Format(int stream) const {
        return writer ? writer->Format(stream) : reader->Format(stream);
    }
    TAviStream* Stream(int index) {
        if (streams_.size() <= static_cast<size_t>(index)) streams_.resize(index + 1);
        if (!streams_[index]) streams_[index] = std::make_unique<TAviStream>(this, index);
        return streams_[index].get();
    }

private:
    std::vector<std::unique_ptr<TAviStream>> streams_;
};

namespace {

struct Registry {
    std::mutex mutex;
    std::set<const TAviFile*> files;
    std::set<const TAviStream*> streams; // those with references
};

Registry& Live() {
    static Registry registry;
    return registry;
}

template <typename F>
HRESULT Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (...) {
        return AVIERR_INTERNAL;
    }
}

bool IsLive(const TAviFile* file) {
    return Live().files.count(file) != 0;
}
bool IsLive(const TAviStream* stream) {
    return Live().streams.count(stream) != 0;
}

// Drops one reference of the file; the last one finishes a written file (unless AVIFileFinish
// has) and frees it.
uint32_t ReleaseFile(TAviFile* file) {
    if (--file->references > 0) return file->references;
    Live().files.erase(file);
    std::unique_ptr<TAviFile> owned(file);
    if (owned->writer) Guarded([&] { return owned->writer->Finish(); });
    return 0;
}

HRESULT Register(std::unique_ptr<TAviFile> opened, PAVIFILE* file) {
    const std::lock_guard lock(Live().mutex);
    *file = opened.release();
    Live().files.insert(*file);
    return AVIERR_OK;
}

void AddStreamReference(TAviStream* stream) {
    if (stream->references++ == 0) Live().streams.insert(stream);
    ++stream->File()->references;
}

} // namespace

HRESULT AVIFileOpen(PAVIFILE* file, const std::string& path, uint32_t mode,
                    const void* /*handlerClass*/) {
    if (file == nullptr) return AVIERR_BADPARAM;
    *file = nullptr;
    return Guarded([&] {
        auto opened = std::make_unique<TAviFile>();
        if ((mode & OF_CREATE) != 0) {
            opened->writer = std::make_unique<avi::AviWriter>();
            if (const HRESULT r = opened->writer->Create(path); r != AVIERR_OK) return r;
        } else if ((mode & OF_WRITE) != 0) {
            // Editing an existing file is not offered; OF_READWRITE opens it for reading.
            return AVIERR_UNSUPPORTED;
        } else {
            opened->reader = std::make_unique<avi::AviReader>();
            if (const HRESULT r = opened->reader->Open(avi::OpenFileSource(path)); r != AVIERR_OK)
                return r;
        }
        return Register(std::move(opened), file);
    });
}

HRESULT AVIFileCreate(PAVIFILE* file, const TFileHandle& target, const std::string& name) {
    if (file == nullptr) return AVIERR_BADPARAM;
    *file = nullptr;
    return Guarded([&] {
        auto created = std::make_unique<TAviFile>();
        created->writer = std::make_unique<avi::AviWriter>();
        if (const HRESULT r = created->writer->CreateIn(target, name); r != AVIERR_OK) return r;
        return Register(std::move(created), file);
    });
}

HRESULT AVIFileFinish(PAVIFILE file) {
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(file)) return AVIERR_BADHANDLE;
    if (!file->writer) return AVIERR_OK;
    return Guarded([&] { return file->writer->Finish(); });
}

uint32_t AVIFileRelease(PAVIFILE file) {
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(file)) return 0;
    return ReleaseFile(file);
}

HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO& info) {
    if (stream == nullptr) return AVIERR_BADPARAM;
    *stream = nullptr;
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(file)) return AVIERR_BADHANDLE;
    if (!file->writer) return AVIERR_READONLY;
    return Guarded([&] {
        int index = 0;
        if (const HRESULT r = file->writer->AddStream(info, &index); r != AVIERR_OK) return r;
        *stream = file->Stream(index);
        AddStreamReference(*stream);
        return AVIERR_OK;
    });
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC fccType, int32_t number) {
    if (stream == nullptr) return AVIERR_BADPARAM;
    *stream = nullptr;
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(file)) return AVIERR_BADHANDLE;
    return Guarded([&] {
        for (int i = 0, seen = 0; i < file->StreamCount(); ++i) {
            if (fccType != 0 && file->Info(i).fccType != fccType) continue;
            if (seen++ != number) continue;
            *stream = file->Stream(i);
            AddStreamReference(*stream);
            return AVIERR_OK;
        }
        return AVIERR_NODATA;
    });
}

uint32_t AVIStreamRelease(PAVISTREAM stream) {
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return 0;
    const uint32_t left = --stream->references;
    if (left == 0) Live().streams.erase(stream);
    ReleaseFile(stream->File());
    return left;
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, int32_t /*position*/, const void* format,
                           int32_t formatSize) {
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    TAviFile* file = stream->File();
    if (!file->writer) return AVIERR_READONLY;
    return Guarded([&] { return file->writer->SetFormat(stream->Index(), format, formatSize); });
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, int32_t /*position*/, void* format,
                            int32_t* formatSize) {
    if (formatSize == nullptr) return AVIERR_BADPARAM;
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    const std::vector<uint8_t>& stored = stream->File()->Format(stream->Index());
    if (format == nullptr) {
        *formatSize = static_cast<int32_t>(stored.size());
        return AVIERR_OK;
    }
    if (*formatSize < 0) return AVIERR_BADPARAM;
    const size_t copied = std::min(stored.size(), static_cast<size_t>(*formatSize));
    if (copied > 0) std::memcpy(format, stored.data(), copied);
    *formatSize = static_cast<int32_t>(copied);
    return AVIERR_OK;
}

HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, int32_t infoSize) {
    if (info == nullptr || infoSize < 0) return AVIERR_BADPARAM;
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    const AVISTREAMINFO current = stream->File()->Info(stream->Index());
    std::memcpy(info, &current, std::min(sizeof current, static_cast<size_t>(infoSize)));
    return AVIERR_OK;
}

int32_t AVIStreamStart(PAVISTREAM stream) {
    const std::lock_guard lock(Live().mutex);
    return IsLive(stream) ? stream->File()->Start(stream->Index()) : -1;
}

int32_t AVIStreamLength(PAVISTREAM stream) {
    const std::lock_guard lock(Live().mutex);
    return IsLive(stream) ? stream->File()->Length(stream->Index()) : -1;
}

HRESULT AVIStreamRead(PAVISTREAM stream, int32_t start, int32_t samples, void* buffer,
                      int32_t bufferSize, int32_t* bytes, int32_t* samplesRead) {
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    const TAviFile* file = stream->File();
    if (!file->reader) return AVIERR_UNSUPPORTED;
    return Guarded([&] {
        return file->reader->Read(stream->Index(), start, samples, buffer, bufferSize, bytes,
                                  samplesRead);
    });
}

bool AVIStreamIsKeyFrame(PAVISTREAM stream, int32_t position) {
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return false;
    const TAviFile* file = stream->File();
    return file->reader && file->reader->IsKeyFrame(stream->Index(), position);
}

HRESULT AVIStreamWrite(PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,
                       int32_t bufferSize, uint32_t flags, int32_t* samplesWritten,
                       int32_t* bytesWritten) {
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    const std::lock_guard lock(Live().mutex);
    if (!IsLive(stream)) return AVIERR_BADHANDLE;
    TAviFile* file = stream->File();
    if (!file->writer) return AVIERR_READONLY;
    return Guarded([&] {
        const HRESULT r =
            file->writer->WriteSample(stream->Index(), start, samples, buffer, bufferSize, flags);
        if (r == AVIERR_OK) {
            if (samplesWritten) *samplesWritten = samples;
            if (bytesWritten) *bytesWritten = bufferSize;
        }
        return r;
    });
}

namespace {
constexpr int32_t kFallbackBlockSamples = 4096;
} // namespace

HRESULT AVIStreamCopy(PAVISTREAM source, PAVIFILE target,
                      const std::function<bool(int32_t samples)>& progress) {
    // Through the calls above, each taking the lock for itself: Progress may call them too.
    return Guarded([&] {
        AVISTREAMINFO info;
        HRESULT r = AVIStreamInfo(source, &info, sizeof info);
        if (r != AVIERR_OK) return r;
        info.dwLength = 0;
        info.dwSuggestedBufferSize = 0;
        const int32_t start = AVIStreamStart(source), end = start + AVIStreamLength(source);
        int32_t formatSize = 0;
        if ((r = AVIStreamReadFormat(source, start, nullptr, &formatSize)) != AVIERR_OK) return r;
        // The format first, then every block in turn.
        std::vector<uint8_t> buffer(static_cast<size_t>(std::max(formatSize, 0)));
        if (formatSize > 0 &&
            (r = AVIStreamReadFormat(source, start, buffer.data(), &formatSize)) != AVIERR_OK)
            return r;
        PAVISTREAM created = nullptr;
        if ((r = AVIFileCreateStream(target, &created, info)) != AVIERR_OK) return r;
        const std::unique_ptr<TAviStream, decltype(&AVIStreamRelease)> copy(created,
                                                                            &AVIStreamRelease);
        if (formatSize > 0 &&
            (r = AVIStreamSetFormat(created, start, buffer.data(), formatSize)) != AVIERR_OK)
            return r;
        for (int32_t position = start; position < end;) {
            int32_t bytes = 0, samples = 0;
            r = AVIStreamRead(source, position, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes,
                              &samples);
            if (r != AVIERR_OK) return r;
            // No convenient block: one of a fixed number of samples.
            if ((bytes < 0 || samples < 0) &&
                (r = AVIStreamRead(source, position, kFallbackBlockSamples, nullptr, 0, &bytes,
                                   &samples)) != AVIERR_OK)
                return r;
            if (bytes < 0 || samples <= 0) return AVIERR_FILEREAD;
            if (buffer.size() < static_cast<size_t>(bytes))
                buffer.resize(static_cast<size_t>(bytes));
            r = AVIStreamRead(source, position, samples, buffer.data(), bytes, &bytes, &samples);
            if (r != AVIERR_OK) return r;
            // A block of no samples would never end the copy.
            if (samples <= 0) return AVIERR_FILEREAD;
            const uint32_t flags = AVIStreamIsKeyFrame(source, position) ? AVIIF_KEYFRAME : 0;
            r = AVIStreamWrite(created, position, samples, buffer.data(), bytes, flags, nullptr,
                               nullptr);
            if (r != AVIERR_OK) return r;
            position += samples;
            if (progress && !progress(samples)) return AVIERR_USERABORT;
        }
        return AVIERR_OK;
    });
}
