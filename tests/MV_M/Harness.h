// Drives the movie maker's window headless: every dialog, beep, sleep and shell call is
// scripted, and the program folder is a fresh temporary folder.
#pragma once

#include "../HeadlessApplication.h"
#include "../common/TestBitmaps.h"
#include "MV_M/main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/ShellApi.h"
#include "platform/win/WinBase.h"
#include "tests/platform/AviTestSupport.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline TApplication& TestApplication() {
    return HeadlessApplication("Morvane M");
}

// The window's controls, writer, dialogs and state, as they are at the moment of the call.
class TMainFormTestAccess {
public:
    struct Parts {
        Ui::TMainForm& Form;
        TJxAvi& Writer;
        TSaveDialog& Save;
        TOpenPictureDialog& Open;
        TBitmap& Frame;
        TBitmap& Logo;
    };
    static Parts Of(TMainForm& f) {
        return {f.ui, f.JxAvi, f.SaveDialog, f.OpenPictureDialog, f.FJob.Frame(), f.FJob.Logo()};
    }
};
using Access = TMainFormTestAccess;

// A 24-bit picture of random bytes, the same for the same seed.
inline std::unique_ptr<TBitmap> Pattern(int w, int h, int seed = 0) {
    std::mt19937 random(static_cast<unsigned>(seed));
    return test_bitmaps::Noise(w, h, random);
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           a.PixelFormat() == b.PixelFormat() && test_bitmaps::Bytes(a) == test_bitmaps::Bytes(b);
}

// "codec,width,height,frames" of a movie's one stream as ffprobe counts its packets; empty
// unless ffmpeg decodes exactly that many frames.
inline std::string Movie(const std::string& path) {
    const auto streams = avitest::ProbeStreams(path);
    if (streams.size() != 1) return {};
    auto field = [&](const char* name) {
        const auto it = streams[0].find(name);
        return it == streams[0].end() ? std::string("?") : it->second;
    };
    const size_t frameBytes =
        3u * std::stoul("0" + field("width")) * std::stoul("0" + field("height"));
    const auto decoded = avitest::Decode(path, "v:0", "-f rawvideo -pix_fmt bgr24");
    if (frameBytes == 0 ||
        decoded.size() != frameBytes * std::stoul("0" + field("nb_read_packets")))
        return {};
    return field("codec_name") + "," + field("width") + "," + field("height") + "," +
           field("nb_read_packets");
}

class MovieMakerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        SetExeDirOverride(Dir());
        SetDialogAnswerer([this](const DialogRequest& r) { return Answer(r); });
        SetMessageBeepOverride([this](uint32_t t) { beeps.push_back(t); });
        SetSleepOverride([this](uint32_t ms) {
            sleeps.push_back(ms);
            if (onSleep) onSleep(ms);
        });
        SetShellExecuteOverride([this](const ShellRequest& r) {
            shell.push_back(r);
            return shellResult;
        });
    }

    void TearDown() override {
        form.reset();
        SetDialogAnswerer({});
        SetMessageBeepOverride({});
        SetSleepOverride({});
        SetShellExecuteOverride({});
        SetExeDirOverride("");
    }

    // File dialogs take fileAnswer (none when empty); compressor dialogs the next of
    // compressors (cancelled when none is left); message boxes the next of answers, OK when
    // none is left.
    DialogAnswer Answer(const DialogRequest& r) {
        dialogs.push_back(r);
        if (r.kind == DialogRequest::SaveFile || r.kind == DialogRequest::OpenFile)
            return DialogAnswer{mrNone, !fileAnswer.empty(), fileAnswer};
        if (r.kind == DialogRequest::ChooseCompressor) {
            if (compressors.empty()) return DialogAnswer{mrCancel};
            DialogAnswer chosen{mrOk, true};
            chosen.fccHandler = compressors.front();
            compressors.pop_front();
            return chosen;
        }
        DialogAnswer a;
        a.modalResult = answers.empty() ? mrOk : answers.front();
        if (!answers.empty()) answers.pop_front();
        return a;
    }

    std::string Dir() const { return folder_ / ""; }

    TMainForm& MakeForm() {
        form = std::make_unique<TMainForm>();
        dialogs.clear();
        beeps.clear();
        return *form;
    }
    Ui::TMainForm& Ui() { return Access::Of(*form).Form; }

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
    std::deque<uint32_t> compressors;
    std::string fileAnswer;
    std::vector<uint32_t> beeps;
    std::vector<uint32_t> sleeps;
    std::function<void(uint32_t)> onSleep;
    std::vector<ShellRequest> shell;
    intptr_t shellResult = ShellSuccess;

private:
    avitest::ScratchDir folder_;
};
