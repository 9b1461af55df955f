// reindex: the window program. It renumbers a list of forum sections and the
// forums under them through Database.mdb beside itself (see reindex-cli for
// the same run without a window).
#include "ApplicationErrorText.h"
#include "ApplicationTitle.h"
#include "MainU.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <exception>
#include <memory>

namespace {

std::unique_ptr<TfMain> createMainWindow()
{
    return std::make_unique<TfMain>();
}

// Nothing in the program catches a failure while the window is being made:
// it is told in a box of its own and the program ends with 1.
void showApplicationError(const std::exception &failure)
{
    const QString text = applicationErrorText(failureKindName(failure),
                                              QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                                              reinterpret_cast<quintptr>(&createMainWindow),
                                              QString::fromUtf8(failure.what()));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    applicationTitle();

    std::unique_ptr<TfMain> fMain;
    try {
        fMain = createMainWindow();
    } catch (const std::exception &failure) {
        showApplicationError(failure);
        return 1;
    }

    fMain->show();
    QApplication::exec();
    return 0;
}
