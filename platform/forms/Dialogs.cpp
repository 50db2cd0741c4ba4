#include "platform/forms/Dialogs.h"

#include "platform/forms/BitmapImage.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
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

DialogAnswer ShowFileDialog(const DialogRequest& request, QWidget* parent) {
    const QStringList filters =
        QString::fromStdString(QtNameFilters(request.filter)).split(";;", Qt::SkipEmptyParts);
    QFileDialog dialog(parent, QString::fromStdString(request.caption),
                       QString::fromStdString(request.initialDir));
    if (request.picturePreview) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        AddPicturePreview(dialog);
    }
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
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
        std::string patterns;
        size_t s = 0;
        const std::string& p = parts[i + 1];
        while (s < p.size()) {
            size_t semi = p.find(';', s);
            if (semi == std::string::npos) semi = p.size();
            if (semi > s) {
                if (!patterns.empty()) patterns += ' ';
                patterns += p.substr(s, semi - s);
            }
            s = semi + 1;
        }
        if (!out.empty()) out += ";;";
        out += parts[i] + " (" + patterns + ")";
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
