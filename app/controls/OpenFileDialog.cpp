#include "OpenFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

void OpenFileDialog::configure(QFileDialog &dialog, const BrowseRequest &request)
{
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name is taken as typed: neither the file nor its folder must exist.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    dialog.setNameFilters(request.nameFilters);
    if (!request.nameFilters.isEmpty())
        dialog.selectNameFilter(request.nameFilters.constFirst());
    // An empty folder means the process's current one. Left to itself, the
    // toolkit would start in the folder of whichever dialog was last used,
    // and one field's browsing would move where the other's opens.
    dialog.setDirectory(request.initialFolder.isEmpty() ? QDir::currentPath() : request.initialFolder);
    if (request.fileName.isEmpty())
        return;
    // The name box shows the text as it is, folder part and all. Selecting a
    // full path would also move the toolkit's own dialog to that folder, which
    // must stay the remembered one; a native dialog only fills its box.
    if (auto *box = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        box->setText(request.fileName);
    else
        dialog.selectFile(request.fileName);
}

std::optional<QString> OpenFileDialog::open(QWidget *parent, const BrowseRequest &request)
{
    QFileDialog dialog(parent ? parent->window() : nullptr);
    configure(dialog, request);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.constFirst().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(chosen.constFirst());
}
