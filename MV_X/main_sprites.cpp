// The liquid sprites: numbered files ekiimg/eki<N>.bmp beside the program.
#include "MV_X/main.h"
#include "common/PictureFile.h"
#include "common/Qmlib2002.h"
#include "platform/rtl/SysUtils.h"

void TMainForm::LoadEkiImage(const std::string& FileName) {
    if (!FileExists(FileName)) return;
    LoadPictureFile(FileName, *FEkiBitmap);
    FEkiBitmap->SetPixelFormat(pf24bit);
    const int w = FEkiBitmap->Width(), h = FEkiBitmap->Height();
    TBitmap& preview = ui.EkiImage->Picture().Bitmap();
    preview.SetWidth(w);
    preview.SetHeight(h);
    preview.SetPixelFormat(pf24bit);
    CopyBitmap24(preview, *FEkiBitmap);
    ui.EkiGroupBox->setTitle(QString::fromStdString(Format("液のイメージ (%d x %d)", w, h)));
    ui.EkiImage->Invalidate();
}

void TMainForm::NextEkiImage() {
    FEkiNo = FEkiNo + 1;
    std::string path = FExeDir + "ekiimg/eki" + IntToStr(FEkiNo) + ".bmp";
    if (!FileExists(path)) {
        FEkiNo = 0;
        path = FExeDir + "ekiimg/eki0.bmp";
    }
    LoadEkiImage(path);
}

void TMainForm::EkiImageDblClick() {
    FEkiNo = -1;
    NextEkiImage();
}

void TMainForm::EkiChangeBitBtnClick() {
    NextEkiImage();
}

void TMainForm::EkiIroSSpeedButtonClick() {
    FEkiNo = -1;
    NextEkiImage();
}

void TMainForm::EkiIroYSpeedButtonClick() {
    FEkiNo = 4;
    NextEkiImage();
}

void TMainForm::EkiIroGSpeedButtonClick() {
    FEkiNo = 9;
    NextEkiImage();
}

void TMainForm::EkiIroPSpeedButtonClick() {
    FEkiNo = 14;
    NextEkiImage();
}
