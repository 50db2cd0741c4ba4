// The main window: start-up, closing, its states, the preview, the logo, running the movie,
// deleting the frames and dropped files.
#include "MV_M/main.h"

#include "MV_M/Temporaries.h"
#include "common/Qmlib2002.h"
#include "platform/forms/BitmapImage.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"

#include <QCloseEvent>
#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr const char* Version = "Version 1.1";
constexpr const char* LogoFile = "avi_logo.bmp";
constexpr const char* RecordFolder = "record";
// Notes of the temporary movie files, beside the program.
constexpr const char* TemporaryJournal = "mv_m.tmp";
constexpr const char* PictureFilter =
    "画像ファイル (*.bmp;*png;*.jpg;*.jpeg)|*.bmp;*png;*.jpg;*.jpeg|PNG (*.png)|*.png|JPEG "
    "イメージファイル (*.jpg)|*.jpg|JPEG イメージファイル (*.jpeg)|*.jpeg|BMP (*.bmp)|*.bmp";
constexpr int StatusBarHeight = 19;

// Which controls each state enables; the size edits follow the size group and the custom item.
struct ControlStates {
    TWindowState State;
    bool Compress, PreCompress, Load, Make, Stop, Sakusei, Del, SizeGroup, Logo;
};
// clang-format off
constexpr std::array<ControlStates, 5> EnabledIn = {{
    // state                  Compress PreComp Load   Make   Stop   Sakusei Del    Size   Logo
    {TWindowState::Start,     true,    true,   true,  false, false, false,  false, true,  true},
    {TWindowState::Listed,    true,    true,   true,  true,  false, false,  false, true,  true},
    {TWindowState::Making,    false,   false,  false, false, true,  false,  false, false, false},
    {TWindowState::Made,      true,    true,   true,  true,  false, true,   true,  true,  true},
    {TWindowState::MovieKept, true,    true,   true,  true,  false, true,   false, true,  true},
}};
// clang-format on
static_assert(
    [] {
        for (size_t i = 0; i < EnabledIn.size(); ++i)
            if (static_cast<size_t>(EnabledIn[i].State) != i) return false;
        return true;
    }(),
    "one row per state, in the order of the states");

} // namespace

static void InitResources() {
    Q_INIT_RESOURCE(mv_m);
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), JxAvi(this) {
    InitResources();
    ui.setupUi(this);
    ui.StatusBar->setFixedHeight(StatusBarHeight);
    // Rows as high as the desktop's font needs, so no descender is cut.
    ui.FileListBox->SetItemHeight(
        std::max(ui.FileListBox->ItemHeight(), ui.FileListBox->fontMetrics().height()));
    FitSizeEdits();
    AssignQImage(ui.Image->Picture().Bitmap(), QImage(":/mv_m/preview.png"));
    ui.Image->Picture().Bitmap().SetRecycling(true);
    JxAvi.SetBitDepth(24);
    OpenPictureDialog.Filter = PictureFilter;
    SaveDialog.DefaultExt = "avi";
    SaveDialog.FileName = "MVX_Movie";
    SaveDialog.Filter = "AVI ファイル (*.avi)|*.avi";
    AcceptDroppedFiles(*this,
                       [this](const std::string& file) { Guarded([&] { WMDropFiles(file); }); });
    CentreOnScreen(*this);
    ConnectHandlers();
    SetState(TWindowState::Start);
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
    QObject::connect(ui.FileListBox, &QListWidget::itemClicked, this,
                     [this] { Guarded([this] { FileListBoxClick(); }); });
    ConnectHandler(ui.FileListBox, &QListWidget::itemSelectionChanged, this,
                   &TMainForm::FileListBoxSelectionChanged);
    ConnectHandler(ui.SizeRadioGroup, &TRadioGroup::Click, this, &TMainForm::SizeRadioGroupClick);
}

// The size edits wide enough for the largest size, 65535, in the desktop's font; the "x" stays
// centred between them.
void TMainForm::FitSizeEdits() {
    const int gap = ui.AVIHeightEdit->x() - (ui.AVIWidthEdit->x() + ui.AVIWidthEdit->width());
    constexpr int FrameAndMargins = 12;
    const int width =
        std::max(ui.AVIWidthEdit->width(),
                 ui.AVIWidthEdit->fontMetrics().horizontalAdvance("65535") + FrameAndMargins);
    const int left = ui.SizeRadioGroup->x();
    ui.AVIWidthEdit->setGeometry(left, ui.AVIWidthEdit->y(), width, ui.AVIWidthEdit->height());
    ui.XLabel->move(left + width + (gap - ui.XLabel->width()) / 2, ui.XLabel->y());
    ui.AVIHeightEdit->setGeometry(left + width + gap, ui.AVIHeightEdit->y(), width,
                                  ui.AVIHeightEdit->height());
}

void TMainForm::SetState(TWindowState State) {
    // With nothing listed (a folder of no frames, the frames deleted) the window is back at its
    // start, or keeps the movie made before, and nothing can be made.
    const bool listed = !FJob.Frames().empty();
    if (State == TWindowState::Listed && !listed) State = TWindowState::Start;
    FState = State;
    const ControlStates& on = EnabledIn[static_cast<size_t>(State)];
    ui.CompressCheckBox->setEnabled(on.Compress);
    ui.PreCompressCheckBox->setEnabled(on.PreCompress);
    ui.LoadBitBtn->setEnabled(on.Load);
    ui.MakeBitBtn->setEnabled(on.Make && listed);
    ui.StopBitBtn->setEnabled(on.Stop);
    ui.SakuseiBitBtn->setEnabled(on.Sakusei);
    ui.DelBitBtn->setEnabled(on.Del);
    ui.SizeRadioGroup->setEnabled(on.SizeGroup);
    ui.LogoCheckBox->setEnabled(on.Logo);
    SizeRadioGroupClick();
}

void TMainForm::FormCreate() {
    FExeDir = ExeDir();
    ui.StatusBar->showMessage(Version);
    FStopRequested = false;
    if (DirectoryExists(FExeDir + RecordFolder))
        OpenPictureDialog.InitialDir = FExeDir + RecordFolder;
    // What a killed make left behind goes now.
    JxAvi.SetTemporaryJournal(FExeDir + TemporaryJournal);
    RemoveAbandonedTemporaries(JxAvi.TemporaryJournal());
}

// The frame, logo and work bitmaps belong to the movie job, which goes with the window.
void TMainForm::FormDestroy() {}

void TMainForm::FormCloseQuery(bool& CanClose) {
    CanClose = FState != TWindowState::Making;
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
    const bool custom =
        ui.SizeRadioGroup->isEnabled() && ui.SizeRadioGroup->ItemIndex() == SizeCustom;
    ui.AVIWidthEdit->setEnabled(custom);
    ui.AVIHeightEdit->setEnabled(custom);
}

void TMainForm::ShowPreview() {
    TBitmap& preview = ui.Image->Picture().Bitmap();
    const TBitmap& frame = FJob.Frame();
    preview.SetPixelFormat(pf24bit);
    preview.SetSize(frame.Width(), frame.Height());
    CopyBitmap24(preview, frame);
    ui.Image->Invalidate();
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
        FJob.Logo().LoadFromFile(logo);
    } catch (...) {
        // A logo that cannot be read is not used.
        ui.LogoCheckBox->setChecked(false);
        throw;
    }
    FJob.Logo().SetPixelFormat(pf24bit);
}

void TMainForm::SakuseiBitBtnClick() {
    const std::string movie = ui.SakuseiLabel->text().toStdString();
    if (FileExists(movie)) ShellOpen(this, movie);
}

void TMainForm::DelBitBtnClick() {
    const std::vector<std::string>& frames = FJob.Frames();
    if (frames.empty()) return;
    // The question names what goes, and No is what Enter answers.
    const std::string question =
        Format("連番画像リストのファイルを削除しますか?\r\n%s\r\n(%d ファイル)",
               ExtractFilePath(frames.front()), static_cast<int>(frames.size()));
    if (AskYesNoDefaultNo(question)) {
        for (const std::string& frame : frames)
            DeleteFile(frame);
        FJob.SetFrames({});
        ShowFrameList();
    }
    SetState(FState == TWindowState::Listed ? TWindowState::Listed : TWindowState::MovieKept);
}

// A dropped folder is the folder of frames; a dropped file names its folder.
void TMainForm::WMDropFiles(const std::string& FileName) {
    ScanFrameFolder(DirectoryExists(FileName) ? IncludeTrailingPathDelimiter(FileName)
                                              : ExtractFilePath(FileName));
}
