// The shell: opening files and addresses, starting programs, files dropped on a window.
#pragma once

#include <functional>
#include <string>

class QDragMoveEvent;
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

// Results at or below 32 are failures, as the platform's.
inline constexpr intptr_t SE_ERR_FNF = 2;
inline constexpr intptr_t SE_ERR_NOASSOC = 31;
inline constexpr intptr_t ShellSuccess = 33;

// "Open" of a web address or a document goes to the desktop's default handler; of an
// executable file starts it detached (Parameters split on blanks). The result is above 32 on
// success; SE_ERR_NOASSOC when the desktop has no handler for the address or the file's type
// or cannot start one, SE_ERR_FNF for a missing file.
intptr_t ShellExecute(QWidget* owner, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory, int showCommand);
// Tests answer requests instead of running them; an empty function restores the shell.
void SetShellExecuteOverride(std::function<intptr_t(const ShellRequest&)> shell);

// The first local file of a drop, or empty when the drop holds none.
std::string DroppedFile(const QMimeData& data);
// A window that takes dropped files accepts a drag that carries a local file, on entering and
// while it moves. Drops are accepted as a copy whatever the source proposed: a file manager
// that is answered "move" deletes the dragged original.
void AcceptFileDrag(QDragMoveEvent& event);
// The first local file of a drop, which is then accepted as a copy; empty when the drop
// carries none.
std::string AcceptFileDrop(QDropEvent& event);
// Makes Window take dropped files as above: OnDrop gets the first local file of each drop.
void AcceptDroppedFiles(QWidget& window, std::function<void(const std::string& file)> onDrop);
