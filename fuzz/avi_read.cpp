// AVI reading from memory: any input either opens or gives an error result; an opened file
// reads every sample in convenient blocks, each block exactly as big as its size query said and
// never bigger than the input.
#include "platform/avi/AviReader.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    avi::AviReader reader;
    if (reader.Open(avi::MemorySource(data, size)) != AVIERR_OK) return 0;
    for (int s = 0; s < reader.StreamCount(); ++s) {
        const int64_t end = int64_t{reader.Start(s)} + reader.Length(s);
        for (int64_t at = reader.Start(s); at < end;) {
            const auto position = static_cast<int32_t>(at);
            int32_t bytes = 0, samples = 0;
            if (reader.Read(s, position, AVISTREAMREAD_CONVENIENT, nullptr, 0, &bytes, &samples) !=
                    AVIERR_OK ||
                samples <= 0 || bytes < 0 || static_cast<size_t>(bytes) > size)
                std::abort();
            std::vector<uint8_t> block(static_cast<size_t>(bytes) + 1);
            int32_t read = 0, readSamples = 0;
            if (reader.Read(s, position, samples, block.data(), static_cast<int32_t>(block.size()),
                            &read, &readSamples) != AVIERR_OK ||
                read != bytes || readSamples != samples)
                std::abort();
            at += samples;
        }
    }
    return 0;
}
