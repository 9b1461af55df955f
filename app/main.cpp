// reindex: the window program. It renumbers a list of forum sections and the
// forums under them through Database.mdb beside itself (see reindex-cli for
// the same run without a window).
#include "Application.h"
#include "MainU.h"
#include "MainRules.h"
#include "MessageBoxes.h"
#include "PaintTransport.h"
#include "StartupShow.h"

#include <QApplication>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>

namespace {

std::unique_ptr<TfMain> createMainWindow()
{
    return std::make_unique<TfMain>();
}

} // namespace

int main(int argc, char **argv)
{
    choosePaintTransport();
    QApplication app(argc, argv);
    prepareApplication();

    std::unique_ptr<TfMain> fMain;
    try {
        fMain = createMainWindow();
    } catch (const std::exception &failure) {
        // Nothing in the program catches a failure while the window is being
        // made: it is told in a box of its own and the program ends with 1.
        showApplicationError(failure, reinterpret_cast<quintptr>(&createMainWindow));
        return 1;
    }

    // Started minimized or maximized (a shortcut's setting), the window first
    // shows so; the system hands that to a program, not to its window.
    if (const std::optional<int> command = startupShowCommand())
        fMain->setWindowState(startupWindowState(*command));
    fMain->show();
    // Once the event loop runs, so that the window shows first.
    QTimer::singleShot(0, &app, prepareMessageBoxes);
    QApplication::exec();
    return 0;
}
