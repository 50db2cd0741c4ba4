#include "platform/win/ShellApi.h"

#include <QDesktopServices>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace {

std::function<void(const ShellRequest&)>& ShellOverride() {
    static std::function<void(const ShellRequest&)> f;
    return f;
}

constexpr intptr_t ShellSuccess = 33;
constexpr intptr_t ShellFileNotFound = 2;

bool IsAddress(const QString& file) {
    const QUrl url(file);
    return url.isValid() && url.scheme().size() > 1 && !QFileInfo::exists(file);
}

} // namespace

intptr_t ShellExecute(QWidget*, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory,
                      int showCommand) {
    if (ShellOverride()) {
        ShellOverride()({verb, file, parameters, directory, showCommand});
        return ShellSuccess;
    }
    const QString target = QString::fromStdString(file);
    if (IsAddress(target)) return QDesktopServices::openUrl(QUrl(target)) ? ShellSuccess : 0;

    const QFileInfo info(target);
    if (!info.exists()) return ShellFileNotFound;
    if (info.isFile() && info.isExecutable()) {
        const QStringList args = QString::fromStdString(parameters).split(' ', Qt::SkipEmptyParts);
        return QProcess::startDetached(info.absoluteFilePath(), args,
                                       QString::fromStdString(directory))
                   ? ShellSuccess
                   : 0;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? ShellSuccess
                                                                                   : 0;
}

void SetShellExecuteOverride(std::function<void(const ShellRequest&)> shell) {
    ShellOverride() = std::move(shell);
}

std::string DroppedFile(const QMimeData& data) {
    if (!data.hasUrls()) return {};
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) return url.toLocalFile().toStdString();
    return {};
}

void AcceptFileDrag(QDragEnterEvent& event) {
    if (event.mimeData() != nullptr && !DroppedFile(*event.mimeData()).empty())
        event.acceptProposedAction();
}

std::string AcceptFileDrop(QDropEvent& event) {
    if (event.mimeData() == nullptr) return {};
    std::string file = DroppedFile(*event.mimeData());
    if (!file.empty()) event.acceptProposedAction();
    return file;
}
