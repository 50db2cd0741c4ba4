#include "platform/graphics/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"

namespace {

// Limits that keep a hostile file from taking the machine: the compressed data read into
// memory, the decoded picture, libjpeg's own buffers (a progressive file keeps every
// coefficient of the picture), and the time: each scan is a pass over the blocks it covers.
// Encoders write a handful of scans (libjpeg's progression 10, its finest scripts a few
// dozen); a file of more is built to waste time, and so is one whose scans together visit
// more blocks than some twenty passes over the largest picture would.
constexpr int64_t MaxJpegFileBytes = int64_t{1} << 30;
constexpr uint64_t MaxJpegPixels = uint64_t{1} << 27;
constexpr long MaxJpegWorkMemory = 1L << 30;
constexpr int MaxJpegScans = 100;
constexpr uint64_t MaxJpegScanBlocks = uint64_t{1} << 26;
// Huffman coding spends at least one bit on every block's DC value.
constexpr uint64_t MinHuffmanBitsPerBlock = 1;
constexpr const char* PrematureEnd = "Premature end of JPEG file";

constexpr int BgrBytes = 3;
constexpr int CmykBytes = 4;

// ---------------------------------------------------------------- the libjpeg side
//
// libjpeg reports errors by a longjmp out of its error handler. Everything below up to the
// end of this section is plain data and plain functions, so the jump skips no destructor;
// the C++ side raises the exception after these functions have returned.

struct JpegDecodeState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errorManager;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool created;
    bool cmyk;
    bool adobeInverted;
    bool multiScan; // known once the header is read
    int lastScan;
    uint64_t scanBlocks;
};

JpegDecodeState* StateOf(j_common_ptr cinfo) {
    return static_cast<JpegDecodeState*>(cinfo->client_data);
}

void SetMessage(JpegDecodeState* state, const char* text) {
    std::snprintf(state->message, sizeof state->message, "%s", text);
}

[[noreturn]] void FailWith(JpegDecodeState* state, const char* text) {
    SetMessage(state, text);
    std::longjmp(state->jump, 1);
}

// Warnings about the file's extras, not its picture.
bool HarmlessWarning(int code) {
    return code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC;
}

// Data that ends while rows are still to come: every later scan and every later row of the
// only scan is missing. A single-scan file that lacks only its end marker ends here too, when
// the decoder reads ahead in its last row of blocks; its picture is whole.
bool EndsBeforeThePicture(const JpegDecodeState* state) {
    const jpeg_decompress_struct& d = state->cinfo;
    return state->multiScan || d.input_iMCU_row + 1 < d.total_iMCU_rows;
}

extern "C" {

static void OnJpegError(j_common_ptr cinfo) {
    JpegDecodeState* state = StateOf(cinfo);
    (*cinfo->err->format_message)(cinfo, state->message);
    std::longjmp(state->jump, 1);
}

// libjpeg's warnings are damage it would paper over with grey: each one is a failed read, at
// once, before the rest of the picture costs any time.
static void OnJpegMessage(j_common_ptr cinfo, int level) {
    const int code = cinfo->err->msg_code;
    if (level >= 0 || HarmlessWarning(code)) return;
    if (code == JWRN_JPEG_EOF && !EndsBeforeThePicture(StateOf(cinfo))) return;
    OnJpegError(cinfo);
}

// Called before each step of input; a new scan is counted with the blocks it will visit.
static void OnJpegProgress(j_common_ptr cinfo) {
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    JpegDecodeState* state = StateOf(cinfo);
    if (d->input_scan_number == state->lastScan || d->comps_in_scan <= 0) return;
    state->lastScan = d->input_scan_number;
    if (d->input_scan_number > MaxJpegScans) FailWith(state, Msg::JPEGTooManyScans);
    const jpeg_component_info* first = d->cur_comp_info[0];
    state->scanBlocks += d->comps_in_scan == 1
                             ? uint64_t{first->width_in_blocks} * first->height_in_blocks
                             : uint64_t{d->MCUs_per_row} * d->MCU_rows_in_scan *
                                   static_cast<uint64_t>(d->blocks_in_MCU);
    if (state->scanBlocks > MaxJpegScanBlocks) FailWith(state, Msg::JPEGTooManyScans);
}

} // extern "C"

// Photoshop stores CMYK inverted (255 = no ink) and marks it with an Adobe marker.
void CmykToBgr(const uint8_t* cmyk, uint8_t* bgr, unsigned width, bool inverted) {
    const unsigned flip = inverted ? 0 : 255;
    for (unsigned x = 0; x < width; ++x, cmyk += CmykBytes, bgr += BgrBytes) {
        const unsigned c = cmyk[0] ^ flip, m = cmyk[1] ^ flip, y = cmyk[2] ^ flip;
        const unsigned k = cmyk[3] ^ flip;
        bgr[0] = static_cast<uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

// Reads the markers up to the first scan and chooses the output colours.
bool JpegReadHeader(JpegDecodeState* state, const uint8_t* data, size_t size) {
    state->cinfo.err = jpeg_std_error(&state->errorManager);
    state->errorManager.error_exit = OnJpegError;
    state->errorManager.emit_message = OnJpegMessage;
    state->cinfo.client_data = state;
    if (setjmp(state->jump) != 0) return false;

    state->created = true;
    jpeg_create_decompress(&state->cinfo);
    state->cinfo.mem->max_memory_to_use = MaxJpegWorkMemory;
    state->progress.progress_monitor = OnJpegProgress;
    state->cinfo.progress = &state->progress;
    jpeg_mem_src(&state->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&state->cinfo, TRUE);
    state->multiScan = jpeg_has_multiple_scans(&state->cinfo) != 0;

    switch (state->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        state->cinfo.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        state->cinfo.out_color_space = JCS_CMYK;
        state->cmyk = true;
        state->adobeInverted = state->cinfo.saw_Adobe_marker != 0;
        break;
    default:
        SetMessage(state, Msg::JPEGColorSpace);
        return false;
    }
    jpeg_calc_output_dimensions(&state->cinfo);
    return true;
}

// Blocks of all components, each of which a Huffman-coded file must spend bits on.
uint64_t TotalBlocks(const jpeg_decompress_struct& cinfo) {
    uint64_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i)
        blocks +=
            uint64_t{cinfo.comp_info[i].width_in_blocks} * cinfo.comp_info[i].height_in_blocks;
    return blocks;
}

// Decodes every row into Rows (blue, green, red); CMYK rows pass through CmykRow.
bool JpegReadPixels(JpegDecodeState* state, uint8_t* const* rows, uint8_t* cmykRow) {
    const JDIMENSION width = state->cinfo.output_width;
    const JDIMENSION height = state->cinfo.output_height;
    if (setjmp(state->jump) != 0) return false;

    jpeg_start_decompress(&state->cinfo);
    const int components = state->cmyk ? CmykBytes : BgrBytes;
    if (state->cinfo.output_width != width || state->cinfo.output_height != height ||
        state->cinfo.output_components != components) {
        SetMessage(state, Msg::JPEGColorSpace);
        return false;
    }
    // Damaged or missing data stops the decoding at the warning (see OnJpegMessage).
    while (state->cinfo.output_scanline < height) {
        uint8_t* target = rows[state->cinfo.output_scanline];
        JSAMPROW row = state->cmyk ? cmykRow : target;
        if (jpeg_read_scanlines(&state->cinfo, &row, 1) != 1) break;
        if (state->cmyk) CmykToBgr(cmykRow, target, width, state->adobeInverted);
    }
    if (state->cinfo.output_scanline < height) {
        SetMessage(state, PrematureEnd);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- the C++ side

class JpegDecoder {
public:
    JpegDecoder() = default;
    ~JpegDecoder() {
        if (state_.created) jpeg_destroy_decompress(&state_.cinfo);
    }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    std::unique_ptr<TBitmap> Decode(const std::vector<uint8_t>& data) {
        if (!JpegReadHeader(&state_, data.data(), data.size())) Fail();
        const JDIMENSION width = state_.cinfo.output_width;
        const JDIMENSION height = state_.cinfo.output_height;
        if (uint64_t{width} * height > MaxJpegPixels) throw EJPEG(Msg::JPEGTooLarge);
        // A size that the data cannot hold is refused before any of it is decoded.
        if (!state_.cinfo.arith_code &&
            TotalBlocks(state_.cinfo) * MinHuffmanBitsPerBlock > uint64_t{8} * data.size())
            throw EJPEG(PrematureEnd);

        // The decoder writes every pixel of a picture it returns; only the padding is cleared.
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetPixelFormat(pf24bit);
        bitmap->SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));
        const size_t pixelBytes = size_t{width} * BgrBytes;
        const auto padding = static_cast<size_t>(bitmap->RowBytes()) - pixelBytes;
        std::vector<uint8_t*> rows(height);
        for (JDIMENSION y = 0; y < height; ++y) {
            rows[y] = bitmap->ScanLine(static_cast<int>(y));
            std::memset(rows[y] + pixelBytes, 0, padding);
        }
        std::vector<uint8_t> cmykRow(state_.cmyk ? size_t{width} * CmykBytes : 0);
        if (!JpegReadPixels(&state_, rows.data(), cmykRow.data())) Fail();
        return bitmap;
    }

private:
    [[noreturn]] void Fail() const { throw EJPEG(state_.message); }
    JpegDecodeState state_{};
};

std::vector<uint8_t> ReadToEnd(TStream& stream) {
    const int64_t remaining = stream.Size() - stream.Position();
    if (remaining > MaxJpegFileBytes) throw EJPEG(Msg::JPEGTooLarge);
    std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(remaining, 0)));
    stream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    return data;
}

} // namespace

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Assign(const TGraphic* source) {
    if (source == this) return;
    if (source == nullptr) {
        data_.clear();
        bitmap_.reset();
        Changed();
        return;
    }
    if (const auto* other = dynamic_cast<const TJPEGImage*>(source)) {
        data_ = other->data_;
        bitmap_.reset();
        if (other->bitmap_) {
            bitmap_ = std::make_unique<TBitmap>();
            bitmap_->Assign(other->bitmap_.get());
        }
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TJPEGImage::AssignTo(TGraphic& dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(bitmap_.get());
        return true;
    }
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(&dest)) {
        jpeg->Assign(this);
        return true;
    }
    return false;
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) const {
    if (bitmap_) canvas.StretchDraw(rect, *bitmap_);
}

bool TJPEGImage::Empty() const {
    return !bitmap_ || bitmap_->Empty();
}
int TJPEGImage::Width() const {
    return bitmap_ ? bitmap_->Width() : 0;
}
int TJPEGImage::Height() const {
    return bitmap_ ? bitmap_->Height() : 0;
}

void TJPEGImage::LoadFromStream(TStream& stream) {
    std::vector<uint8_t> data = ReadToEnd(stream);
    std::unique_ptr<TBitmap> picture = JpegDecoder().Decode(data);
    data_ = std::move(data);
    bitmap_ = std::move(picture);
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) {
    stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

std::vector<TPicture::FileFormat> JPEGFileFormats() {
    const TGraphicClass jpeg = GraphicClassOf<TJPEGImage>();
    return {{"jpg", "JPEG Image File", jpeg}, {"jpeg", "JPEG Image File", jpeg}};
}
