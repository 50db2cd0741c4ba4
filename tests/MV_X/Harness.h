// Drives the real main window headless: every dialog, key, clock and shell call is scripted.
#pragma once

#include "../HeadlessApplication.h"
#include "MV_X/album_U.h"
#include "MV_X/main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/System.h"
#include "platform/win/KeyState.h"
#include "platform/win/MMSystem.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"
#include "tests/MV_X/DropScene.h"

#include <QLabel>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

inline TApplication& TestApplication() {
    return HeadlessApplication("Morvane X");
}

class TMainFormTestAccess {
public:
    // A slot the test may fill: the frame's passes reach it.
    static TDrop& Drop(TMainForm& f, int i) { return f.FDropField.Drop(i); }
    // The simulation with the options the radio groups give.
    static TDropField& Drops(TMainForm& f) { return f.DropField(); }
    // The options as the window last handed them over.
    static const TDropOptions& Options(TMainForm& f) { return f.FDropField.Options; }
    static Ui::TMainForm& Form(TMainForm& f) { return f.ui; }
    static TBitmap& Screen(TMainForm& f) { return f.ScreenBitmap(); }
    static TBitmap& Trace(TMainForm& f) { return *f.FTraceBitmap; }
    static TBitmap& Image(TMainForm& f) { return *f.FImageBitmap; }
    static TBitmap& Base(TMainForm& f) { return *f.FBaseBitmap; }
    static TBitmap& MaskView(TMainForm& f) { return *f.FMaskViewBitmap; }
    static TBitmap& Mask(TMainForm& f) { return *f.FMaskBitmap; }
    static TBitmap& MaskColor(TMainForm& f) { return *f.FMaskColorBitmap; }
    static TBitmap& MaskUndo(TMainForm& f) { return *f.FMaskUndoBitmap; }
    static bool& MaskModified(TMainForm& f) { return f.FMaskModified; }
    static int32_t& FrameCount(TMainForm& f) { return f.FFrameCount; }
    static TBitmap& Eki(TMainForm& f) { return *f.FEkiBitmap; }
    static TBitmap& Spot(TMainForm& f) { return *f.FSpotBitmap; }
    static TFormMode& Mode(TMainForm& f) { return f.FMode; }
    static uint32_t& LastTick(TMainForm& f) { return f.FLastTick; }
    static bool& AutoEmitOn(TMainForm& f) { return f.FAutoEmit; }
    static bool& ShowPosition(TMainForm& f) { return f.FShowPosition; }
    static bool& Recording(TMainForm& f) { return f.FRecording; }
    static std::string& RecordDir(TMainForm& f) { return f.FRecordDir; }
    static int32_t& PosX(TMainForm& f) { return f.FPosX; }
    static int32_t& PosY(TMainForm& f) { return f.FPosY; }
    static int32_t& EkiNo(TMainForm& f) { return f.FEkiNo; }
    static int32_t& DragX(TMainForm& f) { return f.FDragX; }
    static std::string& ImageName(TMainForm& f) { return f.FImageName; }
    static const std::string& PlayHelp(TMainForm& f) { return f.FPlayHelp; }
    static TColor ScrollBoxColor(TMainForm& f) { return f.ScrollBoxColor(); }
    static QLabel& StatusLabel(TMainForm& f) { return *f.FStatusLabel; }
    static std::string StatusText(TMainForm& f) { return f.FStatusLabel->text().toStdString(); }
};
using Access = TMainFormTestAccess;

class TAlbumFormTestAccess {
public:
    static Ui::TAlbumForm& Form(TAlbumForm& a) { return a.ui; }
    static const TStringList& Names(TAlbumForm& a) { return *a.FNames; }
};

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        char pattern[] = "/tmp/mvx_test_XXXXXX";
        dir_ = ::mkdtemp(pattern);
        SetExeDirOverride(dir_);
        SetDialogAnswerer([this](const DialogRequest& r) {
            dialogs.push_back(r);
            DialogAnswer a;
            a.modalResult = answers.empty() ? mrOk : answers.front();
            if (!answers.empty()) answers.pop_front();
            return a;
        });
        SetMessageBeepOverride([this](uint32_t t) { beeps.push_back(t); });
        SetKeyStateOverride([this](int vk) { return keysDown.count(vk) != 0; });
        SetTimeGetTimeOverride([this] { return clock; });
        SetCursorPosOverride([this] { return cursor; });
        SetShellExecuteOverride([this](const ShellRequest& r) {
            shell.push_back(r);
            return shellResult;
        });
        RandSeed = 0;
    }

    void TearDown() override {
        album.reset();
        form.reset();
        SetDialogAnswerer({});
        SetMessageBeepOverride({});
        SetKeyStateOverride({});
        SetTimeGetTimeOverride({});
        SetCursorPosOverride({});
        SetShellExecuteOverride({});
        SetExeDirOverride("");
        std::filesystem::remove_all(dir_);
    }

    std::string Dir() const { return dir_ + "/"; }

    void CopySprites(int count) {
        std::filesystem::create_directories(Dir() + "ekiimg");
        for (int n = 0; n < count; ++n) {
            const std::string name = "eki" + std::to_string(n) + ".bmp";
            std::filesystem::copy_file(std::string(MV_SOURCE_DIR) + "/assets/ekiimg/" + name,
                                       Dir() + "ekiimg/" + name);
        }
    }

    TMainForm& MakeForm() {
        form = std::make_unique<TMainForm>();
        dialogs.clear();
        beeps.clear();
        return *form;
    }

    // The main window and the album window, as the program block makes them.
    TMainForm& MakeForms() {
        form = std::make_unique<TMainForm>();
        album = std::make_unique<TAlbumForm>(*form);
        dialogs.clear();
        beeps.clear();
        return *form;
    }

    // A playing picture of W x H, trace and clean picture of one grey, mask of one part, and a
    // sprite of SW x SH of another grey; the table cleared and the seed at 0.
    TMainForm& Playing(int w, int h, uint8_t part, int sw = 4, int sh = 4) {
        TMainForm& f = form ? *form : MakeForm();
        Access::Image(f).Assign(Solid(w, h, 100, 100, 100).get());
        Access::Trace(f).Assign(Solid(w, h, 100, 100, 100).get());
        Access::Screen(f).Assign(Solid(w, h, 100, 100, 100).get());
        Access::Eki(f).Assign(Solid(sw, sh, 200, 200, 200).get());
        TBitmap& mask = Access::Mask(f);
        mask.SetPixelFormat(pf8bit);
        mask.SetSize(w, h);
        TMainForm::FillMaskBitmap(mask, part);
        f.ClearDrops();
        Access::Mode(f) = mdPlaying;
        RandSeed = 0;
        return f;
    }

    TRadioGroup& Group(const char* name) {
        return *Access::Form(*form).centralwidget->findChild<TRadioGroup*>(name);
    }

    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TAlbumForm> album;
    std::vector<DialogRequest> dialogs;
    std::deque<int> answers;
    std::vector<uint32_t> beeps;
    std::set<int> keysDown;
    uint32_t clock = 0;
    TPoint cursor{};
    std::vector<ShellRequest> shell;
    intptr_t shellResult = ShellSuccess;

private:
    std::string dir_;
};
