#pragma once

#include "FileNameRules.h"

#include <QString>

#include <functional>

// Where a file-name field's open dialog starts and which name it offers:
// taken from the field's text before each browse when that text could name
// a file, and from the file the user picked after a confirmed one. A text
// that cannot name a file leaves it as the previous browse left it, so a
// cleared field still opens where the user last looked.
class BrowseMemory
{
public:
    // Whether a folder part (with its trailing separator) names an existing
    // directory.
    using DirectoryExists = std::function<bool(const QString &folder)>;

    // The running system's rules, asked of the file system.
    BrowseMemory();
    // Without `exists`, the file system is asked.
    BrowseMemory(FileNameRules rules, DirectoryExists exists);

    // Before the dialog opens: the field's text.
    void takeText(const QString &text);
    // After the user confirmed a file: its full path.
    void confirm(const QString &path);

    const QString &initialFolder() const { return initialFolder_; }
    const QString &fileName() const { return fileName_; }
    const FileNameRules &rules() const { return rules_; }

    // The platform's answer: the path has attributes and they say directory.
    static bool isExistingDirectory(const QString &folder);

private:
    FileNameRules rules_;
    DirectoryExists exists_;
    QString initialFolder_;
    QString fileName_;
};
