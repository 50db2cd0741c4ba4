// ffprobe and ffmpeg as the real clients of the movies the tests write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace media {

inline std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// The standard output of a shell command; Status is its exit status.
inline std::string Run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0)
        out.append(chunk, n);
    const int result = ::pclose(pipe);
    if (status != nullptr) *status = result;
    return out;
}

// Every stream's fields as ffprobe reports them after counting the frames it decodes:
// "0.codec_name", "0.nb_read_frames", "1.codec_type", ...
inline std::map<std::string, std::string> Streams(const std::string& path) {
    const std::string out =
        Run("ffprobe -v error -count_frames -show_streams -of flat " + Quoted(path));
    std::map<std::string, std::string> fields;
    std::istringstream lines(out);
    const std::string prefix = "streams.stream.";
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (line.rfind(prefix, 0) != 0 || eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        fields[line.substr(prefix.size(), eq - prefix.size())] = value;
    }
    return fields;
}

inline int StreamCount(const std::map<std::string, std::string>& fields) {
    int count = 0;
    while (fields.contains(std::to_string(count) + ".codec_type"))
        ++count;
    return count;
}

struct Packet {
    int64_t size = 0;
    bool key = false;
};

// The packets of the first video stream in file order.
inline std::vector<Packet> VideoPackets(const std::string& path) {
    const std::string out = Run("ffprobe -v error -select_streams v:0 -show_entries "
                                "packet=size,flags -of csv=p=0 " +
                                Quoted(path));
    std::vector<Packet> packets;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        packets.push_back({std::stoll(line.substr(0, comma)), line[comma + 1] == 'K'});
    }
    return packets;
}

// Every frame of the first video stream decoded by ffmpeg into PixelFormat, top row first;
// empty when ffmpeg fails.
inline std::vector<uint8_t> DecodeVideo(const std::string& path,
                                        const std::string& pixelFormat = "bgr24") {
    int status = -1;
    const std::string out = Run("ffmpeg -v error -i " + Quoted(path) +
                                    " -map 0:v:0 -f rawvideo -pix_fmt " + pixelFormat + " -",
                                &status);
    if (status != 0) return {};
    return {out.begin(), out.end()};
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace media
