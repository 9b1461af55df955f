#include "FilenameEdit.h"

FileNameRules FileNameRules::native()
{
    return windows();
}
