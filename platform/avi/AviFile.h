// The AVI file services: RIFF AVI files (OpenDML past 1 GiB) written and read by our own
// code behind the handle-based calls the programs were designed for. Every call returns a
// result code; none throws.
#pragma once

#include "platform/avi/AviTypes.h"
#include "platform/rtl/NewFiles.h"

#include <cstdint>
#include <functional>
#include <string>

class TAviFile;
class TAviStream;
using PAVIFILE = TAviFile*;
using PAVISTREAM = TAviStream*;

// Nothing to set up or tear down: the pair is kept for callers that bracket their use of the
// library with it, each AVIFileInit matched by one AVIFileExit.
inline void AVIFileInit() {}
inline void AVIFileExit() {}

// Mode: OF_READ, OF_READWRITE, or OF_WRITE | OF_CREATE (a new file replacing any old one).
// The handler class is not used (the platform's file handler is always ours).
HRESULT AVIFileOpen(PAVIFILE* file, const std::string& path, uint32_t mode,
                    const void* handlerClass = nullptr);
// A new AVI file written into File, an open, empty file that the caller keeps (one that gets its
// name only when it is complete, say); Name stands for it where a file's name is asked for.
HRESULT AVIFileCreate(PAVIFILE* file, const TFileHandle& target, const std::string& name);
// Finishes a file opened for writing now: final headers and indexes written, data flushed and the
// file closed. AVIERR_OK when every byte reached the file. Otherwise AVIERR_FILEWRITE, and the
// file is still a movie of the samples that reached it, or of fewer when their indexes needed the
// room of the last ones (AVIStreamLength tells how many), or an empty file when not even its
// headers fit. Later writes to its streams fail; a second call returns the first result; a file
// opened for reading: AVIERR_OK.
HRESULT AVIFileFinish(PAVIFILE file);
// Releases one reference and returns the new reference count; the last release of a file opened
// for writing finishes it when AVIFileFinish has not (its result is then lost).
uint32_t AVIFileRelease(PAVIFILE file);

HRESULT AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFO& info);
// The Number-th stream of type FccType (0 for any type); an error when there is none.
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, FOURCC fccType, int32_t number);
uint32_t AVIStreamRelease(PAVISTREAM stream);

HRESULT AVIStreamSetFormat(PAVISTREAM stream, int32_t position, const void* format,
                           int32_t formatSize);
// Format null: only FormatSize is set, to the format's size.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, int32_t position, void* format, int32_t* formatSize);
HRESULT AVIStreamInfo(PAVISTREAM stream, AVISTREAMINFO* info, int32_t infoSize);
int32_t AVIStreamStart(PAVISTREAM stream);
int32_t AVIStreamLength(PAVISTREAM stream);

// Samples AVISTREAMREAD_CONVENIENT: as many as make a convenient block (for video one frame).
// Buffer null: only the sizes of that block are returned in Bytes and SamplesRead.
HRESULT AVIStreamRead(PAVISTREAM stream, int32_t start, int32_t samples, void* buffer,
                      int32_t bufferSize, int32_t* bytes, int32_t* samplesRead);
// The platform's key-frame test: True when the sample at Position of a stream opened for
// reading is a key frame (every sample of a stream with a sample size, such as audio, is).
bool AVIStreamIsKeyFrame(PAVISTREAM stream, int32_t position);
HRESULT AVIStreamWrite(PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,
                       int32_t bufferSize, uint32_t flags, int32_t* samplesWritten,
                       int32_t* bytesWritten);

// Copies Source into a new stream of Target: its header (length and suggested buffer size start
// at 0), its format, and every sample with its key-frame flag. Progress, when set, is called
// after each block with the number of samples copied in it; false stops the copy with
// AVIERR_USERABORT. Blocks are read into one reused buffer (no allocation per sample).
HRESULT AVIStreamCopy(PAVISTREAM source, PAVIFILE target,
                      const std::function<bool(int32_t samples)>& progress = {});
