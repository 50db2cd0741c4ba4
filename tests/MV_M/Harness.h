// Drives the movie maker's window headless: every dialog, beep, sleep and shell call is
// scripted, and the program folder is a fresh temporary folder.
#pragma once

#include "MV_M/main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline TApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "test_mv_m";
    static char* argv[] = {name, nullptr};
    static auto* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new TApplication(argc, argv);
        a->Title = "Morvane M";
        return a;
    }();
    return *app;
}

class TMainFormTestAccess {
public:
    static Ui::TMainForm& Form(TMainForm& f) { return f.ui; }
    static TJxAvi& Writer(TMainForm& f) { return f.JxAvi; }
    static TBitmap& Frame(TMainForm& f) { return *f.FFrameBitmap; }
    static TBitmap& Logo(TMainForm& f) { return *f.FLogoBitmap; }
    static TBitmap& Work(TMainForm& f) { return *f.FWorkBitmap; }
    static int32_t& LogoStep(TMainForm& f) { return f.FLogoStep; }
    static TSaveDialog& Save(TMainForm& f) { return f.SaveDialog; }
    static TOpenPictureDialog& Open(TMainForm& f) { return f.OpenPictureDialog; }
};
using Access = TMainFormTestAccess;

// A 24-bit picture whose every pixel differs from its neighbours.
inline std::unique_ptr<TBitmap> Pattern(int w, int h, int seed = 0) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetPixelFormat(pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = bmp->ScanLine(y);
        for (int x = 0; x < w; ++x) {
            p[3 * x] = static_cast<uint8_t>(x + 3 * y + seed);
            p[3 * x + 1] = static_cast<uint8_t>(5 * y + 3 + 11 * seed);
            p[3 * x + 2] = static_cast<uint8_t>(7 * x + y);
        }
    }
    return bmp;
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y),
                        static_cast<size_t>((a.Width() * a.BitsPerPixel() + 7) / 8)) != 0)
            return false;
    return true;
}

class MovieMakerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        char pattern[] = "/tmp/mvm_test_XXXXXX";
        dir_ = ::mkdtemp(pattern);
        SetExeDirOverride(dir_);
        SetDialogAnswerer([this](const DialogRequest& r) {
            dialogs.push_back(r);
            if (r.kind == DialogRequest::SaveFile || r.kind == DialogRequest::OpenFile)
                return DialogAnswer{mrNone, !fileAnswer.empty(), fileAnswer};
            DialogAnswer a;
            a.modalResult = answers.empty() ? mrOk : answers.front();
            if (!answers.empty()) answers.pop_front();
            return a;
        });
        SetMessageBeepOverride([this](uint32_t t) { beeps.push_back(t); });
        SetSleepOverride([this](uint32_t ms) {
            sleeps.push_back(ms);
            if (onSleep) onSleep(ms);
        });
        SetShellExecuteOverride([this](const ShellRequest& r) { shell.push_back(r); });
    }

    void TearDown() override {
        form.reset();
        SetDialogAnswerer({});
        SetMessageBeepOverride({});
        SetSleepOverride({});
        SetShellExecuteOverride({});
        SetExeDirOverride("");
        fs::remove_all(dir_);
    }

    std::string Dir() const { return dir_ + "/"; }

    TMainForm& MakeForm() {
        form = std::make_unique<TMainForm>();
        dialogs.clear();
        beeps.clear();
        return *form;
    }
    Ui::TMainForm& Ui() { return Access::Form(*form); }

    // Frame files of the given names in a folder of the program folder; returns the folder.
    std::string Frames(const std::string& folder, const std::vector<std::string>& names, int w = 8,
                       int h = 6) {
        const std::string path = Dir() + folder + "/";
        fs::create_directories(path);
        int seed = 0;
        for (const std::string& name : names)
            Pattern(w, h, ++seed)->SaveToFile(path + name);
        return path;
    }

    std::vector<std::string> Listed() {
        std::vector<std::string> items;
        for (int i = 0; i < Ui().FileListBox->Count(); ++i)
            items.push_back(Ui().FileListBox->item(i)->text().toStdString());
        return items;
    }

    std::vector<std::string> Texts(DialogRequest::Kind kind = DialogRequest::Message) const {
        std::vector<std::string> texts;
        for (const DialogRequest& r : dialogs)
            if (r.kind == kind) texts.push_back(r.text);
        return texts;
    }

    std::unique_ptr<TMainForm> form;
    std::vector<DialogRequest> dialogs;
    std::deque<int> answers;
    std::string fileAnswer;
    std::vector<uint32_t> beeps;
    std::vector<uint32_t> sleeps;
    std::function<void(uint32_t)> onSleep;
    std::vector<ShellRequest> shell;

private:
    std::string dir_;
};
