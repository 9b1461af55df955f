#pragma once

#include "BrowseRequest.h"

class QFileDialog;

// The toolkit's open-file dialog as a file-name field opens it: one file,
// which need not exist, nor its folder; the toolkit's own title.
class OpenFileDialog
{
public:
    static void configure(QFileDialog &dialog, const BrowseRequest &request);
    // Runs the dialog modally over `parent`'s window. The chosen path comes
    // back in the system's own separators.
    static std::optional<QString> open(QWidget *parent, const BrowseRequest &request);
};
