#include "MV_X/album_U.h"

#include "MV_X/main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/SysUtils.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace {

constexpr const char* AlbumFolder = "album/";
constexpr const char* ThumbnailMask = "*.thu";
constexpr const char* ItemPlaceholder = "A";
constexpr int ItemHeight = 100;
constexpr int ThumbnailSide = 100;
// "MX" and the time stamp: the list shows what follows.
constexpr size_t EntryPrefixLength = 17;
constexpr uint16_t VK_ESCAPE = 27;
constexpr char EnterKey = 13;

constexpr TColor CaptionShadowColor = 12632256; // (192, 192, 192)
constexpr TColor CaptionColor = 16711680;       // blue
constexpr TColor PathColor = 8421504;           // (128, 128, 128)
constexpr TColor FrameColor = 6710886;          // (102, 102, 102)
constexpr int CaptionSize = 12;
constexpr int PathSize = 9;

} // namespace

TAlbumForm::TAlbumForm(TMainForm& MainForm, QWidget* parent)
    : QWidget(parent), FMainForm(MainForm) {
    ui.setupUi(this);
    // Closing the main window ends the program even while the album is shown.
    setAttribute(Qt::WA_QuitOnClose, false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    ui.AlbumListBox->OnDrawItem = [this](TControlCanvas& canvas, int index, TRect rect,
                                         TOwnerDrawState state) {
        AlbumListBoxDrawItem(canvas, index, rect, state);
    };
    ConnectHandler(ui.AlbumListBox, &TListBox::DblClick, this, &TAlbumForm::AlbumListBoxDblClick);
    ConnectHandler(ui.AlbumListBox, &TListBox::KeyPress, this, &TAlbumForm::AlbumListBoxKeyPress);
    ConnectHandler(ui.OpenBitBtn, &QPushButton::clicked, this, &TAlbumForm::OpenBitBtnClick);
    ConnectHandler(ui.CloseBitBtn, &QPushButton::clicked, this, &TAlbumForm::CloseBitBtnClick);
    ConnectHandler(ui.DelBitBtn, &QPushButton::clicked, this, &TAlbumForm::DelBitBtnClick);
    if (Application != nullptr)
        Application->SetEventPreview(this, [this](QEvent& e) { return PreviewEvent(e); });
    FMainForm.FAlbumForm = this;
    Guarded([this] { FormCreate(); });
}

TAlbumForm::~TAlbumForm() {
    if (FMainForm.FAlbumForm == this) FMainForm.FAlbumForm = nullptr;
    if (Application != nullptr) Application->RemoveEventPreview(this);
    Guarded([this] { FormDestroy(); });
}

void TAlbumForm::FormCreate() {
    FNames = std::make_unique<TStringList>();
    ui.AlbumListBox->SetItemHeight(ItemHeight);
    RefreshAlbum();
}

void TAlbumForm::FormDestroy() {
    FNames.reset();
}

bool TAlbumForm::PreviewEvent(QEvent& event) {
    if (event.type() != QEvent::KeyPress) return false;
    const auto& keyEvent = static_cast<QKeyEvent&>(event);
    if (keyEvent.key() == Qt::Key_Escape) {
        uint16_t key = VK_ESCAPE;
        FormKeyDown(key, ShiftStateOf(keyEvent.modifiers()));
    }
    return false;
}

void TAlbumForm::RefreshAlbum() {
    ListAlbumFiles(FMainForm.FExeDir + AlbumFolder, ThumbnailMask, *FNames);
}

// The search returns names in ascending order; inserting each at the front puts the newest
// entry (names begin with the import time) first.
void TAlbumForm::ListAlbumFiles(const std::string& Folder, const std::string& Mask,
                                TStringList& List) {
    List.Clear();
    ui.AlbumListBox->ClearItems();
    const std::string folder = IncludeTrailingPathDelimiter(Folder);
    for (const std::string& name : FindFiles(folder, Mask)) {
        List.Insert(0, ChangeFileExt(name, ""));
        ui.AlbumListBox->AddItem(ItemPlaceholder);
    }
}

void TAlbumForm::AlbumListBoxDrawItem(TControlCanvas& Canvas, int Index, TRect Rect,
                                      TOwnerDrawState State) {
    const int L = Rect.Left, T = Rect.Top;
    // A selected row arrives with the highlight's text colour; blue on the highlight is
    // unreadable, so its texts take that colour.
    const bool selected = (State & odSelected) != 0;
    const TColor highlightText = Canvas.Font.Color;
    TRect text = Rect;
    text.Left += ThumbnailSide;
    Canvas.FillRect(text);

    const std::string name = (*FNames)[Index];
    const std::string caption =
        name.size() > EntryPrefixLength ? name.substr(EntryPrefixLength) : std::string();
    Canvas.Brush.Style = bsClear;
    Canvas.Font.Color = CaptionShadowColor;
    Canvas.Font.Size = CaptionSize;
    Canvas.TextOut(L + 106, T + 3, caption);
    Canvas.Font.Color = selected ? highlightText : CaptionColor;
    Canvas.TextOut(L + 104, T + 2, caption);
    Canvas.Font.Size = PathSize;
    Canvas.Font.Color = selected ? highlightText : PathColor;
    const std::string picture = FMainForm.FExeDir + AlbumFolder + name;
    Canvas.TextOut(L + 124, T + 32, picture + ".bmp");

    const std::string thumbnailFile = picture + ".thu";
    if (FileExists(thumbnailFile)) {
        TBitmap thumbnail;
        thumbnail.LoadFromFile(thumbnailFile);
        Canvas.Draw(L, T, thumbnail);
        Canvas.Pen.Color = FrameColor;
        Canvas.MoveTo(L, T + ThumbnailSide);
        Canvas.LineTo(L + ThumbnailSide, T + ThumbnailSide);
        Canvas.MoveTo(L + ThumbnailSide, T);
        Canvas.LineTo(L + ThumbnailSide, T + ThumbnailSide);
    }
    if ((State & odFocused) && (State & odSelected)) Canvas.DrawFocusRect(text);
}

void TAlbumForm::OpenBitBtnClick() {
    const int selected = ui.AlbumListBox->ItemIndex();
    if (FMainForm.FMode == 2 || selected < 0) return;
    FMainForm.OpenAlbumImage((*FNames)[selected]);
}

void TAlbumForm::AlbumListBoxDblClick() {
    OpenBitBtnClick();
}

void TAlbumForm::AlbumListBoxKeyPress(char& Key) {
    if (Key == EnterKey) OpenBitBtnClick();
}

void TAlbumForm::CloseBitBtnClick() {
    close();
}

void TAlbumForm::FormKeyDown(uint16_t& Key, TShiftState) {
    if (Key == VK_ESCAPE) CloseBitBtnClick();
}

// The last entry stays: the album is never left empty.
void TAlbumForm::DelBitBtnClick() {
    const int selected = ui.AlbumListBox->ItemIndex();
    if (FMainForm.FMode == 2 || ui.AlbumListBox->Count() < 2 || selected < 0) return;
    const std::string name = (*FNames)[selected];
    if (!AskYesNo(name + "\r\n" + "アルバムから削除しますか?")) return;
    for (const char* ext : {".bmp", ".msk", ".thu", ".ini"})
        DeleteFile(FMainForm.FExeDir + AlbumFolder + name + ext);
    RefreshAlbum();
    // The open entry went: with no name open, nothing is saved for it.
    if (name == FMainForm.FImageName) {
        FMainForm.FImageName.clear();
        FMainForm.OpenAlbumImage((*FNames)[0]);
    }
}
