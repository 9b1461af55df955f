#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// What a file-name field's open dialog is opened with.
struct BrowseRequest
{
    // Empty: the platform's default folder.
    QString initialFolder;
    // Shown in the dialog's name box as it is, folder part included.
    QString fileName;
    // In the toolkit's syntax; the first is selected.
    QStringList nameFilters;
};

// Opens the dialog, modal to the program's windows, and returns the chosen
// file's full path, or nothing when the user cancelled.
using BrowseDialog = std::function<std::optional<QString>(QWidget *parent, const BrowseRequest &request)>;
