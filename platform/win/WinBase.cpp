#include "platform/win/WinBase.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

namespace {
std::function<void(uint32_t)>& BeepOverride() {
    static std::function<void(uint32_t)> f;
    return f;
}
std::function<void(uint32_t)>& SleepOverride() {
    static std::function<void(uint32_t)> f;
    return f;
}
} // namespace

void Sleep(uint32_t milliseconds) {
    if (SleepOverride()) {
        SleepOverride()(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SleepResponsive(uint32_t milliseconds) {
    if (SleepOverride() || QApplication::instance() == nullptr) {
        Sleep(milliseconds);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}

bool MessageBeep(uint32_t type) {
    if (BeepOverride()) {
        BeepOverride()(type);
        return true;
    }
    if (QApplication::instance() != nullptr) QApplication::beep();
    return true;
}

void SetMessageBeepOverride(std::function<void(uint32_t)> beep) {
    BeepOverride() = std::move(beep);
}

void SetSleepOverride(std::function<void(uint32_t)> sleep) {
    SleepOverride() = std::move(sleep);
}
