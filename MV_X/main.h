// The player's main window: the liquid-drop effect over a picture.
#pragma once

#include "MV_X/Album.h"
#include "MV_X/Drops.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"
#include "platform/graphics/Bitmap.h"
#include "ui_main.h"

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class TAlbumForm;

// What the window is doing: no picture yet, playing the effect on one, or editing its mask.
enum TFormMode : int32_t { mdNoPicture, mdPlaying, mdMaskEditing };

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Start-up, shutdown and the window's own duties.
    void FormCreate();
    void FormDestroy();
    void HelpBitBtnClick();
    void MVMSpeedButtonClick();
    void WMDropFiles(const std::string& FileName);

    // Picture import and the album.
    void LoadBitBtnClick();
    void LibBitBtnClick();
    void ImportPicture(const std::string& FileName);
    void OpenAlbumImage(const std::string& Name);
    static void FillMaskBitmap(TBitmap& Bitmap, uint8_t Value);

    // What the album window asks: the album and the mode; it registers itself while it exists
    // and reports a deleted entry, which Replacement takes over if it was the open one.
    const TAlbum& Album() const { return FAlbum; }
    bool EditingMask() const;
    void AttachAlbumForm(TAlbumForm* Form);
    void DetachAlbumForm(const TAlbumForm* Form);
    void AlbumEntryDeleted(const std::string& Name, const std::string& Replacement);

    // Settings files.
    void LoadSystemIni();
    void SaveSystemIni();
    void LoadImageIni(const std::string& Name);
    void SaveImageIni(const std::string& Name);

    // Colour filter.
    void IroTrackBarChange();
    void RTrackBarChange();
    void GTrackBarChange();
    void BTrackBarChange();
    void AkarusaButtonClick();
    void SitatariIroRadioGroupClick();

    // Drop table, emission and the frame tick; the simulation itself is FDropField.
    void ClearDrops();
    void AppIdle(TObject* Sender, bool& Done);
    void AutoEmit();
    void DrawPositionCursor();

    // Mask editor.
    void MaskEditBitBtnClick();
    void TrackBarChange();
    void SetPaintColor(TColor Color);
    void PickPaintColor(int X, int Y);
    void NasiSpeedButtonClick();
    void KamiSpeedButtonClick();
    void MeSpeedButtonClick();
    void HanaSpeedButtonClick();
    void KutiSpeedButtonClick();
    void HaSpeedButtonClick();
    void HadaSpeedButtonClick();
    void FukuSpeedButtonClick();
    void KesuSpeedButtonClick();
    void UndoSpeedButtonClick();

    // Frame recording.
    void RokugaBitBtnClick();
    void StartRecording();
    void RecordFrame();
    void StopRecording();

    // Mouse and keyboard.
    void ImageMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ImageMouseMove(TShiftState Shift, int X, int Y);
    void ImageMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void FormMouseWheelDown(TShiftState Shift);
    void FormMouseWheelUp(TShiftState Shift);
    void FormKeyDown(uint16_t& Key, TShiftState Shift);
    void ResetBitBtnClick();

    // Liquid sprites.
    void LoadEkiImage(const std::string& FileName);
    void NextEkiImage();
    void EkiImageDblClick();
    void EkiChangeBitBtnClick();
    void EkiIroSSpeedButtonClick();
    void EkiIroYSpeedButtonClick();
    void EkiIroGSpeedButtonClick();
    void EkiIroPSpeedButtonClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TMainFormTestAccess;

    // The screen picture: the bitmap the Image control shows.
    TBitmap& ScreenBitmap();
    void ConnectHandlers();
    bool PreviewEvent(QEvent& event);
    int32_t EmitOriginX() const;
    int32_t EmitOriginY() const;
    // The simulation with the options as the radio groups stand now.
    TDropField& DropField();
    void StepRadioGroup(TRadioGroup& group);
    void StepScrollBoxColor();
    TColor ScrollBoxColor() const;
    void SetScrollBoxColor(TColor Color);
    void LayStatusLine();
    int StatusRowsHeight(int Rows) const;
    void ShowHelp(const std::string& Text);
    void FitStatusLine();
    void MakeProgramFolder(const std::string& folder, const std::string& failure);
    void ShowLoadedPicture();
    void ShowEntry(const std::string& Name, const TBitmap& Picture, const TBitmap& Mask);
    void RunFrame();
    QRect ShownPart(const TBitmap& screen) const;
    void WakeForFrame(uint32_t Milliseconds);
    void SizeMaskWorkBitmaps();
    void ColorBarMoved(const TTrackBar& Bar);
    void ConnectMaskEditor();
    TSpeedButton* PartButton(int Part) const;
    void EnterMaskEditor();
    void LeaveMaskEditor();
    void EnableMaskControls(bool Enabled);
    void SaveMaskFile(const std::string& FileName);
    void MaskPress(int X, int Y);
    void MaskMove(int X, int Y);
    void MaskRelease();
    std::string NewRecordFolder() const;

    Ui::TMainForm ui;
    TOpenPictureDialog OpenPictureDialog;
    // The picture the last frame sent to the display, and the picture control's count of
    // repaint requests then: a frame that would show the same again is not repainted.
    TBitmap FShownFrame;
    uint64_t FShownInvalidations = 0;
    // The part of the picture in view when the last frame was shown: only it is kept above.
    QRect FShownView;
    // Whether the last frame ran without drops, and where it drew the emission spot.
    struct TSpotState {
        bool Shown = false;
        int32_t X = 0;
        int32_t Y = 0;
        friend bool operator==(const TSpotState&, const TSpotState&) = default;
    };
    bool FLastFrameQuiet = false;
    TSpotState FLastSpot;
    // The help line in the status bar; owned by the bar.
    QLabel* FStatusLabel = nullptr;
    // Set while the album window exists; it registers itself.
    TAlbumForm* FAlbumForm = nullptr;
    TAlbum FAlbum;

    // The form's state.
    TDropField FDropField;
    std::unique_ptr<TBitmap> FBaseBitmap;
    std::unique_ptr<TBitmap> FImageBitmap;
    std::unique_ptr<TBitmap> FTraceBitmap;
    std::unique_ptr<TBitmap> FEkiBitmap;
    std::unique_ptr<TBitmap> FSpotBitmap;
    std::unique_ptr<TBitmap> FMaskBitmap;
    std::unique_ptr<TBitmap> FMaskViewBitmap;
    std::unique_ptr<TBitmap> FMaskUndoBitmap;
    std::unique_ptr<TBitmap> FMaskColorBitmap;
    int32_t FDragX = 0;
    int32_t FDragY = 0;
    bool FPenDown = false;
    std::string FPlayHelp;
    std::string FEditHelp;
    bool FMaskModified = false;
    uint32_t FLastTick = 0;
    bool FShowPosition = false;
    int32_t FPosX = 0;
    int32_t FPosY = 0;
    int32_t FEkiNo = 0;
    bool FAutoEmit = false;
    bool FRecording = false;
    int32_t FFrameCount = 0;
    std::string FRecordDir;
    std::string FTitle;
    std::string FExeDir;
    std::string FImageName;
    TFormMode FMode = mdNoPicture;
};
