// The main window: start-up, shutdown, help, the movie maker button, dropped files.
#include "MV_X/main.h"

#include "common/Qmlib2002.h"
#include "platform/forms/BitmapImage.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

namespace {

constexpr const char* Title = "Morvane X 1.2";
constexpr const char* PlayHelp =
    "[左クリック] 放出 [右クリック] 位置設定 [X] カーソルを隠す [C] 位置カーソルを隠す [N] "
    "液クリア "
    "[1] オート排出 [SHIFT+イメージドラッグ] スクロール [7] 発射中を薄く";
constexpr const char* EditHelp = "[左クリック] ペイント,塗りつぶし [右クリック] 色を拾う [Ctrl+Z] "
                                 "やりなおし [B] ペンモード [V] 塗りつぶしモード";
constexpr const char* MovieMakerFile = "mv_m";
constexpr const char* HelpFile = "help.chm";
constexpr const char* ProductPage = "https://morvane.example.org/";
constexpr const char* SpriteFolder = "ekiimg/";

// Qt key codes of letters and main-row digits are the virtual-key codes; keypad digits differ.
uint16_t VirtualKeyOf(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        if (event.modifiers() & Qt::KeypadModifier)
            return static_cast<uint16_t>(0x60 + (key - Qt::Key_0));
        return static_cast<uint16_t>(key);
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint16_t>(key);
    switch (key) {
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_Shift:
        return 0x10;
    case Qt::Key_Control:
        return 0x11;
    default:
        return 0;
    }
}

} // namespace

static void InitResources() {
    Q_INIT_RESOURCE(mv_x);
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    InitResources();
    ui.setupUi(this);
    // Pictures the form holds by design.
    AssignQImage(ui.Image->Picture().Bitmap(), QImage(":/mv_x/start.png"));
    AssignQImage(ui.CImage->Picture().Bitmap(), QImage(":/mv_x/spot.png"));
    ui.ImageScrollBox->horizontalScrollBar()->setSingleStep(8);
    ui.ImageScrollBox->verticalScrollBar()->setSingleStep(8);
    ui.ImageScrollBox->viewport()->setAutoFillBackground(true);
    QPalette palette = ui.ImageScrollBox->viewport()->palette();
    palette.setColor(QPalette::Window, Qt::white);
    ui.ImageScrollBox->viewport()->setPalette(palette);
    AcceptDroppedFiles(*this,
                       [this](const std::string& file) { Guarded([&] { WMDropFiles(file); }); });
    OpenPictureDialog.Filter =
        "すべてのファイル (*.jpg;*.jpeg;*.bmp;*.png)|*.jpg;*.jpeg;*.bmp;*.png;|JPEG "
        "イメージファイル "
        "(*.jpg)|*.jpg|JPEG イメージファイル (*.jpeg)|*.jpeg|ビットマップ "
        "(*.bmp)|*.bmp|PNGファイル "
        "(*.png)|*.png";
    CentreOnScreen(*this);
    LayStatusLine();
    ConnectHandlers();
    if (Application != nullptr)
        Application->SetEventPreview(this, [this](QEvent& e) { return PreviewEvent(e); });
    // A failing start-up step is shown and the window still opens, as the class library does.
    Guarded([this] { FormCreate(); });
}

TMainForm::~TMainForm() {
    if (Application != nullptr) {
        Application->RemoveEventPreview(this);
        Application->SetOnIdle({});
    }
    Guarded([this] { FormDestroy(); });
}

void TMainForm::ConnectHandlers() {
    ConnectHandler(ui.HelpBitBtn, &QPushButton::clicked, this, &TMainForm::HelpBitBtnClick);
    ConnectHandler(ui.MVMSpeedButton, &QToolButton::clicked, this, &TMainForm::MVMSpeedButtonClick);
    ConnectHandler(ui.ResetBitBtn, &QPushButton::clicked, this, &TMainForm::ResetBitBtnClick);
    ConnectHandler(ui.LoadBitBtn, &QPushButton::clicked, this, &TMainForm::LoadBitBtnClick);
    ConnectHandler(ui.LibBitBtn, &QPushButton::clicked, this, &TMainForm::LibBitBtnClick);
    ConnectHandler(ui.IroTrackBar, &TTrackBar::Change, this, &TMainForm::IroTrackBarChange);
    ConnectHandler(ui.RTrackBar, &TTrackBar::Change, this, &TMainForm::RTrackBarChange);
    ConnectHandler(ui.GTrackBar, &TTrackBar::Change, this, &TMainForm::GTrackBarChange);
    ConnectHandler(ui.BTrackBar, &TTrackBar::Change, this, &TMainForm::BTrackBarChange);
    ConnectHandler(ui.AkarusaButton, &QPushButton::clicked, this, &TMainForm::AkarusaButtonClick);
    ConnectHandler(ui.SitatariIroRadioGroup, &TRadioGroup::Click, this,
                   &TMainForm::SitatariIroRadioGroupClick);
    ConnectHandler(ui.Image, &TImage::MouseDown, this, &TMainForm::ImageMouseDown);
    ConnectHandler(ui.Image, &TImage::MouseMove, this, &TMainForm::ImageMouseMove);
    ConnectHandler(ui.Image, &TImage::MouseUp, this, &TMainForm::ImageMouseUp);
    ConnectHandler(ui.EkiImage, &TImage::DblClick, this, &TMainForm::EkiImageDblClick);
    ConnectHandler(ui.EkiChangeBitBtn, &QPushButton::clicked, this,
                   &TMainForm::EkiChangeBitBtnClick);
    ConnectHandler(ui.EkiIroSSpeedButton, &QToolButton::clicked, this,
                   &TMainForm::EkiIroSSpeedButtonClick);
    ConnectHandler(ui.EkiIroYSpeedButton, &QToolButton::clicked, this,
                   &TMainForm::EkiIroYSpeedButtonClick);
    ConnectHandler(ui.EkiIroGSpeedButton, &QToolButton::clicked, this,
                   &TMainForm::EkiIroGSpeedButtonClick);
    ConnectHandler(ui.EkiIroPSpeedButton, &QToolButton::clicked, this,
                   &TMainForm::EkiIroPSpeedButtonClick);
    ConnectHandler(ui.RokugaBitBtn, &QPushButton::clicked, this, &TMainForm::RokugaBitBtnClick);
    ConnectMaskEditor();
}

TBitmap& TMainForm::ScreenBitmap() {
    return ui.Image->Picture().Bitmap();
}

namespace {

// The size grip and the bar's margins beside the help line's label, and the label's padding.
constexpr int StatusChrome = 40;
constexpr int StatusPadding = 4;
// Room below the lowest control of the panel; the narrowest picture area the window keeps.
constexpr int PanelMargin = 4;
constexpr int MinimumPictureWidth = 160;

} // namespace

// The help line is a label in the status bar that wraps onto as many rows as the window's width
// needs: at the design width the key list takes two rows. The window never gets so small that
// the control panel or the help line would be cut.
void TMainForm::LayStatusLine() {
    FStatusLabel = new QLabel(ui.StatusBar);
    FStatusLabel->setObjectName("StatusLabel");
    FStatusLabel->setWordWrap(true);
    FStatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui.StatusBar->addWidget(FStatusLabel, 1);

    int panelBottom = 0;
    for (const QWidget* child : ui.InfoPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isHidden()) panelBottom = std::max(panelBottom, child->geometry().bottom() + 1);
    ui.InfoPanel->setMinimumHeight(panelBottom + PanelMargin);

    const QFontMetrics metrics(FStatusLabel->font());
    int widest = 0;
    for (const char* help : {PlayHelp, EditHelp})
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(help)));
    // Two rows at the narrowest, with room for a word that does not fit the first.
    const int wrapSlack = metrics.horizontalAdvance(QString(10, QChar(0x30A2)));
    const int width = std::max(widest / 2 + wrapSlack + StatusChrome,
                               ui.InfoPanel->minimumWidth() + MinimumPictureWidth);
    setMinimumSize(width, panelBottom + PanelMargin + StatusRowsHeight(2));
}

int TMainForm::StatusRowsHeight(int Rows) const {
    return Rows * QFontMetrics(FStatusLabel->font()).lineSpacing() + StatusPadding;
}

void TMainForm::ShowHelp(const std::string& Text) {
    FStatusLabel->setText(QString::fromStdString(Text));
    FitStatusLine();
}

// The rows are counted for a width a little narrower than the label gets, so the label is
// never too low for its text.
void TMainForm::FitStatusLine() {
    const QFontMetrics metrics(FStatusLabel->font());
    const int available = std::max(1, width() - StatusChrome);
    const QRect need = metrics.boundingRect(QRect(0, 0, available, QWIDGETSIZE_MAX),
                                            Qt::TextWordWrap, FStatusLabel->text());
    FStatusLabel->setFixedHeight(need.height() + StatusPadding);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (FStatusLabel != nullptr) FitStatusLine();
}

void TMainForm::MakeProgramFolder(const std::string& folder, const std::string& failure) {
    if (DirectoryExists(folder)) return;
    if (!ForceDirectories(folder)) InformationBox(folder + " : " + failure);
}

void TMainForm::FormCreate() {
    FTitle = Title;
    FPlayHelp = PlayHelp;
    FEditHelp = EditHelp;
    FExeDir = ExeDir();
    FAlbum = TAlbum(FExeDir);
    FImageName.clear();

    FBaseBitmap = std::make_unique<TBitmap>();
    FImageBitmap = std::make_unique<TBitmap>();
    FTraceBitmap = std::make_unique<TBitmap>();
    FEkiBitmap = std::make_unique<TBitmap>();
    FSpotBitmap = std::make_unique<TBitmap>();
    FMaskBitmap = std::make_unique<TBitmap>();
    FMaskViewBitmap = std::make_unique<TBitmap>();
    FMaskUndoBitmap = std::make_unique<TBitmap>();
    FMaskColorBitmap = std::make_unique<TBitmap>();
    FDropField.SetBitmaps(
        {FImageBitmap.get(), FTraceBitmap.get(), FMaskBitmap.get(), FEkiBitmap.get()});

    // The start picture is enlarged; the control keeps its design size.
    TBitmap& screen = ScreenBitmap();
    screen.SetWidth(640);
    screen.SetHeight(480);
    screen.SetPixelFormat(pf24bit);

    ui.MVMSpeedButton->setEnabled(FileExists(FExeDir + MovieMakerFile));

    LoadSystemIni();

    MakeProgramFolder(FAlbum.Folder(), "アルバムフォルダの作成に失敗しました.");
    FAlbum.RemoveUnfinishedEntryFiles();
    MakeProgramFolder(FExeDir + "record/", "録画フォルダの作成に失敗しました.");

    const std::string firstSprite = FExeDir + SpriteFolder + "eki0.bmp";
    if (FileExists(firstSprite)) {
        FEkiNo = -1;
        NextEkiImage();
    } else {
        InformationBox("液ファイル" + firstSprite + "が見つかりません.");
    }

    FSpotBitmap->SetWidth(32);
    FSpotBitmap->SetHeight(32);
    FSpotBitmap->Canvas().Draw(0, 0, ui.CImage->Picture().Bitmap());
    FSpotBitmap->SetPixelFormat(pf24bit);

    FDragX = 0;
    FDragY = 0;
    FMode = mdNoPicture;
    FPenDown = false;
    FMaskModified = false;
    ShowHelp(FPlayHelp);
    FShowPosition = true;
    FPosX = 0;
    FPosY = 0;
    FAutoEmit = false;
    FRecording = false;
    FFrameCount = 0;
    ClearDrops();
    setWindowTitle(QString::fromStdString(FTitle));
    if (Application != nullptr)
        Application->SetOnIdle([this](TObject* sender, bool& done) { AppIdle(sender, done); });
}

void TMainForm::FormDestroy() {
    SaveImageIni(FImageName);
    SaveSystemIni();
    FDropField.SetBitmaps({});
    FBaseBitmap.reset();
    FImageBitmap.reset();
    FTraceBitmap.reset();
    FEkiBitmap.reset();
    FSpotBitmap.reset();
    FMaskBitmap.reset();
    FMaskViewBitmap.reset();
    FMaskUndoBitmap.reset();
    FMaskColorBitmap.reset();
}

// A desktop with nothing to open the file or page with would otherwise leave the click
// without any answer.
void TMainForm::HelpBitBtnClick() {
    const std::string help = FExeDir + HelpFile;
    if (FileExists(help)) ShellOpen(this, help);
    if (AskYesNo("Morvane X Web サイトを表示しますか?")) ShellOpen(this, ProductPage);
}

void TMainForm::MVMSpeedButtonClick() {
    const std::string program = FExeDir + MovieMakerFile;
    if (FileExists(program)) ShellOpen(this, program);
}

void TMainForm::WMDropFiles(const std::string& FileName) {
    ImportPicture(FileName);
}

bool TMainForm::PreviewEvent(QEvent& event) {
    if (event.type() == QEvent::KeyPress) {
        auto& keyEvent = static_cast<QKeyEvent&>(event);
        uint16_t key = VirtualKeyOf(keyEvent);
        if (key != 0) FormKeyDown(key, ShiftStateOf(keyEvent.modifiers()));
        return false;
    }
    if (event.type() == QEvent::Wheel) {
        auto& wheel = static_cast<QWheelEvent&>(event);
        const TShiftState shift = ShiftStateOf(wheel.modifiers(), wheel.buttons());
        const int delta =
            wheel.angleDelta().y() != 0 ? wheel.angleDelta().y() : wheel.angleDelta().x();
        if (delta < 0)
            FormMouseWheelDown(shift);
        else if (delta > 0)
            FormMouseWheelUp(shift);
        // The scroll box must not scroll a second time.
        return ui.ImageScrollBox->isAncestorOf(
            QApplication::widgetAt(wheel.globalPosition().toPoint()));
    }
    return false;
}
