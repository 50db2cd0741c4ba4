// The movie maker's program block.
#include "MV_M/main.h"
#include "platform/forms/Forms.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    app.Title = "Morvane M";
    app.setApplicationName("Morvane M");
    auto mainForm = std::make_unique<TMainForm>();
    mainForm->show();
    return app.Run();
}
