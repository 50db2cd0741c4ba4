#include "platform/win/ShellApi.h"

#include <QDesktopServices>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QWidget>

namespace {

std::function<intptr_t(const ShellRequest&)>& ShellOverride() {
    static std::function<intptr_t(const ShellRequest&)> f;
    return f;
}

constexpr int QueryTimeoutMs = 3000;

// The desktop launcher starts even when nothing can open the target and fails later, unseen;
// its handler table is asked first. Where the table cannot be asked, the launch decides.
bool DesktopHasHandler(const QString& mimeType) {
    const QString query = QStandardPaths::findExecutable("xdg-mime");
    if (query.isEmpty()) return true;
    QProcess process;
    process.start(query, {"query", "default", mimeType});
    if (!process.waitForFinished(QueryTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return true;
    return !process.readAllStandardOutput().trimmed().isEmpty();
}

intptr_t OpenWithDesktop(const QUrl& url, const QString& mimeType) {
    if (!DesktopHasHandler(mimeType)) return SE_ERR_NOASSOC;
    return QDesktopServices::openUrl(url) ? ShellSuccess : SE_ERR_NOASSOC;
}

bool IsAddress(const QString& file) {
    const QUrl url(file);
    return url.isValid() && url.scheme().size() > 1 && !QFileInfo::exists(file);
}

} // namespace

intptr_t ShellExecute(QWidget*, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory,
                      int showCommand) {
    if (ShellOverride()) return ShellOverride()({verb, file, parameters, directory, showCommand});
    const QString target = QString::fromStdString(file);
    if (IsAddress(target)) {
        const QUrl url(target);
        return OpenWithDesktop(url, "x-scheme-handler/" + url.scheme());
    }

    const QFileInfo info(target);
    if (!info.exists()) return SE_ERR_FNF;
    if (info.isFile() && info.isExecutable()) {
        const QStringList args = QString::fromStdString(parameters).split(' ', Qt::SkipEmptyParts);
        return QProcess::startDetached(info.absoluteFilePath(), args,
                                       QString::fromStdString(directory))
                   ? ShellSuccess
                   : SE_ERR_NOASSOC;
    }
    return OpenWithDesktop(QUrl::fromLocalFile(info.absoluteFilePath()),
                           QMimeDatabase().mimeTypeForFile(info).name());
}

void SetShellExecuteOverride(std::function<intptr_t(const ShellRequest&)> shell) {
    ShellOverride() = std::move(shell);
}

std::string DroppedFile(const QMimeData& data) {
    if (!data.hasUrls()) return {};
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) return url.toLocalFile().toStdString();
    return {};
}

namespace {

void AcceptAsCopy(QDropEvent& event) {
    event.setDropAction(Qt::CopyAction);
    event.accept();
}

} // namespace

void AcceptFileDrag(QDragMoveEvent& event) {
    if (event.mimeData() != nullptr && !DroppedFile(*event.mimeData()).empty()) AcceptAsCopy(event);
}

std::string AcceptFileDrop(QDropEvent& event) {
    if (event.mimeData() == nullptr) return {};
    std::string file = DroppedFile(*event.mimeData());
    if (!file.empty()) AcceptAsCopy(event);
    return file;
}

namespace {

// Sees the window's drag and drop events before the window does; a child of the window.
class FileDropFilter final : public QObject {
public:
    FileDropFilter(QWidget& window, std::function<void(const std::string&)> onDrop)
        : QObject(&window), onDrop_(std::move(onDrop)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            AcceptFileDrag(static_cast<QDragMoveEvent&>(*event));
            return true;
        case QEvent::Drop:
            if (const std::string file = AcceptFileDrop(static_cast<QDropEvent&>(*event));
                !file.empty())
                onDrop_(file);
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    std::function<void(const std::string&)> onDrop_;
};

} // namespace

void AcceptDroppedFiles(QWidget& window, std::function<void(const std::string& file)> onDrop) {
    window.setAcceptDrops(true);
    window.installEventFilter(new FileDropFilter(window, std::move(onDrop)));
}
