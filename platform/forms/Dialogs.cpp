#include "platform/forms/Dialogs.h"

#include "platform/forms/BitmapImage.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <QVBoxLayout>

namespace {

DialogAnswerer& Answerer() {
    static DialogAnswerer f;
    return f;
}

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    default:
        return QMessageBox::NoIcon;
    }
}

int ShowMessageBox(const DialogRequest& request) {
    QMessageBox box(IconOf(request.type), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text));
    struct Pair {
        TMsgDlgButtons ours;
        QMessageBox::StandardButton qt;
        int result;
    };
    static constexpr Pair pairs[] = {{mbYes, QMessageBox::Yes, mrYes},
                                     {mbNo, QMessageBox::No, mrNo},
                                     {mbOK, QMessageBox::Ok, mrOk},
                                     {mbCancel, QMessageBox::Cancel, mrCancel}};
    for (const Pair& p : pairs) {
        if ((request.buttons & p.ours) == 0) continue;
        box.addButton(p.qt);
        if (request.defaultButton == p.ours) box.setDefaultButton(p.qt);
    }
    const auto clicked = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const Pair& p : pairs)
        if (clicked == p.qt) return p.result;
    return mrCancel;
}

constexpr int PreviewSide = 160;

// The picture shrunk to fit Width x Height, and its own size; a null image when unreadable.
QImage LoadPreview(const std::string& fileName, int width, int height, QSize& original) {
    original = {};
    TBitmap bitmap;
    try {
        TPicture picture;
        picture.LoadFromFile(fileName);
        bitmap.Assign(picture.Graphic());
        bitmap.SetPixelFormat(pf24bit);
    } catch (...) {
        return {};
    }
    if (bitmap.Empty()) return {};
    original = {bitmap.Width(), bitmap.Height()};
    const QImage image = BitmapToQImage(bitmap).copy();
    if (image.width() <= width && image.height() <= height) return image;
    return image.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// A panel beside the file list that shows the current picture and its size.
void AddPicturePreview(QFileDialog& dialog) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (grid == nullptr) return;
    auto* panel = new QWidget(&dialog);
    auto* column = new QVBoxLayout(panel);
    auto* picture = new QLabel(panel);
    picture->setFixedSize(PreviewSide, PreviewSide);
    picture->setAlignment(Qt::AlignCenter);
    picture->setFrameShape(QFrame::StyledPanel);
    auto* size = new QLabel(panel);
    size->setAlignment(Qt::AlignCenter);
    column->addWidget(picture);
    column->addWidget(size);
    column->addStretch();
    grid->addWidget(panel, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(
        &dialog, &QFileDialog::currentChanged, panel, [picture, size](const QString& path) {
            QSize original;
            const QImage image =
                LoadPreview(path.toStdString(), PreviewSide, PreviewSide, original);
            picture->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
            size->setText(
                image.isNull()
                    ? QString()
                    : QStringLiteral("(%1 x %2)").arg(original.width()).arg(original.height()));
        });
}

// Qt adds the default suffix to a typed name before it looks whether that names a folder (and
// looks in the working directory, not the dialog's): "clips" and Enter would save "clips.avi"
// beside the folder. Here a typed name of a folder opens it, as in every file dialog, and the
// name the dialog started with comes back for the file.
class TFileDialog : public QFileDialog {
public:
    TFileDialog(QWidget* parent, const QString& caption, const QString& directory)
        : QFileDialog(parent, caption, directory) {}
    void SetStartName(const QString& name) {
        startName_ = name;
        if (!name.isEmpty()) selectFile(name);
    }
    void accept() override {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (acceptMode() == AcceptSave && edit != nullptr && !edit->text().isEmpty()) {
            const QFileInfo typed(QDir(directory()).absoluteFilePath(edit->text()));
            if (typed.isDir()) {
                setDirectory(typed.absoluteFilePath());
                edit->setText(startName_);
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    QString startName_;
};

DialogAnswer ShowFileDialog(const DialogRequest& request, QWidget* parent) {
    const QStringList filters =
        QString::fromStdString(QtNameFilters(request.filter)).split(";;", Qt::SkipEmptyParts);
    TFileDialog dialog(parent, QString::fromStdString(request.caption),
                       QString::fromStdString(request.initialDir));
    if (request.picturePreview) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        AddPicturePreview(dialog);
    }
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    dialog.SetStartName(QString::fromStdString(request.fileName));
    if (request.kind == DialogRequest::SaveFile) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    DialogAnswer answer;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        answer.accepted = true;
        answer.fileName = dialog.selectedFiles().front().toStdString();
    }
    return answer;
}

} // namespace

void SetDialogAnswerer(DialogAnswerer answerer) {
    Answerer() = std::move(answerer);
}

bool ScriptedAnswer(const DialogRequest& request, DialogAnswer& answer) {
    if (!Answerer()) return false;
    answer = Answerer()(request);
    return true;
}

namespace {

int ShowMessage(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
                const std::string& caption, TMsgDlgButtons defaultButton) {
    DialogRequest request;
    request.kind = DialogRequest::Message;
    request.caption = caption.empty() && Application != nullptr ? Application->Title : caption;
    request.text = text;
    request.type = type;
    request.buttons = buttons;
    request.defaultButton = defaultButton;
    if (Answerer()) return Answerer()(request).modalResult;
    return ShowMessageBox(request);
}

} // namespace

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               const std::string& caption) {
    return ShowMessage(text, type, buttons, caption, 0);
}

bool AskYesNo(const std::string& text) {
    MessageBeep(MB_ICONQUESTION);
    return MessageDlg(text, mtConfirmation, mbYesNo) == mrYes;
}

bool AskYesNoDefaultNo(const std::string& text) {
    MessageBeep(MB_ICONQUESTION);
    return ShowMessage(text, mtConfirmation, mbYesNo, {}, mbNo) == mrYes;
}

void NoticeBox(const std::string& text) {
    MessageBeep(MB_ICONASTERISK);
    MessageDlg(text, mtInformation, mbOK);
}

void InformationBox(const std::string& text) {
    MessageDlg(text, mtInformation, mbOK);
}
void WarningBox(const std::string& text) {
    MessageDlg(text, mtWarning, mbOK);
}
void ErrorBox(const std::string& text) {
    MessageDlg(text, mtError, mbOK);
}

void ShellOpen(QWidget* owner, const std::string& target) {
    // The shell's results up to 32 are failures.
    constexpr intptr_t ShellFailureLimit = 32;
    if (ShellExecute(owner, "Open", target, "", "", SW_SHOW) <= ShellFailureLimit)
        InformationBox(Format(
            "%s を開けませんでした.\r\n開くためのアプリケーションが見つからないか, 起動できません",
            target));
}

namespace {

// "*.a;*.b" or "*.a *.b" as its patterns.
std::vector<std::string> SplitPatterns(const std::string& text) {
    std::vector<std::string> patterns;
    size_t s = 0;
    while (s < text.size()) {
        size_t end = text.find_first_of("; ", s);
        if (end == std::string::npos) end = text.size();
        if (end > s) patterns.push_back(text.substr(s, end - s));
        s = end + 1;
    }
    return patterns;
}

// Qt shows the patterns after the description: a description that already ends with them
// ("AVI ファイル (*.avi)") gives up its own copy.
std::string BareDescription(const std::string& description,
                            const std::vector<std::string>& patterns) {
    const size_t open = description.rfind('(');
    if (description.empty() || description.back() != ')' || open == std::string::npos ||
        SplitPatterns(description.substr(open + 1, description.size() - open - 2)) != patterns)
        return description;
    const std::string head = description.substr(0, open);
    return head.substr(0, head.find_last_not_of(' ') + 1);
}

} // namespace

std::string QtNameFilters(const std::string& filter) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= filter.size()) {
        const size_t bar = filter.find('|', start);
        parts.push_back(
            filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::string out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        const std::vector<std::string> patterns = SplitPatterns(parts[i + 1]);
        std::string joined;
        for (const std::string& p : patterns)
            joined += (joined.empty() ? "" : " ") + p;
        const std::string description = BareDescription(parts[i], patterns);
        if (!out.empty()) out += ";;";
        out += description + (description.empty() ? "(" : " (") + joined + ")";
    }
    return out;
}

QImage PicturePreview(const std::string& fileName, int width, int height) {
    QSize original;
    return LoadPreview(fileName, width, height, original);
}

bool TOpenDialog::Execute(QWidget* parent) {
    DialogRequest request;
    request.kind = Kind();
    request.caption = Title;
    request.filter = Filter;
    request.filterIndex = FilterIndex;
    request.initialDir = InitialDir;
    request.fileName = FileName;
    request.defaultExt = DefaultExt;
    request.picturePreview = ShowsPicture();
    const DialogAnswer answer = Answerer() ? Answerer()(request) : ShowFileDialog(request, parent);
    if (answer.accepted) FileName = answer.fileName;
    return answer.accepted;
}
