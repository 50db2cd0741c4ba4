// A program linked with the replaced operator new and delete, as mv_m is: every C++ allocation,
// Qt's included, is a block of the pooled manager, from before main to the end.
#include "MV_M/VqMM.h"
#include "platform/rtl/MemoryManager.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <string>

namespace {

TEST(VqMMHook, EveryFormOfNewIsServedByThePooledManager) {
    // The test framework allocated before main: the manager was already installed and serving.
    TMemoryManager installed{};
    GetMemoryManager(installed);
    EXPECT_EQ(installed.GetMem, VqGetMem);
    EXPECT_GT(VqMMState().Outstanding, 0u);

    const uint64_t before = VqMMState().Outstanding;
    auto text = std::make_unique<char[]>(100);
    auto number = std::make_unique<long double>(1.5L);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(number.get()) % alignof(long double), 0u);
    EXPECT_EQ(VqMMState().Outstanding - before, 112u + 32u);

    struct alignas(256) Page {
        char bytes[256];
    };
    auto page = std::make_unique<Page>();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(page.get()) % 256, 0u);
    EXPECT_GT(VqMMState().Outstanding - before, 112u + 32u);
    page.reset();
    text.reset();
    number.reset();
    EXPECT_EQ(VqMMState().Outstanding, before);

    EXPECT_EQ(new (std::nothrow) char[size_t{1} << 40], nullptr);
    EXPECT_THROW(static_cast<void>(std::make_unique<char[]>(size_t{1} << 40)), std::bad_alloc);
}

// Hides the pointer's history from the compiler, which would otherwise warn of the second delete.
char* Opaque(char* p) {
    static char* volatile passed;
    passed = p;
    return passed;
}

TEST(VqMMHook, ADeleteTheManagerRefusesIsTheInvalidPointerError) {
    EXPECT_DEATH(
        {
            auto neighbour = std::make_unique<char[]>(8); // keeps the block's chunk
            char* p = Opaque(new char[8]);
            delete[] p;
            delete[] Opaque(p);
        },
        "Invalid pointer operation");
}

TEST(VqMMHook, AQtApplicationRunsOnThePooledManager) {
    // Qt starts threads of its own: the lock is on before the first window.
    IsMultiThread = true;
    int argc = 1;
    char name[] = "test_vqmm_hook";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const uint64_t before = VqMMState().Outstanding;
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(new QLabel(QString::fromStdString(std::string(200, 'x')), &window));
        window.show();
        QApplication::processEvents();
        EXPECT_GT(VqMMState().Outstanding, before);
    }
    QApplication::processEvents();
    EXPECT_FALSE(VqMMState().TornDown);
}

} // namespace
