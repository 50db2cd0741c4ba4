#include "platform/vcm/Vcm.h"

#include "platform/vcm/ChooseDialog.h"
#include "platform/vcm/Encoder.h"

#include <algorithm>
#include <cctype>
#include <utility>

// One compressor chosen by the user: the encoder it names and, while a frame sequence runs,
// the encoder session.
class TCompressor {
public:
    explicit TCompressor(vcm::Candidate candidate) : candidate_(candidate) {}

    bool Begin(const BITMAPINFOHEADER& input, const vcm::Settings& settings) {
        encoder_ = vcm::Encoder::Open(candidate_, input, settings);
        if (!encoder_) return false;
        input_ = input;
        output_ = encoder_->OutputFormat();
        return true;
    }
    void End() { encoder_.reset(); }
    vcm::Encoder* Session() const { return encoder_.get(); }
    BITMAPINFOHEADER* Input() { return &input_; }
    // The compressed format; stays valid until the compressor is freed.
    BITMAPINFOHEADER* Output() { return reinterpret_cast<BITMAPINFOHEADER*>(output_.data()); }

private:
    vcm::Candidate candidate_;
    std::unique_ptr<vcm::Encoder> encoder_;
    BITMAPINFOHEADER input_;
    std::vector<uint8_t> output_;
};

namespace {

std::vector<TCompressorInfo> InfosOf(const std::vector<vcm::Candidate>& candidates) {
    std::vector<TCompressorInfo> infos;
    for (const vcm::Candidate& c : candidates) {
        const char code[] = {static_cast<char>(c.fccHandler), static_cast<char>(c.fccHandler >> 8),
                             static_cast<char>(c.fccHandler >> 16),
                             static_cast<char>(c.fccHandler >> 24)};
        TCompressorInfo info;
        info.fccHandler = c.fccHandler;
        info.encoderName = c.name;
        info.name = c.longName + " [" + std::string(code, sizeof code) + "]";
        infos.push_back(std::move(info));
    }
    const auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    std::stable_sort(infos.begin(), infos.end(),
                     [&](const auto& a, const auto& b) { return lower(a.name) < lower(b.name); });
    return infos;
}

// The compressors the dialog offers: those taking Input, or all of them.
std::vector<vcm::Candidate> Offered(uint32_t flags, const BITMAPINFOHEADER* input) {
    constexpr int defaultBits = 24;
    if (input == nullptr || (flags & ICMF_CHOOSE_ALLCOMPRESSORS))
        return vcm::AllCandidates(input != nullptr ? input->biBitCount : defaultBits);
    return vcm::Candidates(*input);
}

vcm::Settings SettingsOf(const COMPVARS& compvars) {
    vcm::Settings settings;
    settings.quality = compvars.lQ;
    settings.keyFrameEvery = compvars.lKey;
    settings.dataRate = compvars.lDataRate;
    return settings;
}

} // namespace

std::vector<TCompressorInfo> ICCompressorList(const BITMAPINFOHEADER& input) {
    return InfosOf(vcm::Candidates(input));
}

bool ICCompressorChoose(QWidget* owner, uint32_t flags, const BITMAPINFOHEADER* input,
                        const void* stateData, COMPVARS* compvars, const std::string& title) {
    if (compvars == nullptr) return false;
    const auto offered = Offered(flags, input);
    vcm::ChooseContext context;
    context.compressors = InfosOf(offered);
    context.flags = flags;
    context.title = title;
    if (input != nullptr && (flags & ICMF_CHOOSE_PREVIEW)) {
        context.preview = *input;
        context.previewBits = stateData;
    }
    context.initial.fccHandler = compvars->fccHandler;
    context.initial.quality = compvars->lQ;
    context.initial.keyFrameEvery = compvars->lKey;
    context.initial.dataRate = compvars->lDataRate;
    const auto choice = vcm::AskChooseCompressor(owner, context);
    if (!choice) return false;
    const auto chosen = std::find_if(offered.begin(), offered.end(), [&](const vcm::Candidate& c) {
        return c.fccHandler == choice->fccHandler;
    });
    if (choice->fccHandler != comptypeDIB && chosen == offered.end()) return false;

    ICCompressorFree(compvars);
    compvars->dwFlags |= ICMF_COMPVARS_VALID;
    compvars->fccType = ICTYPE_VIDEO;
    compvars->fccHandler = choice->fccHandler;
    compvars->lQ = std::clamp(choice->quality, ICQUALITY_DEFAULT, ICQUALITY_HIGH);
    if (flags & ICMF_CHOOSE_KEYFRAME) compvars->lKey = std::max(choice->keyFrameEvery, 0);
    if (flags & ICMF_CHOOSE_DATARATE) compvars->lDataRate = std::max(choice->dataRate, 0);
    if (chosen != offered.end()) compvars->hic = std::make_unique<TCompressor>(*chosen).release();
    return true;
}

bool ICSeqCompressFrameStart(COMPVARS* compvars, const BITMAPINFOHEADER* input) {
    if (compvars == nullptr || input == nullptr || compvars->fccHandler == comptypeDIB)
        return false;
    // A record filled by hand names its handler without an open compressor.
    if (compvars->hic == nullptr) {
        const auto candidate = vcm::FindCandidate(*input, compvars->fccHandler);
        if (!candidate) return false;
        compvars->hic = std::make_unique<TCompressor>(*candidate).release();
    }
    if (!compvars->hic->Begin(*input, SettingsOf(*compvars))) return false;
    compvars->lpbiIn = compvars->hic->Input();
    compvars->lpbiOut = compvars->hic->Output();
    compvars->lFrame = 0;
    compvars->lKeyCount = 0;
    return true;
}

const void* ICSeqCompressFrame(COMPVARS* compvars, uint32_t /*flags*/, const void* bits, bool* key,
                               int32_t* size) {
    if (compvars == nullptr || compvars->hic == nullptr) return nullptr;
    vcm::Encoder* session = compvars->hic->Session();
    if (session == nullptr) return nullptr;
    const uint8_t* data = nullptr;
    int32_t packetSize = 0;
    bool isKey = false;
    if (!session->Compress(bits, false, data, packetSize, isKey)) return nullptr;
    ++compvars->lFrame;
    compvars->lKeyCount = isKey ? 0 : compvars->lKeyCount + 1;
    if (key != nullptr) *key = isKey;
    if (size != nullptr) *size = packetSize;
    return data;
}

void ICSeqCompressFrameEnd(COMPVARS* compvars) {
    if (compvars != nullptr && compvars->hic != nullptr) compvars->hic->End();
}

void ICCompressorFree(COMPVARS* compvars) {
    if (compvars == nullptr || compvars->hic == nullptr) return;
    std::unique_ptr<TCompressor> owned(compvars->hic);
    compvars->hic = nullptr;
    compvars->lpbiIn = nullptr;
    compvars->lpbiOut = nullptr;
}
