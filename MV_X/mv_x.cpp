// The player's program block.
#include "MV_X/album_U.h"
#include "MV_X/main.h"
#include "platform/forms/Forms.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    app.Title = "Morvane X";
    app.setApplicationName("Morvane X");
    auto mainForm = std::make_unique<TMainForm>();
    // Destroyed before the main window, whose album folder it lists.
    auto albumForm = std::make_unique<TAlbumForm>(*mainForm);
    mainForm->show();
    return app.Run();
}
