#include "BrowseMemory.h"

#include <QFileInfo>

BrowseMemory::BrowseMemory() : BrowseMemory(FileNameRules::native(), &BrowseMemory::isExistingDirectory)
{
}

BrowseMemory::BrowseMemory(FileNameRules rules, DirectoryExists exists)
    : rules_(std::move(rules)), exists_(exists ? std::move(exists) : DirectoryExists(&BrowseMemory::isExistingDirectory))
{
}

bool BrowseMemory::isExistingDirectory(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(folder).isDir();
}

void BrowseMemory::takeText(const QString &text)
{
    if (!rules_.isPlausible(text))
        return;
    const QString folder = rules_.folderPart(text);
    if (!folder.isEmpty() && exists_(folder))
        initialFolder_ = folder;
    // The dialog shows the whole text, folder and all, in its name box.
    fileName_ = rules_.namePart(text).isEmpty() ? QString() : text;
}

void BrowseMemory::confirm(const QString &path)
{
    fileName_ = path;
    initialFolder_ = rules_.folderPart(path);
}
