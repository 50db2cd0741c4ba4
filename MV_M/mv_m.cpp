// The movie maker's program block.
#include "MV_M/main.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/MemoryManager.h"

#include <memory>

int main(int argc, char** argv) {
    // Qt starts threads of its own as soon as the application exists: the pooled memory
    // manager must take its lock from then on.
    IsMultiThread = true;
    TApplication app(argc, argv);
    app.Title = "Morvane M";
    app.setApplicationName("Morvane M");
    auto mainForm = std::make_unique<TMainForm>();
    mainForm->show();
    return app.Run();
}
