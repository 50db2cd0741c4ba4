// The main window: start-up, closing, the preview, the logo, running the movie, deleting the
// frames and dropped files.
#include "MV_M/main.h"

#include "common/Qmlib2002.h"
#include "platform/forms/BitmapImage.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"

#include <QCloseEvent>
#include <utility>

namespace {

constexpr const char* Version = "Version 1.1";
constexpr const char* LogoFile = "avi_logo.bmp";
constexpr const char* RecordFolder = "record";
constexpr const char* PictureFilter =
    "画像ファイル (*.bmp;*png;*.jpg;*.jpeg)|*.bmp;*png;*.jpg;*.jpeg|PNG (*.png)|*.png|JPEG "
    "イメージファイル (*.jpg)|*.jpg|JPEG イメージファイル (*.jpeg)|*.jpeg|BMP (*.bmp)|*.bmp";
constexpr int StatusBarHeight = 19;
// The logo fades out over the frames after the 64th: its level rises by 2 per frame.
constexpr int32_t LogoStepPerFrame = 2;
constexpr int32_t LogoHalfLevel = 128;
constexpr int32_t LogoGoneLevel = 256;

} // namespace

static void InitResources() {
    Q_INIT_RESOURCE(mv_m);
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), JxAvi(this) {
    InitResources();
    ui.setupUi(this);
    ui.StatusBar->setFixedHeight(StatusBarHeight);
    AssignQImage(ui.Image->Picture().Bitmap(), QImage(":/mv_m/preview.png"));
    JxAvi.SetBitDepth(24);
    OpenPictureDialog.Filter = PictureFilter;
    SaveDialog.DefaultExt = "avi";
    SaveDialog.FileName = "MVX_Movie";
    SaveDialog.Filter = "AVI ファイル (*.avi)|*.avi";
    setAcceptDrops(true);
    CentreOnScreen(*this);
    ConnectHandlers();
    Guarded([this] { FormCreate(); });
}

TMainForm::~TMainForm() {
    Guarded([this] { FormDestroy(); });
}

void TMainForm::ConnectHandlers() {
    using Handler = void (TMainForm::*)();
    const std::pair<QPushButton*, Handler> buttons[] = {
        {ui.LoadBitBtn, &TMainForm::LoadBitBtnClick},
        {ui.MakeBitBtn, &TMainForm::MakeBitBtnClick},
        {ui.StopBitBtn, &TMainForm::StopBitBtnClick},
        {ui.SakuseiBitBtn, &TMainForm::SakuseiBitBtnClick},
        {ui.DelBitBtn, &TMainForm::DelBitBtnClick}};
    for (const auto& [button, handler] : buttons)
        ConnectHandler(button, &QPushButton::clicked, this, handler);
    // A box's handler runs also when the program changes it.
    const std::pair<QCheckBox*, Handler> boxes[] = {
        {ui.CompressCheckBox, &TMainForm::CompressCheckBoxClick},
        {ui.PreCompressCheckBox, &TMainForm::PreCompressCheckBoxClick},
        {ui.LogoCheckBox, &TMainForm::LogoCheckBoxClick}};
    for (const auto& [box, handler] : boxes)
        ConnectHandler(box, &QCheckBox::toggled, this, handler);
    ConnectHandler(ui.FileListBox, &QListWidget::itemSelectionChanged, this,
                   &TMainForm::FileListBoxClick);
    ConnectHandler(ui.SizeRadioGroup, &TRadioGroup::Click, this, &TMainForm::SizeRadioGroupClick);
}

void TMainForm::FormCreate() {
    FExeDir = ExeDir();
    FFrameBitmap = std::make_unique<TBitmap>();
    FLogoBitmap = std::make_unique<TBitmap>();
    FWorkBitmap = std::make_unique<TBitmap>();
    FLogoBitmap->SetPixelFormat(pf24bit);
    ui.StatusBar->showMessage(Version);
    FStopRequested = false;
    if (DirectoryExists(FExeDir + RecordFolder))
        OpenPictureDialog.InitialDir = FExeDir + RecordFolder;
}

void TMainForm::FormDestroy() {
    FWorkBitmap.reset();
    FLogoBitmap.reset();
    FFrameBitmap.reset();
}

void TMainForm::FormCloseQuery(bool& CanClose) {
    CanClose = !ui.StopBitBtn->isEnabled();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TMainForm::CompressCheckBoxClick() {
    JxAvi.SetCompress(ui.CompressCheckBox->isChecked());
}

void TMainForm::PreCompressCheckBoxClick() {
    JxAvi.SetPreCompress(ui.PreCompressCheckBox->isChecked());
}

void TMainForm::StopBitBtnClick() {
    FStopRequested = true;
}

void TMainForm::SizeRadioGroupClick() {
    const bool custom = ui.SizeRadioGroup->ItemIndex() == 4;
    ui.AVIWidthEdit->setEnabled(custom);
    ui.AVIHeightEdit->setEnabled(custom);
}

void TMainForm::ShowPreview() {
    TBitmap& preview = ui.Image->Picture().Bitmap();
    preview.SetWidth(FFrameBitmap->Width());
    preview.SetHeight(FFrameBitmap->Height());
    preview.SetPixelFormat(pf24bit);
    CopyBitmap24(preview, *FFrameBitmap);
    ui.Image->Invalidate();
}

void TMainForm::ApplyLogo() {
    if (FLogoStep >= LogoGoneLevel) return;
    FLogoStep += LogoStepPerFrame;
    const int32_t level = FLogoStep <= LogoHalfLevel ? LogoHalfLevel : FLogoStep;
    BlendBitmap24(0, 0, *FFrameBitmap, *FFrameBitmap, *FLogoBitmap, static_cast<uint16_t>(level));
}

void TMainForm::LogoCheckBoxClick() {
    if (!ui.LogoCheckBox->isChecked()) return;
    const std::string logo = FExeDir + LogoFile;
    if (!FileExists(logo)) {
        NoticeBox(logo + "\r\nファイルが見つかりません.");
        ui.LogoCheckBox->setChecked(false);
        return;
    }
    try {
        FLogoBitmap->LoadFromFile(logo);
    } catch (...) {
        // A logo that cannot be read is not used.
        ui.LogoCheckBox->setChecked(false);
        throw;
    }
    FLogoBitmap->SetPixelFormat(pf24bit);
}

void TMainForm::SakuseiBitBtnClick() {
    const std::string movie = ui.SakuseiLabel->text().toStdString();
    if (FileExists(movie)) ShellOpen(this, movie);
}

void TMainForm::DelBitBtnClick() {
    if (ui.FileListBox->Count() == 0) return;
    if (AskYesNo("連番画像リストのファイルを削除しますか?")) {
        for (int i = 0; i < ui.FileListBox->Count(); ++i)
            DeleteFile(ui.FileListBox->item(i)->text().toStdString());
        ui.FileListBox->ClearItems();
    }
    ui.DelBitBtn->setEnabled(false);
}

void TMainForm::WMDropFiles(const std::string& FileName) {
    ScanFrameFolder(ExtractFilePath(FileName));
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    AcceptFileDrag(*event);
}

void TMainForm::dragMoveEvent(QDragMoveEvent* event) {
    AcceptFileDrag(*event);
}

void TMainForm::dropEvent(QDropEvent* event) {
    const std::string file = AcceptFileDrop(*event);
    if (!file.empty()) Guarded([&] { WMDropFiles(file); });
}
