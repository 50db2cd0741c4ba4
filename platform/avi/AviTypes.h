// The value types and constants of the AVI file services: four-character codes, result codes,
// open modes, sample flags and the stream header record. Kept apart from the handle calls so
// that the RIFF code and the compression manager can name them without the file services.
#pragma once

#include "platform/graphics/Types.h"

#include <cstdint>

using HRESULT = int32_t;
using FOURCC = uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<uint8_t>(a)) |
           static_cast<FOURCC>(static_cast<uint8_t>(b)) << 8 |
           static_cast<FOURCC>(static_cast<uint8_t>(c)) << 16 |
           static_cast<FOURCC>(static_cast<uint8_t>(d)) << 24;
}

inline constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
inline constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
// The handler that stands for "no compressor".
inline constexpr FOURCC comptypeDIB = mmioFOURCC('D', 'I', 'B', ' ');

// Result codes.
constexpr HRESULT MakeAviError(int code) {
    return static_cast<HRESULT>(0x80044000u + static_cast<uint32_t>(code));
}
inline constexpr HRESULT AVIERR_OK = 0;
inline constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviError(101);
inline constexpr HRESULT AVIERR_BADFORMAT = MakeAviError(102);
inline constexpr HRESULT AVIERR_MEMORY = MakeAviError(103);
inline constexpr HRESULT AVIERR_INTERNAL = MakeAviError(104);
inline constexpr HRESULT AVIERR_BADFLAGS = MakeAviError(105);
inline constexpr HRESULT AVIERR_BADPARAM = MakeAviError(106);
inline constexpr HRESULT AVIERR_BADSIZE = MakeAviError(107);
inline constexpr HRESULT AVIERR_BADHANDLE = MakeAviError(108);
inline constexpr HRESULT AVIERR_FILEREAD = MakeAviError(109);
inline constexpr HRESULT AVIERR_FILEWRITE = MakeAviError(110);
inline constexpr HRESULT AVIERR_FILEOPEN = MakeAviError(111);
inline constexpr HRESULT AVIERR_COMPRESSOR = MakeAviError(112);
inline constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviError(113);
inline constexpr HRESULT AVIERR_READONLY = MakeAviError(114);
inline constexpr HRESULT AVIERR_NODATA = MakeAviError(115);
inline constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviError(116);
inline constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviError(117);
inline constexpr HRESULT AVIERR_USERABORT = MakeAviError(198); // 0x800440C6
inline constexpr HRESULT AVIERR_ERROR = MakeAviError(199);

// File open modes.
inline constexpr uint32_t OF_READ = 0x0000;
inline constexpr uint32_t OF_WRITE = 0x0001;
inline constexpr uint32_t OF_READWRITE = 0x0002;
inline constexpr uint32_t OF_CREATE = 0x1000;

// Sample flags.
inline constexpr uint32_t AVIIF_LIST = 0x01;
inline constexpr uint32_t AVIIF_KEYFRAME = 0x10;

inline constexpr int32_t AVISTREAMREAD_CONVENIENT = -1;

// The stream header record (the platform's ANSI layout, 140 bytes).
struct AVISTREAMINFO {
    FOURCC fccType = 0;
    FOURCC fccHandler = 0;
    uint32_t dwFlags = 0;
    uint32_t dwCaps = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwScale = 0;
    uint32_t dwRate = 0;
    uint32_t dwStart = 0;
    uint32_t dwLength = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = 0;
    uint32_t dwSampleSize = 0;
    TRect rcFrame;
    uint32_t dwEditCount = 0;
    uint32_t dwFormatChangeCount = 0;
    char szName[64] = {};
};
static_assert(sizeof(AVISTREAMINFO) == 140);
