#include "common/KRLStream.h"

#include "common/SFunc.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------- progress

void TKRLProgressBlock::Begin() {
    ProgressBase = 0;
    ProgressLast = 0;
    PhaseShare = 0;
    ProgressLeft = 99;
}

void TKRLProgressBlock::BeginPhase(int64_t total, int32_t percent) {
    ProgressBase += PhaseShare;
    ProgressLast = ProgressBase;
    ProgressLeft -= PhaseShare;
    PhaseTotal = total == 0 ? 1 : total;
    PhaseShare = percent > 0 && percent < 100 ? percent * ProgressLeft / 100 : ProgressLeft;
}

bool TKRLProgressBlock::Advance(int64_t advance) {
    if (ProgressBase + advance <= ProgressLast) return false;
    ProgressLast = static_cast<int32_t>(ProgressBase + advance);
    return true;
}

namespace {

// The target bitmap's progress event; a handler cannot stop the codec.
void ReportProgress(TBitmap* bitmap, int32_t percent, const std::string& text) {
    if (bitmap == nullptr || !bitmap->OnProgress) return;
    TProgressStage stage = psRunning;
    if (percent == 0) {
        stage = psStarting;
    } else if (percent < 1 || percent > 99) {
        stage = psEnding;
        percent = 100;
    }
    bitmap->Progress(bitmap, stage, static_cast<uint8_t>(percent), false, TRect{}, text);
}

} // namespace

// ---------------------------------------------------------------- reading

bool TKRLCustomReadStream::Progress(int32_t) {
    return false;
}

void TKRLCustomReadStream::BeginRead(TStream& source, int64_t length) {
    source_ = &source;
    startPosition_ = source.Position();
    auto* memory = dynamic_cast<TMemoryStream*>(&source);
    available_ = length > 0 ? length : source.Size() - startPosition_;
    // Memory is read in place, so never past its end.
    if (memory != nullptr) available_ = std::min(available_, memory->Size() - startPosition_);
    consumed_ = 0;
    Stopped = false;
    Failed = false;
    MacBinaryFound = false;
    inBuffer_ = 0;
    if (available_ <= 0) {
        Failed = true;
        return;
    }
    if (memory != nullptr) {
        buffer_.reset();
        cursor_ = memory->Memory() + startPosition_;
        inBuffer_ = available_;
    } else {
        if (!buffer_) buffer_ = std::make_unique_for_overwrite<uint8_t[]>(KRLStreamBufferSize);
        cursor_ = buffer_.get();
        Fill(0);
    }
    if (CheckMacBinary && available_ > MacBinaryHeaderSize) {
        if (cursor_[0] == 0 && cursor_[74] == 0) {
            MacBinaryFound = true;
            cursor_ += MacBinaryHeaderSize;
            consumed_ = MacBinaryHeaderSize;
            inBuffer_ -= MacBinaryHeaderSize;
        }
    }
}

void TKRLCustomReadStream::EndRead() {
    buffer_.reset();
    cursor_ = nullptr;
    inBuffer_ = 0;
    if (source_ != nullptr) source_->Seek(startPosition_ + consumed_, soBeginning);
    source_ = nullptr;
}

void TKRLCustomReadStream::Fill(int32_t keep) {
    const int64_t unread = available_ - consumed_ - keep;
    const int64_t count = std::min<int64_t>(unread, KRLStreamBufferSize - keep);
    if (count > 0) source_->ReadBuffer(buffer_.get() + keep, count);
    inBuffer_ = keep + std::max<int64_t>(count, 0);
    cursor_ = buffer_.get();
}

// False (and Failed set) when Count bytes are not there; otherwise they are in the buffer.
bool TKRLCustomReadStream::Want(int64_t count) {
    if (Failed || Stopped) return false;
    if (consumed_ + count > available_) {
        Failed = true;
        return false;
    }
    if (inBuffer_ < count) {
        // Only a buffered source gets here: memory holds everything up to Available.
        const auto keep = static_cast<int32_t>(inBuffer_);
        std::memmove(buffer_.get(), cursor_, static_cast<size_t>(keep));
        Fill(keep);
    }
    return true;
}

const uint8_t* TKRLCustomReadStream::Take(int32_t count) {
    const uint8_t* at = cursor_;
    cursor_ += count;
    inBuffer_ -= count;
    consumed_ += count;
    return at;
}

uint8_t TKRLCustomReadStream::ReadByte() {
    if (!Want(1)) return 0;
    return *Take(1);
}

uint16_t TKRLCustomReadStream::ReadWordBE() {
    if (!Want(2)) return 0;
    const uint8_t* p = Take(2);
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t TKRLCustomReadStream::ReadLongBE() {
    if (!Want(4)) return 0;
    const uint8_t* p = Take(4);
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// False when a block of Count bytes is not to be read: none asked stops the reading, more than are
// left fails it.
bool TKRLCustomReadStream::BlockWanted(int32_t count) {
    if (Failed || Stopped) return false;
    if (count <= 0) {
        Stopped = true;
        return false;
    }
    if (consumed_ + count > available_) {
        Failed = true;
        return false;
    }
    return true;
}

void TKRLCustomReadStream::ReadBlock(void* dest, int32_t count) {
    if (!BlockWanted(count)) return;
    auto* out = static_cast<uint8_t*>(dest);
    if (inBuffer_ < count) {
        const auto buffered = static_cast<int32_t>(inBuffer_);
        std::memcpy(out, cursor_, static_cast<size_t>(buffered));
        Take(buffered);
        out += buffered;
        count -= buffered;
        if (count > KRLStreamBufferSize - 1) {
            // All but the last buffer load go straight to the destination.
            const int32_t direct = count - KRLStreamBufferSize;
            source_->ReadBuffer(out, direct);
            consumed_ += direct;
            out += direct;
            count -= direct;
        }
        Fill(0);
    }
    std::memcpy(out, Take(count), static_cast<size_t>(count));
}

void TKRLCustomReadStream::Skip(int32_t count) {
    if (!BlockWanted(count)) return;
    if (inBuffer_ >= count) {
        Take(count);
        return;
    }
    source_->Seek(count - inBuffer_, soCurrent);
    consumed_ += count;
    inBuffer_ = 0;
    cursor_ = buffer_.get();
}

void TKRLCustomReadStream::BeginProgress() {
    progress_.Begin();
    Stopped = false;
    Stopped = Progress(0);
}

void TKRLCustomReadStream::BeginProgressPhase(int32_t mode, int64_t total, int32_t percent) {
    progress_.PhaseMode = mode;
    if (mode == 0) {
        total = available_;
        PhaseStart = consumed_;
    }
    progress_.BeginPhase(total, percent);
}

void TKRLCustomReadStream::UpdateProgress(int64_t value) {
    const auto& p = progress_;
    int64_t advance = p.PhaseShare;
    if (p.PhaseMode == 0)
        advance = p.PhaseShare * (consumed_ - PhaseStart) / p.PhaseTotal;
    else if (value < p.PhaseTotal)
        advance = p.PhaseShare * value / p.PhaseTotal;
    if (!progress_.Advance(advance)) return;
    if (p.PhaseMode != 0) PhaseCount = value;
    if (Progress(progress_.ProgressLast)) Stopped = true;
}

void TKRLCustomReadStream::EndProgress() {
    if (Progress(100)) Stopped = true;
}

// ---------------------------------------------------------------- graphic reading

TKRLCustomGraphicReadStream::TKRLCustomGraphicReadStream() {
    CheckMacBinary = true;
}

bool TKRLCustomGraphicReadStream::Progress(int32_t percent) {
    if (!NoTarget) ReportProgress(Target, percent, ProgressText);
    return false;
}

RGBQUAD* TKRLCustomGraphicReadStream::PaletteBuffer() {
    if (!paletteBuffer_) paletteBuffer_ = std::make_unique<std::array<RGBQUAD, 256>>();
    return paletteBuffer_->data();
}

void TKRLCustomGraphicReadStream::ReadFromStream(TBitmap* bitmap, TStream& source, int64_t length) {
    Target = bitmap;
    NoTarget = bitmap == nullptr;
    // Building the image fires no change events.
    TNotifyEvent onChange;
    if (bitmap != nullptr) std::swap(onChange, bitmap->OnChange);
    const auto finish = [&] {
        if (bitmap != nullptr) bitmap->OnChange = std::move(onChange);
        FreePaletteBuffer();
        EndRead();
    };
    try {
        BeginRead(source, length);
        Comment.clear();
        PaletteCount = 0;
        PhysUnit = 0;
        PixelsPerUnitX = 0;
        PixelsPerUnitY = 0;
        ReadImage();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TKRLCustomGraphicReadStream::SetupBitmap() {
    if (NoTarget) return;
    Target->Assign(nullptr);
    Target->SetTransparent(false);
    Target->SetPixelFormat(PixelFormatFromBits(BitsPerPixel));
    if (OverwriteTarget) {
        TargetFillRow = Target->SetSizeForOverwrite(Width, Height);
    } else {
        Target->SetSize(Width, Height);
    }
    if (HasPaletteBuffer())
        Target->SetPalette(CreatePaletteFromQuads(PaletteBuffer(), PaletteCount));
}

// ---------------------------------------------------------------- writing

TKRLCustomWriteStream::TKRLCustomWriteStream()
    : buffer_(std::make_unique_for_overwrite<uint8_t[]>(KRLStreamBufferSize)),
      cursor_(buffer_.get()) {}

bool TKRLCustomWriteStream::Progress(int32_t) {
    return false;
}

void TKRLCustomWriteStream::BeginWrite(TStream& destination) {
    Destination = &destination;
    cursor_ = buffer_.get();
    written_ = 0;
    inBuffer_ = 0;
}

void TKRLCustomWriteStream::FlushBuffer() {
    if (inBuffer_ == 0) return;
    Destination->WriteBuffer(buffer_.get(), inBuffer_);
    written_ += inBuffer_;
    inBuffer_ = 0;
    cursor_ = buffer_.get();
}

void TKRLCustomWriteStream::FlushPending() {
    if (inBuffer_ > 0) FlushBuffer();
}

void TKRLCustomWriteStream::WriteBlock(const void* data, int32_t count) {
    if (Stopped) return;
    if (count == 0) {
        Stopped = true;
        return;
    }
    if (count < 0) return;
    if (count < KRLDirectWriteSize) {
        if (inBuffer_ + count > KRLStreamBufferSize - 1) FlushBuffer();
        std::memcpy(cursor_, data, static_cast<size_t>(count));
        cursor_ += count;
        inBuffer_ += count;
        return;
    }
    FlushBuffer();
    Destination->WriteBuffer(data, count);
    written_ += count;
}

void TKRLCustomWriteStream::WriteLongBE(uint32_t value) {
    if (Stopped) return;
    if (inBuffer_ + 4 > KRLStreamBufferSize - 1) FlushBuffer();
    cursor_[0] = static_cast<uint8_t>(value >> 24);
    cursor_[1] = static_cast<uint8_t>(value >> 16);
    cursor_[2] = static_cast<uint8_t>(value >> 8);
    cursor_[3] = static_cast<uint8_t>(value);
    cursor_ += 4;
    inBuffer_ += 4;
}

void TKRLCustomWriteStream::BeginProgress() {
    progress_.Begin();
    Stopped = false;
    Stopped = Progress(0);
}

void TKRLCustomWriteStream::BeginProgressPhase(int32_t, int64_t total, int32_t percent) {
    progress_.PhaseMode = 1;
    progress_.BeginPhase(total, percent);
}

void TKRLCustomWriteStream::UpdateProgress(int64_t value) {
    if (!progress_.Advance(value * progress_.PhaseShare / progress_.PhaseTotal)) return;
    if (Progress(progress_.ProgressLast)) Stopped = true;
}

void TKRLCustomWriteStream::EndProgress() {
    if (Progress(100)) Stopped = true;
}

bool TKRLCustomGraphicWriteStream::Progress(int32_t percent) {
    ReportProgress(Source, percent, ProgressText);
    return false;
}

void TKRLCustomGraphicWriteStream::WriteToStream(TBitmap& bitmap, TStream& destination) {
    BeginWrite(destination);
    Source = &bitmap;
    WriteImage();
    FlushPending();
}

// ---------------------------------------------------------------- pixel formats

TPixelFormat PixelFormatFromBits(int32_t bits) {
    switch (bits) {
    case 1:
        return pf1bit;
    case 4:
        return pf4bit;
    case 8:
        return pf8bit;
    case 15:
        return pf15bit;
    case 16:
        return pf16bit;
    case 32:
        return pf32bit;
    default:
        return pf24bit;
    }
}
