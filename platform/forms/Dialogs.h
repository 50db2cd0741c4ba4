// The dialogs facade: every message box and file dialog of the programs goes through here,
// so tests can answer them with a script instead of a window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QImage;
class QWidget;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Button sets.
using TMsgDlgButtons = uint32_t;
inline constexpr TMsgDlgButtons mbYes = 1u << 0;
inline constexpr TMsgDlgButtons mbNo = 1u << 1;
inline constexpr TMsgDlgButtons mbOK = 1u << 2;
inline constexpr TMsgDlgButtons mbCancel = 1u << 3;
inline constexpr TMsgDlgButtons mbOKButton = mbOK;
inline constexpr TMsgDlgButtons mbYesNo = mbYes | mbNo;
inline constexpr TMsgDlgButtons mbOKCancel = mbOK | mbCancel;

// Modal results.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

struct DialogRequest {
    enum Kind { Message, OpenFile, SaveFile, ChooseCompressor };
    Kind kind = Message;
    std::string caption;
    std::string text;
    TMsgDlgType type = mtInformation;
    TMsgDlgButtons buttons = mbOK;
    // The button Enter presses; none: the box's first.
    TMsgDlgButtons defaultButton = 0;
    // File dialogs.
    std::string filter; // "description|pattern|description|pattern"
    int filterIndex = 1;
    std::string initialDir;
    std::string fileName;
    std::string defaultExt;
    bool picturePreview = false; // the open-picture dialog shows the chosen picture
    // Compressor dialog (caption: its title): the FOURCCs of the compressors it offers after
    // "full frames (uncompressed)", and its ICMF_CHOOSE_* flags.
    std::vector<uint32_t> compressors;
    uint32_t chooseFlags = 0;
};

struct DialogAnswer {
    int modalResult = mrNone; // message boxes
    bool accepted = false;    // file dialogs
    std::string fileName;     // file dialogs
    // Compressor dialog: the chosen handler (the FOURCC "DIB " for full frames), quality
    // (0..10000, -1 for the compressor's default), key frame every N frames (0: the
    // compressor's choice) and data rate in kilobytes per second (0: no limit).
    uint32_t fccHandler = 0;
    int32_t quality = -1;
    int32_t keyFrameEvery = 0;
    int32_t dataRate = 0;
};

// A scripted answerer replaces every dialog; an empty function restores the real windows.
using DialogAnswerer = std::function<DialogAnswer(const DialogRequest&)>;
void SetDialogAnswerer(DialogAnswerer answerer);
// True when a scripted answerer is installed; Answer is then its answer to Request. Dialogs
// that live outside this unit (the compressor dialog) ask here before showing a window.
bool ScriptedAnswer(const DialogRequest& request, DialogAnswer& answer);

// Caption empty: the application's title.
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               const std::string& caption = {});

// The programs' habits: questions are Yes/No boxes after MessageBeep(32), True on Yes;
// notices after a user's action are information boxes after MessageBeep(64); failure reports
// and start-up messages come without a beep.
bool AskYesNo(const std::string& text);
// A question whose default answer is No: for what cannot be undone.
bool AskYesNoDefaultNo(const std::string& text);
void NoticeBox(const std::string& text);
void InformationBox(const std::string& text);
void WarningBox(const std::string& text);
void ErrorBox(const std::string& text);

// Opens a document, web address or program with the desktop (the shell's "Open"); when the
// desktop cannot (no handler, nothing to start), an information box names Target.
void ShellOpen(QWidget* owner, const std::string& target);

// "description|pattern;pattern|..." as Qt's "description (pattern pattern);;...".
std::string QtNameFilters(const std::string& filter);

// The picture file as the open-picture dialog previews it: loaded by the picture classes
// registered for its extension, shrunk to fit Width x Height keeping its aspect; a null image
// when it cannot be loaded.
QImage PicturePreview(const std::string& fileName, int width, int height);

class TOpenDialog {
public:
    virtual ~TOpenDialog() = default;
    std::string Title;
    std::string Filter;
    int FilterIndex = 1;
    std::string InitialDir;
    std::string FileName;
    std::string DefaultExt;
    // True when the user picked a file; FileName is then its full path.
    bool Execute(QWidget* parent = nullptr);

protected:
    virtual DialogRequest::Kind Kind() const { return DialogRequest::OpenFile; }
    virtual bool ShowsPicture() const { return false; }
};

class TOpenPictureDialog : public TOpenDialog {
protected:
    bool ShowsPicture() const override { return true; }
};

class TSaveDialog : public TOpenDialog {
protected:
    DialogRequest::Kind Kind() const override { return DialogRequest::SaveFile; }
};
