// The player's main window: the liquid-drop effect over a picture.
#pragma once

#include "MV_X/Album.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"
#include "platform/graphics/Bitmap.h"
#include "ui_main.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class TAlbumForm;

// One liquid drop. Flying (State 1): X, Y move from Start toward Target along Angle by Speed
// per frame, Dist counting the way. Dripping (State 2): FloatX, FloatY move by VX, Speed;
// FloatAlpha fades by AlphaStep; Dist counts frames up to the next change of velocity.
// State 0 is a free slot. Alpha is the blend level the drop is drawn with.
struct TDrop {
    int32_t X;
    int32_t Y;
    int32_t State;
    int32_t Part;
    int32_t Alpha;
    int32_t StartX;
    int32_t StartY;
    int32_t TargetX;
    int32_t TargetY;
    long double Angle;
    long double FloatX;
    long double FloatY;
    long double Dist;
    long double Speed;
    long double VX;
    long double AlphaStep;
    long double FloatAlpha;
};

inline constexpr int DropCount = 10000;

// Part values of the mask; 8 marks a free-falling drop.
enum TPart : int32_t {
    ptNasi = 0,
    ptKami = 1,
    ptMe = 2,
    ptHana = 3,
    ptKuti = 4,
    ptHa = 5,
    ptHada = 6,
    ptFuku = 7,
    ptFall = 8,
};

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

    // Drop table, emission and the frame tick.
    void ClearDrops();
    void AppIdle(TObject* Sender, bool& Done);
    void EmitDrops(int32_t TargetX, int32_t TargetY, int32_t OriginX, int32_t OriginY, int32_t Mode,
                   int32_t Count);
    void UpdateDrops();
    void AutoEmit();
    int32_t EmitAmount() const;
    int32_t DripSpeed() const;

    // Flight and landing.
    void MoveFlyingDrop(int i);
    void HitNone(int i);
    void HitKami(int i);
    void HitMe(int i);
    void HitHana(int i);
    void HitKuti(int i);
    void HitHa(int i);
    void HitHada(int i);
    void HitFuku(int i);

    // Drips by part.
    void MoveDrip(int i);
    void DripNasi(int i);
    void DripKami(int i);
    void DripMe(int i);
    void DripHana(int i);
    void DripKuti(int i);
    void DripHa(int i);
    void DripHada(int i);
    void DripFuku(int i);
    void DripFall(int i);

    // Drawing, traces and shading.
    void DrawDrops();
    void DrawPositionCursor();
    void ShadeDrop(int i, int32_t Amount);
    // Inclusive rectangles; R gives only the block's size.
    static void DarkenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount);
    static void LightenRect(int32_t X, int32_t Y, const TRect& R, TBitmap& Bitmap, int32_t Amount);

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
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class TMainFormTestAccess;

    struct StickyHitRule;
    struct CommonDripRule;

    // The screen picture: the bitmap the Image control shows.
    TBitmap& ScreenBitmap();
    void ConnectHandlers();
    bool PreviewEvent(QEvent& event);
    int32_t EmitOriginX() const;
    int32_t EmitOriginY() const;
    bool TracesOn() const;
    void EmissionSpeed(TDrop& d);
    void Stamp(int i, int32_t Level, const TBitmap& Base);
    void SmoothHit(int i, int32_t Part);
    void StickyHit(int i, const StickyHitRule& rule);
    void CommonDrip(int i, const CommonDripRule& rule);
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
    std::array<TDrop, DropCount> FDrops{};
    // One past the last slot that may be live: the frame's passes over the table stop there.
    int FDropsInUse = 0;
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
    int32_t FMode = 0;
};
