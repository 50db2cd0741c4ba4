// Saving a stream into a new AVI file through a compressor the user picked in the save-options
// dialog (the compressor list and dialog of platform/vcm).
#pragma once

#include "platform/avi/AviFile.h"

#include <cstdint>
#include <string>

class QWidget;

inline constexpr uint32_t AVICOMPRESSF_INTERLEAVE = 0x01;
inline constexpr uint32_t AVICOMPRESSF_DATARATE = 0x02;
inline constexpr uint32_t AVICOMPRESSF_KEYFRAMES = 0x04;
inline constexpr uint32_t AVICOMPRESSF_VALID = 0x08;

// The compression options of one stream, as the save-options dialog fills them.
struct AVICOMPRESSOPTIONS {
    FOURCC fccType = 0;
    FOURCC fccHandler = 0; // comptypeDIB: no compressor
    uint32_t dwKeyFrameEvery = 0;
    uint32_t dwQuality = 0;
    uint32_t dwBytesPerSecond = 0;
    uint32_t dwFlags = 0;
    void* lpFormat = nullptr; // owned by the dialog until AVISaveOptionsFree
    uint32_t cbFormat = 0;
    void* lpParms = nullptr; // owned by the dialog until AVISaveOptionsFree
    uint32_t cbParms = 0;
    uint32_t dwInterleaveEvery = 0;
};
using LPAVICOMPRESSOPTIONS = AVICOMPRESSOPTIONS*;

// Called with the percentage written; a non-zero result stops the save.
using AVISAVECALLBACK = int32_t (*)(int32_t percent);

// Flags: the ICMF_CHOOSE_* of platform/vcm. Shows the dialog for each of the Streams streams;
// the user's choice goes into Options (the handler stays as it was when the user cancels).
// True when the user confirmed.
bool AVISaveOptions(QWidget* owner, uint32_t flags, int32_t streams, PAVISTREAM* streamList,
                    LPAVICOMPRESSOPTIONS* options);
// Frees what AVISaveOptions allocated in each of the Streams option records.
HRESULT AVISaveOptionsFree(int32_t streams, LPAVICOMPRESSOPTIONS* options);
// Writes the Streams streams into a new file at Path, each through the compressor its options
// name; calls Callback with the percentage and stops with AVIERR_USERABORT as soon as it
// returns non-zero. AVIERR_OK only when every stream was written whole and the file finished
// (AVIERR_FILEWRITE when it could not be); on failure the caller removes the file.
HRESULT AVISaveV(const std::string& path, const void* handlerClass, AVISAVECALLBACK callback,
                 int32_t streams, PAVISTREAM* streamList, LPAVICOMPRESSOPTIONS* options);
// The same into File, new and opened for writing by the caller, who releases it.
HRESULT AVISaveV(PAVIFILE file, AVISAVECALLBACK callback, int32_t streams, PAVISTREAM* streamList,
                 LPAVICOMPRESSOPTIONS* options);
