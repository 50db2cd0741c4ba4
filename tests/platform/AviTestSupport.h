// What the AVI tests share: a scratch folder, runs of ffprobe and ffmpeg (the real clients
// every written file is checked by), and writing a movie through the AVI file services.
#pragma once

#include "platform/avi/AviFile.h"
#include "platform/avi/RiffReader.h"
#include "platform/graphics/Dib.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace avitest {

using Bytes = std::vector<uint8_t>;
using Fields = std::map<std::string, std::string>;

// A fresh folder under /tmp, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mv_avi_XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Standard output of a shell command, and whether it exited with 0.
struct CommandResult {
    bool ok = false;
    std::string out;
};

inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char block[1 << 16];
    for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;)
        result.out.append(block, n);
    result.ok = pclose(pipe) == 0;
    return result;
}

// "key=value|key=value" lines of ffprobe's compact output, one map per line.
inline std::vector<Fields> ParseCompact(const std::string& text) {
    std::vector<Fields> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        Fields row;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');)
            if (const size_t eq = field.find('='); eq != std::string::npos)
                row[field.substr(0, eq)] = field.substr(eq + 1);
        rows.push_back(row);
    }
    return rows;
}

// Every stream as ffprobe sees it, its packets counted (nb_read_packets).
inline std::vector<Fields> ProbeStreams(const std::string& path) {
    const CommandResult r =
        RunCommand("ffprobe -v error -count_packets -show_entries "
                   "stream=codec_type,codec_name,codec_tag_string,width,height,"
                   "r_frame_rate,nb_frames,nb_read_packets,sample_rate,channels "
                   "-of compact=p=0 '" +
                   path + "'");
    return r.ok ? ParseCompact(r.out) : std::vector<Fields>{};
}

// The packets of one stream (size and flags, "K_" for a key frame).
inline std::vector<Fields> ProbePackets(const std::string& path, const std::string& stream) {
    const CommandResult r =
        RunCommand("ffprobe -v error -select_streams " + stream +
                   " -show_entries packet=size,flags -of compact=p=0 '" + path + "'");
    return r.ok ? ParseCompact(r.out) : std::vector<Fields>{};
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a file's headers and first index say, as read from the bytes (no reader of ours).
struct Layout {
    uint32_t microSecPerFrame = 0, maxBytesPerSec = 0, flags = 0, totalFrames = 0, streams = 0;
    uint32_t suggestedBufferSize = 0, width = 0, height = 0;
    uint32_t odmlTotalFrames = 0; // 0 without 'dmlh'
    uint32_t firstIdx1Offset = 0, idx1Entries = 0;
};

inline Layout ReadLayout(const std::string& path) {
    Layout layout;
    const auto source = avi::OpenFileSource(path);
    avi::Chunk riff;
    if (!source || !avi::ReadChunk(*source, 0, source->Size(), &riff)) return layout;
    const auto at = [&](uint64_t offset) {
        uint8_t v[4] = {};
        source->ReadAt(offset, v, sizeof v);
        return avi::GetU32(v);
    };
    // A depth-first walk of the first RIFF's lists.
    std::vector<std::pair<uint64_t, uint64_t>> ranges = {{riff.data, riff.data + riff.size}};
    while (!ranges.empty()) {
        auto [offset, end] = ranges.back();
        ranges.pop_back();
        avi::Chunk c;
        for (; avi::ReadChunk(*source, offset, end, &c); offset = c.next) {
            if (c.id == avi::kList && c.listType != avi::kMovi)
                ranges.emplace_back(c.data, c.data + c.size);
            if (c.id == avi::kAvih) {
                uint32_t* fields[] = {&layout.microSecPerFrame,
                                      &layout.maxBytesPerSec,
                                      nullptr,
                                      &layout.flags,
                                      &layout.totalFrames,
                                      nullptr,
                                      &layout.streams,
                                      &layout.suggestedBufferSize,
                                      &layout.width,
                                      &layout.height};
                for (size_t i = 0; i < std::size(fields); ++i)
                    if (fields[i]) *fields[i] = at(c.data + 4 * i);
            }
            if (c.id == avi::kDmlh) layout.odmlTotalFrames = at(c.data);
            if (c.id == avi::kIdx1) {
                layout.firstIdx1Offset = at(c.data + 8);
                layout.idx1Entries = static_cast<uint32_t>(c.size / 16);
            }
        }
    }
    return layout;
}

// One stream decoded completely by ffmpeg into raw output (e.g. "-f rawvideo -pix_fmt bgr24");
// empty when ffmpeg reports any error.
inline Bytes Decode(const std::string& path, const std::string& stream, const std::string& output) {
    const std::string decoded = path + ".decoded";
    const CommandResult r =
        RunCommand("ffmpeg -v error -xerror -y -i '" + path + "' -map 0:" + stream + " " + output +
                   " '" + decoded + "' 2>&1");
    Bytes bytes = r.ok && r.out.empty() ? ReadFile(decoded) : Bytes{};
    std::filesystem::remove(decoded);
    return bytes;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// With MV_AVI_SEED_DIR set, a copy of the file goes there under Name: the seeds of the AVI
// reader's fuzz target (fuzz/corpus/avi) are files the tests write.
inline void KeepAsSeed(const std::string& path, const std::string& name) {
    if (const char* seeds = std::getenv("MV_AVI_SEED_DIR"))
        std::filesystem::copy_file(path, std::string(seeds) + "/" + name,
                                   std::filesystem::copy_options::overwrite_existing);
}

// A 24-bit frame of Width x Height, rows bottom-up and padded to four bytes, different for
// every Seed.
inline Bytes MakeFrame(int width, int height, int seed) {
    const int stride = (width * 3 + 3) / 4 * 4;
    Bytes frame(static_cast<size_t>(stride) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            frame[static_cast<size_t>(y) * stride + x] =
                static_cast<uint8_t>(x * 7 + y * 13 + seed * 29 + (x ^ y));
    return frame;
}

// Bottom-up padded rows as ffmpeg's bgr24 output lays them: top row first, no padding.
inline Bytes TopDownRows(const Bytes& frame, int width, int height) {
    const int stride = (width * 3 + 3) / 4 * 4;
    Bytes rows;
    for (int y = height - 1; y >= 0; --y)
        rows.insert(rows.end(), frame.begin() + static_cast<ptrdiff_t>(y) * stride,
                    frame.begin() + static_cast<ptrdiff_t>(y) * stride + width * 3);
    return rows;
}

inline BITMAPINFOHEADER FrameHeader(int width, int height, uint32_t compression = BI_RGB) {
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 24;
    h.biCompression = compression;
    return h;
}

// The stream header the movie maker fills for its video stream.
inline AVISTREAMINFO VideoInfo(int width, int height, uint32_t rate, FOURCC handler = 0) {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.fccHandler = handler;
    info.dwScale = 1;
    info.dwRate = rate;
    info.dwQuality = 10000;
    info.rcFrame = Rect(0, 0, width, height);
    std::snprintf(info.szName, sizeof info.szName, "VIDEO");
    return info;
}

// PCM: 16-bit samples, Channels of them in each block (the format: PcmFormat).
inline AVISTREAMINFO AudioInfo(uint32_t sampleRate, int channels) {
    AVISTREAMINFO info;
    info.fccType = streamtypeAUDIO;
    info.dwScale = 1;
    info.dwRate = sampleRate;
    info.dwSampleSize = static_cast<uint32_t>(2 * channels);
    std::snprintf(info.szName, sizeof info.szName, "AUDIO");
    return info;
}

inline Bytes PcmFormat(uint32_t sampleRate, int channels, uint32_t bits = 16) {
    const auto blockAlign = static_cast<uint32_t>(channels) * bits / 8;
    const uint32_t fields[] = {1 | static_cast<uint32_t>(channels) << 16, sampleRate,
                               sampleRate * blockAlign, blockAlign | bits << 16};
    Bytes format(sizeof fields + 2, 0); // WAVEFORMATEX with cbSize 0
    std::memcpy(format.data(), fields, sizeof fields);
    return format;
}

// A movie with one video stream, written through the services; every call's result is kept
// until the first failure.
class VideoWriter {
public:
    VideoWriter(const std::string& path, const AVISTREAMINFO& info,
                const BITMAPINFOHEADER& format) {
        result_ = AVIFileOpen(&file_, path, OF_WRITE | OF_CREATE);
        if (result_ == AVIERR_OK) result_ = AVIFileCreateStream(file_, &stream_, info);
        if (result_ == AVIERR_OK) result_ = AVIStreamSetFormat(stream_, 0, &format, sizeof format);
    }
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;
    ~VideoWriter() { Close(); }

    PAVIFILE File() const { return file_; }
    HRESULT Write(const Bytes& sample, uint32_t flags) {
        if (result_ == AVIERR_OK)
            result_ = AVIStreamWrite(stream_, next_++, 1, sample.data(),
                                     static_cast<int32_t>(sample.size()), flags, nullptr, nullptr);
        return result_;
    }
    // Releases the stream, then the file (which finishes it).
    HRESULT Close() {
        if (stream_) AVIStreamRelease(stream_);
        if (file_) AVIFileRelease(file_);
        stream_ = nullptr;
        file_ = nullptr;
        return result_;
    }

private:
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    int32_t next_ = 0;
    HRESULT result_ = AVIERR_OK;
};

// Writes one video stream of the given samples; AVIERR_OK when every call succeeded.
inline HRESULT WriteMovie(const std::string& path, const AVISTREAMINFO& info,
                          const BITMAPINFOHEADER& format, const std::vector<Bytes>& samples,
                          const std::vector<uint32_t>& flags) {
    VideoWriter movie(path, info, format);
    for (size_t i = 0; i < samples.size(); ++i)
        movie.Write(samples[i], flags[i]);
    return movie.Close();
}

// Every sample of a stream read through the services with convenient blocks, as the movie
// maker's rebuild reads them.
inline std::vector<Bytes> ReadSamples(PAVISTREAM stream) {
    std::vector<Bytes> samples;
    const int32_t end = AVIStreamStart(stream) + AVIStreamLength(stream);
    for (int32_t position = AVIStreamStart(stream); position < end;) {
        int32_t bytes = 0, count = 0;
        if (AVIStreamRead(stream, position, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes, &count) !=
                AVIERR_OK ||
            count <= 0)
            return {};
        Bytes block(static_cast<size_t>(bytes));
        if (AVIStreamRead(stream, position, count, block.data(), bytes, &bytes, &count) !=
            AVIERR_OK)
            return {};
        samples.push_back(std::move(block));
        position += count;
    }
    return samples;
}

} // namespace avitest
