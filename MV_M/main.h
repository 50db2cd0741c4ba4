// The movie maker's main window: lists the numbered frames of one folder and turns them into an
// AVI movie at a chosen size, optionally with a fading logo. The making itself is the movie
// job's; the window fills it from its controls and shows its progress.
#pragma once

#include "MV_M/JxAvi.h"
#include "MV_M/MovieJob.h"
#include "platform/forms/Dialogs.h"
#include "platform/graphics/Bitmap.h"
#include "ui_main.h"

#include <QMainWindow>
#include <string>

// The window's states; each has one set of enabled controls, but for Make, which needs listed
// frames in every state.
enum class TWindowState {
    Start,     // nothing listed
    Listed,    // frames listed: a movie can be made
    Making,    // the movie loop runs: only Stop (and the list) respond
    Made,      // a movie was made of the listed frames: it can be run, the frames deleted
    MovieKept, // a movie was made, but its frames are deleted or another folder is listed
};

class TMainForm : public QMainWindow, private TMovieEvents {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Lists the frames of Folder (with its trailing delimiter); nothing while a movie is made.
    void ScanFrameFolder(const std::string& Folder);
    void ShowPreview();
    TWindowState State() const { return FState; }

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

private:
    friend class TMainFormTestAccess;

    // The items of the size group, in their order.
    enum SizeItem { Size320x200, Size640x480, Size720x480, SizeOriginal, SizeCustom };

    void ConnectHandlers();
    void SetState(TWindowState State);
    // The size that the chosen item fits every frame to; the original size fits nothing.
    TMovieSize FittedSize() const;
    // The movie's size when Make is pressed.
    TMovieSize ChosenSize() const;
    TMovieSettings MovieSettings() const;
    // What a make leaves at its target: nothing, a movie cut short by a write that failed, or
    // the movie of every frame the loop wrote.
    enum class TMade { Nothing, CutShort, Whole };
    // Closes the movie the loop wrote and rebuilds it; one of no frames goes.
    TMade FinishMovie();
    void ShowFrameList();
    void PreviewFile(const std::string& FileName);
    void ClearPreview();
    void FileListBoxSelectionChanged();
    void FitSizeEdits();

    // The movie loop's calls.
    void BetweenFrames() override;
    bool StopRequested() override;
    void FrameLoaded(int Index) override;
    void FrameWritten(int Index, int Count) override;

    Ui::TMainForm ui;
    TJxAvi JxAvi;
    TMovieJob FJob;
    TOpenPictureDialog OpenPictureDialog;
    TSaveDialog SaveDialog;

    std::string FExeDir;
    TWindowState FState = TWindowState::Start;
    bool FStopRequested = false;
};
