// The shell: opening files and addresses, starting programs, files dropped on a window.
#pragma once

#include <functional>
#include <string>

class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QWidget;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

struct ShellRequest {
    std::string verb;
    std::string file;
    std::string parameters;
    std::string directory;
    int showCommand = SW_SHOW;
};

// "Open" of a web address or a document goes to the desktop's default handler; of an
// executable file starts it detached (Parameters split on blanks). The result is above 32 on
// success, as the platform's.
intptr_t ShellExecute(QWidget* owner, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory, int showCommand);
// Tests record requests instead of running them; an empty function restores the shell.
void SetShellExecuteOverride(std::function<void(const ShellRequest&)> shell);

// The first local file of a drop, or empty when the drop holds none.
std::string DroppedFile(const QMimeData& data);
// A window that takes dropped files accepts a drag that carries a local file.
void AcceptFileDrag(QDragEnterEvent& event);
// The first local file of a drop, which is then accepted; empty when the drop carries none.
std::string AcceptFileDrop(QDropEvent& event);
