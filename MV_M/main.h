// The movie maker's main window: lists the numbered frames of one folder and turns them into an
// AVI movie at a chosen size, optionally with a fading logo.
#pragma once

#include "MV_M/JxAvi.h"
#include "platform/forms/Dialogs.h"
#include "platform/graphics/Bitmap.h"
#include "ui_main.h"

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The frame files of Folder (which ends with a delimiter): every file named by a four-digit
// number and ".bmp", ".jpeg", ".jpg" or ".png", letters in any case, as full paths of their
// real names, ordered by number, then by extension in that order. One directory listing.
std::vector<std::string> FrameFiles(const std::string& Folder);

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Lists the frames of Folder (with its trailing delimiter); nothing while a movie is made.
    void ScanFrameFolder(const std::string& Folder);
    // Makes Picture exactly W x H: centred on black, shrunk keeping its aspect when larger.
    void FitToFrameSize(int32_t W, int32_t H, TBitmap& Picture);
    // The area-average resampler into a bitmap the caller holds; Dest and Src differ.
    void ResampleInto(TBitmap& Dest, const TBitmap& Src, int32_t NewWidth, int32_t NewHeight);
    void ShowPreview();
    void ApplyLogo();

    // The handlers of the window and of its controls.
    void FormCreate();
    void FormDestroy();
    void FormCloseQuery(bool& CanClose);
    void LoadBitBtnClick();
    void FileListBoxClick();
    void CompressCheckBoxClick();
    void PreCompressCheckBoxClick();
    void MakeBitBtnClick();
    void StopBitBtnClick();
    void SakuseiBitBtnClick();
    void DelBitBtnClick();
    void LogoCheckBoxClick();
    void SizeRadioGroupClick();
    void WMDropFiles(const std::string& FileName);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class TMainFormTestAccess;

    struct MovieSize {
        int32_t Width;
        int32_t Height;
    };

    void ConnectHandlers();
    // The size that the chosen item fits every frame to; item 3 fits nothing.
    MovieSize FittedSize() const;
    // The movie's size when Make is pressed.
    MovieSize ChosenSize() const;
    void EnterMaking();
    void RestoreControls();
    void WriteMovie();
    void FinishMovie();

    Ui::TMainForm ui;
    TJxAvi JxAvi;
    TOpenPictureDialog OpenPictureDialog;
    TSaveDialog SaveDialog;

    std::string FExeDir;
    std::unique_ptr<TBitmap> FFrameBitmap;
    std::unique_ptr<TBitmap> FLogoBitmap;
    std::unique_ptr<TBitmap> FWorkBitmap;
    int32_t FLogoStep = 0;
    bool FStopRequested = false;
};
