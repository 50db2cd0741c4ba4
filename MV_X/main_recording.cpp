// Frame recording: every rendered frame as a numbered bitmap in a folder of its own.
#include "MV_X/main.h"
#include "platform/classes/Classes.h"
#include "platform/forms/Dialogs.h"
#include "platform/rtl/SysUtils.h"

#include <memory>

namespace {

constexpr const char* RecordFolder = "record/";
constexpr const char* StoppedCaption = "録画";

// A frame cut short (full disk, folder gone) is removed, so that the folder holds only whole
// frames numbered without gaps; the error still reaches the caller.
void SaveWholeFrame(TBitmap& Frame, const std::string& FileName) {
    auto stream = std::make_unique<TFileStream>(FileName, fmCreate);
    try {
        Frame.SaveToStream(*stream);
    } catch (...) {
        stream.reset();
        DeleteFile(FileName);
        throw;
    }
}

} // namespace

void TMainForm::RokugaBitBtnClick() {
    if (FMode != mdPlaying) return;
    if (FRecording)
        StopRecording();
    else
        StartRecording();
}

// Named by the start time to the second; a second recording within the same second gets a
// numbered name after the time stamp, so it never writes over the frames of the first.
std::string TMainForm::NewRecordFolder() const {
    const std::string stamp = FExeDir + RecordFolder + FormatDateTime("yyyymmddhhmmss", Now());
    std::string folder = stamp;
    for (int n = 2; DirectoryExists(folder) || FileExists(folder); ++n)
        folder = stamp + "_" + IntToStr(n);
    return folder + "/";
}

void TMainForm::StartRecording() {
    FRecordDir = NewRecordFolder();
    NoticeBox("録画ファイルを以下のフォルダに保存します.\r\n" + FRecordDir);
    if (ForceDirectories(FRecordDir)) {
        FRecording = true;
        FFrameCount = 0;
    } else {
        InformationBox(FRecordDir + " : 録画フォルダの作成に失敗しました.");
    }
}

void TMainForm::RecordFrame() {
    const std::string s = Format("%.4d", FFrameCount);
    ui.RokugaBitBtn->setText(QString::fromStdString(s));
    SaveWholeFrame(ScreenBitmap(), FRecordDir + s + ".bmp");
    ++FFrameCount;
}

void TMainForm::StopRecording() {
    FRecording = false;
    ui.RokugaBitBtn->setText(StoppedCaption);
}
