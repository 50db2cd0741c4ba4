// The frame tick waits between frames instead of spinning, and a still picture is not
// repainted: idle calls and paints counted while the real message loop runs.
#include "Harness.h"

#include <QEventLoop>
#include <QTimer>

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

constexpr int RunMs = 400;

} // namespace

class IdleTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        SetTimeGetTimeOverride({});
    }

    // Runs the message loop for RunMs with the player's handler, counting its calls and frames.
    void Run(TMainForm& f) {
        calls = frames = 0;
        uint32_t lastTick = Access::LastTick(f);
        TestApplication().SetOnIdle([&](TObject* sender, bool& done) {
            ++calls;
            f.AppIdle(sender, done);
            frames += Access::LastTick(f) != lastTick;
            lastTick = Access::LastTick(f);
        });
        QEventLoop loop;
        QTimer::singleShot(RunMs, &loop, &QEventLoop::quit);
        loop.exec();
    }

    int calls = 0;
    int frames = 0;
};

TEST_F(IdleTest, StartScreenAndStillPictureWakeOnlyForFrames) {
    TMainForm& f = MakeForm();
    PaintCounter counter;
    Ui::TMainForm& ui = Access::Form(f);
    ui.Image->installEventFilter(&counter);
    f.show();
    QCoreApplication::processEvents();

    // The start screen: nothing plays, nothing wakes the handler.
    Run(f);
    EXPECT_LE(calls, 3);

    // A still 640 x 480 picture: one call per frame, frames at their pace, one paint at most
    // (the spot drawn by the first frame).
    Playing(640, 480, ptHada);
    Access::LastTick(f) = timeGetTime();
    counter.paints = 0;
    Run(f);
    EXPECT_GE(frames, 3);
    EXPECT_LE(calls, frames + 3);
    EXPECT_LE(counter.paints, 1);

    // The spot moved by the right button: still no drops, but the picture changed.
    Access::PosX(f) += 20;
    counter.paints = 0;
    Run(f);
    EXPECT_EQ(counter.paints, 1);

    // A drop in flight changes the picture every frame, and every such frame is painted.
    TDrop& d = Access::Drop(f, 0);
    d = TDrop{};
    d.State = 1;
    d.Alpha = 150;
    d.TargetX = d.TargetY = 1000;
    d.Angle = 0.5;
    d.Speed = 1;
    counter.paints = 0;
    Run(f);
    EXPECT_GE(counter.paints, 2);
    f.hide();
}
