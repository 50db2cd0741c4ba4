// The compressor choose dialog: "全フレーム (非圧縮)" and the compressors, quality, key-frame
// and data-rate settings and a preview; asked through the dialogs facade first.
#pragma once

#include "platform/vcm/Vcm.h"

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QSlider;
class QSpinBox;

namespace vcm {

// What the user picked (handler comptypeDIB: full frames).
struct ChooseChoice {
    uint32_t fccHandler = comptypeDIB;
    int32_t quality = ICQUALITY_DEFAULT;
    int32_t keyFrameEvery = 0;
    int32_t dataRate = 0; // kilobytes per second
};

struct ChooseContext {
    std::string title;
    uint32_t flags = 0; // ICMF_CHOOSE_*
    std::vector<TCompressorInfo> compressors;
    // ICMF_CHOOSE_PREVIEW: a frame in this format to show through the chosen compressor.
    std::optional<BITMAPINFOHEADER> preview;
    const void* previewBits = nullptr;
    ChooseChoice initial;
};

// The scripted answer when one is installed, else the dialog; nothing when cancelled.
std::optional<ChooseChoice> AskChooseCompressor(QWidget* owner, const ChooseContext& context);

class TChooseCompressorDialog : public QDialog {
public:
    TChooseCompressorDialog(QWidget* owner, const ChooseContext& context);
    ChooseChoice Choice() const;
    // The list: "全フレーム (非圧縮)" first, then the compressors by name.
    QComboBox* CompressorBox() const { return compressorBox_; }
    // Null unless ICMF_CHOOSE_PREVIEW came with a frame.
    QLabel* PreviewLabel() const { return preview_; }
    void UpdatePreview();

private:
    struct NumberRow {
        const char* label;
        const char* unit;
        int maximum;
    };
    void BuildSettings(QGridLayout& grid);
    void AddNumberRow(QGridLayout& grid, int row, const NumberRow& texts, int32_t initial,
                      QCheckBox*& on, QSpinBox*& number);
    uint32_t SelectedHandler() const;

    ChooseContext context_;
    QComboBox* compressorBox_ = nullptr;
    QSlider* quality_ = nullptr;
    QLabel* qualityValue_ = nullptr;
    bool qualityTouched_ = false;
    QCheckBox* keyFrames_ = nullptr;
    QSpinBox* keyFrameEvery_ = nullptr;
    QCheckBox* dataRateOn_ = nullptr;
    QSpinBox* dataRate_ = nullptr;
    QLabel* preview_ = nullptr;
};

} // namespace vcm
