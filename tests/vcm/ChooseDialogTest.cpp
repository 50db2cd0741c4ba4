// The compressor choose dialog: scripted answers fill the compressor record as the movie maker
// relies on, and the real dialog (offscreen) offers full frames first.
#include "platform/vcm/ChooseDialog.h"

#include "Frames.h"
#include "platform/forms/Dialogs.h"
#include "platform/vcm/Vcm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QSlider>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace {

constexpr uint32_t Mjpg = mmioFOURCC('M', 'J', 'P', 'G');
const std::string Title = "ＡＶＩ圧縮方式選択";
constexpr uint32_t KeyAndRate = ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE;

// The widgets need an application object: offscreen, one for the whole run.
QApplication& App() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_vcm";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class ChooseTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetDialogAnswerer([this](const DialogRequest& r) {
            requests.push_back(r);
            return answer;
        });
    }
    void TearDown() override {
        SetDialogAnswerer({});
        ICCompressorFree(&cv);
    }
    // The record as the movie maker resets it before the dialog.
    static COMPVARS Reset() { return frames::Vars(comptypeDIB); }
    bool Choose(uint32_t flags = KeyAndRate) {
        return ICCompressorChoose(nullptr, flags, &input, nullptr, &cv, Title);
    }
    BITMAPINFOHEADER input = frames::Header(320, 240);
    COMPVARS cv = Reset();
    DialogAnswer answer;
    std::vector<DialogRequest> requests;
};

TEST_F(ChooseTest, CancelAndFullFramesLeaveNoCompressor) {
    answer.accepted = false;
    answer.fccHandler = Mjpg;
    EXPECT_FALSE(Choose());
    EXPECT_EQ(cv.fccHandler, comptypeDIB);
    EXPECT_EQ(cv.hic, nullptr);
    EXPECT_EQ(cv.lQ, ICQUALITY_DEFAULT);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, DialogRequest::ChooseCompressor);
    EXPECT_EQ(requests[0].caption, Title);
    EXPECT_EQ(requests[0].chooseFlags, KeyAndRate);
    std::vector<uint32_t> offered;
    for (const auto& info : ICCompressorList(input))
        offered.push_back(info.fccHandler);
    EXPECT_EQ(requests[0].compressors, offered);

    answer.accepted = true;
    answer.fccHandler = comptypeDIB;
    EXPECT_TRUE(Choose());
    EXPECT_EQ(cv.fccHandler, comptypeDIB);
    EXPECT_EQ(cv.hic, nullptr);
    EXPECT_TRUE(cv.dwFlags & ICMF_COMPVARS_VALID);
    EXPECT_FALSE(ICSeqCompressFrameStart(&cv, &input));
}

TEST_F(ChooseTest, ACompressorWithItsSettingsIsOpened) {
    answer.accepted = true;
    answer.fccHandler = Mjpg;
    answer.quality = 5000;
    answer.keyFrameEvery = 15;
    answer.dataRate = 200;
    ASSERT_TRUE(Choose());
    EXPECT_EQ(cv.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(cv.fccHandler, Mjpg);
    EXPECT_EQ(cv.lQ, 5000);
    EXPECT_EQ(cv.lKey, 15);
    EXPECT_EQ(cv.lDataRate, 200);
    EXPECT_NE(cv.hic, nullptr);
    const auto s = frames::Compress(cv, input, 2);
    EXPECT_EQ(s.packets.size(), 2u);

    // Without the key-frame and data-rate flags those fields stay; a second choice replaces
    // the compressor of the first; a handler that was not offered is refused.
    cv = Reset();
    answer.quality = 20000;
    ASSERT_TRUE(Choose(0));
    EXPECT_EQ(cv.lQ, ICQUALITY_HIGH);
    EXPECT_EQ(cv.lKey, 0);
    EXPECT_EQ(cv.lDataRate, 0);
    ASSERT_TRUE(Choose(0));
    answer.fccHandler = mmioFOURCC('X', 'X', 'X', 'X');
    const HIC before = cv.hic;
    EXPECT_FALSE(Choose());
    EXPECT_EQ(cv.hic, before);
    EXPECT_EQ(cv.fccHandler, Mjpg);
}

TEST_F(ChooseTest, TheDialogOffersFullFramesFirstAndPreviews) {
    App();
    const auto frame = frames::Make(input, 0);
    vcm::ChooseContext context;
    context.title = Title;
    context.flags = KeyAndRate | ICMF_CHOOSE_PREVIEW;
    context.compressors = ICCompressorList(input);
    context.preview = input;
    context.previewBits = frame.data();
    vcm::TChooseCompressorDialog dialog(nullptr, context);
    EXPECT_EQ(dialog.windowTitle().toStdString(), Title);
    QComboBox* box = dialog.CompressorBox();
    ASSERT_EQ(box->count(), static_cast<int>(context.compressors.size()) + 1);
    EXPECT_EQ(box->itemText(0).toStdString(), "全フレーム (非圧縮)");
    EXPECT_EQ(box->itemText(1).toStdString(), context.compressors[0].name);
    EXPECT_EQ(dialog.Choice().fccHandler, comptypeDIB);
    EXPECT_EQ(dialog.Choice().quality, ICQUALITY_DEFAULT);
    ASSERT_NE(dialog.PreviewLabel(), nullptr);
    EXPECT_FALSE(dialog.PreviewLabel()->pixmap().isNull());

    box->setCurrentIndex(box->findData(QVariant::fromValue(Mjpg)));
    EXPECT_FALSE(dialog.PreviewLabel()->pixmap().isNull());
    dialog.findChild<QSlider*>()->setValue(40);
    QSpinBox* keyFrames = dialog.findChild<QSpinBox*>();
    EXPECT_FALSE(keyFrames->isEnabled());
    for (QCheckBox* check : dialog.findChildren<QCheckBox*>())
        check->setChecked(true);
    EXPECT_TRUE(keyFrames->isEnabled());
    const vcm::ChooseChoice choice = dialog.Choice();
    EXPECT_EQ(choice.fccHandler, Mjpg);
    EXPECT_EQ(choice.quality, 4000);
    EXPECT_GE(choice.keyFrameEvery, 1);
    EXPECT_GE(choice.dataRate, 1);

    // Without the flags there is neither a key-frame nor a data-rate field, nor a preview.
    context.flags = 0;
    vcm::TChooseCompressorDialog plain(nullptr, context);
    EXPECT_TRUE(plain.findChildren<QCheckBox*>().isEmpty());
    EXPECT_EQ(plain.PreviewLabel(), nullptr);
}

} // namespace
