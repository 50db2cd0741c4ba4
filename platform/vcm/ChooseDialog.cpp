#include "platform/vcm/ChooseDialog.h"

#include "platform/forms/Dialogs.h"
#include "platform/vcm/Encoder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace vcm {

namespace {

constexpr int QualitySteps = 100; // the slider in percent of ICQUALITY_HIGH
constexpr int QualityStep = ICQUALITY_HIGH / QualitySteps;
constexpr int DefaultSliderQuality = DefaultQuality / QualityStep;
constexpr int MaxKeyFrameEvery = 100000;
constexpr int MaxDataRate = 1000000;
constexpr int PreviewWidth = 160;
constexpr int PreviewHeight = 120;

QString Text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

std::optional<ChooseChoice> FromAnswer(const DialogAnswer& answer) {
    if (!answer.accepted) return std::nullopt;
    ChooseChoice choice;
    choice.fccHandler = answer.fccHandler != 0 ? answer.fccHandler : comptypeDIB;
    choice.quality = answer.quality;
    choice.keyFrameEvery = answer.keyFrameEvery;
    choice.dataRate = answer.dataRate;
    return choice;
}

} // namespace

std::optional<ChooseChoice> AskChooseCompressor(QWidget* owner, const ChooseContext& context) {
    DialogRequest request;
    request.kind = DialogRequest::ChooseCompressor;
    request.caption = context.title;
    request.chooseFlags = context.flags;
    for (const TCompressorInfo& info : context.compressors)
        request.compressors.push_back(info.fccHandler);
    DialogAnswer answer;
    if (ScriptedAnswer(request, answer)) return FromAnswer(answer);

    TChooseCompressorDialog dialog(owner, context);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Choice();
}

TChooseCompressorDialog::TChooseCompressorDialog(QWidget* owner, const ChooseContext& context)
    : QDialog(owner), context_(context) {
    setWindowTitle(QString::fromStdString(context.title));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);

    compressorBox_ = new QComboBox(this);
    compressorBox_->addItem(Text("全フレーム (非圧縮)"), QVariant::fromValue(comptypeDIB));
    int selected = 0;
    for (const TCompressorInfo& info : context.compressors) {
        if (info.fccHandler == context.initial.fccHandler) selected = compressorBox_->count();
        compressorBox_->addItem(QString::fromStdString(info.name),
                                QVariant::fromValue(info.fccHandler));
    }
    compressorBox_->setCurrentIndex(selected);
    grid->addWidget(new QLabel(Text("圧縮プログラム:"), this), 0, 0);
    grid->addWidget(compressorBox_, 0, 1, 1, 2);
    BuildSettings(*grid);

    if ((context.flags & ICMF_CHOOSE_PREVIEW) && context.preview && context.previewBits) {
        preview_ = new QLabel(this);
        preview_->setFixedSize(PreviewWidth, PreviewHeight);
        preview_->setAlignment(Qt::AlignCenter);
        layout->addWidget(new QLabel(Text("プレビュー:"), this));
        layout->addWidget(preview_);
        connect(compressorBox_, &QComboBox::currentIndexChanged, this,
                &TChooseCompressorDialog::UpdatePreview);
        connect(quality_, &QSlider::sliderReleased, this, &TChooseCompressorDialog::UpdatePreview);
        UpdatePreview();
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(Text("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(Text("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void TChooseCompressorDialog::BuildSettings(QGridLayout& grid) {
    const ChooseChoice& initial = context_.initial;
    quality_ = new QSlider(Qt::Horizontal, this);
    quality_->setRange(0, QualitySteps);
    quality_->setValue(initial.quality >= 0 ? initial.quality / QualityStep : DefaultSliderQuality);
    qualityTouched_ = initial.quality >= 0;
    qualityValue_ = new QLabel(QString::number(quality_->value()), this);
    connect(quality_, &QSlider::valueChanged, this, [this](int value) {
        qualityTouched_ = true;
        qualityValue_->setNum(value);
    });
    grid.addWidget(new QLabel(Text("圧縮の品質:"), this), 1, 0);
    grid.addWidget(quality_, 1, 1);
    grid.addWidget(qualityValue_, 1, 2);

    if (context_.flags & ICMF_CHOOSE_KEYFRAME)
        AddNumberRow(grid, 2, {"キーフレーム:", "フレームごと", MaxKeyFrameEvery},
                     initial.keyFrameEvery, keyFrames_, keyFrameEvery_);
    if (context_.flags & ICMF_CHOOSE_DATARATE)
        AddNumberRow(grid, 3, {"データレート:", "KB/秒", MaxDataRate}, initial.dataRate,
                     dataRateOn_, dataRate_);
}

// A setting that is off (0) or a positive number: a check box, the number and its unit.
void TChooseCompressorDialog::AddNumberRow(QGridLayout& grid, int row, const NumberRow& texts,
                                           int32_t initial, QCheckBox*& on, QSpinBox*& number) {
    on = new QCheckBox(Text(texts.label), this);
    on->setChecked(initial > 0);
    number = new QSpinBox(this);
    number->setRange(1, texts.maximum);
    number->setValue(std::max(initial, 1));
    number->setEnabled(on->isChecked());
    connect(on, &QCheckBox::toggled, number, &QSpinBox::setEnabled);
    grid.addWidget(on, row, 0);
    grid.addWidget(number, row, 1);
    grid.addWidget(new QLabel(Text(texts.unit), this), row, 2);
}

uint32_t TChooseCompressorDialog::SelectedHandler() const {
    return compressorBox_->currentData().value<uint32_t>();
}

ChooseChoice TChooseCompressorDialog::Choice() const {
    ChooseChoice choice;
    choice.fccHandler = SelectedHandler();
    choice.quality = qualityTouched_ ? quality_->value() * QualityStep : ICQUALITY_DEFAULT;
    if (keyFrames_ != nullptr && keyFrames_->isChecked())
        choice.keyFrameEvery = keyFrameEvery_->value();
    if (dataRateOn_ != nullptr && dataRateOn_->isChecked()) choice.dataRate = dataRate_->value();
    return choice;
}

void TChooseCompressorDialog::UpdatePreview() {
    if (preview_ == nullptr) return;
    const BITMAPINFOHEADER& input = *context_.preview;
    std::vector<uint8_t> bgr;
    const uint32_t handler = SelectedHandler();
    if (handler == comptypeDIB) {
        bgr = DibToBgr(input, context_.previewBits);
    } else if (const auto candidate = FindCandidate(input, handler)) {
        Settings settings;
        settings.quality = Choice().quality;
        if (!RoundTrip(*candidate, input, context_.previewBits, settings, bgr)) bgr.clear();
    }
    if (bgr.empty()) {
        preview_->clear();
        return;
    }
    const QImage frame(bgr.data(), input.biWidth, input.biHeight, input.biWidth * 3,
                       QImage::Format_BGR888);
    preview_->setPixmap(QPixmap::fromImage(
        frame.scaled(PreviewWidth, PreviewHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

} // namespace vcm
