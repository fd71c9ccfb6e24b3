// Checks that the paths a manifest item names stay where they appear to be, before a stage
// writes, moves, deletes or loads anything at them.
#pragma once

#include "manifest/ManifestItems.h"

namespace UpDater {

// The file's name is one name and its folder has no ".." component. Otherwise writes a line
// naming the item and szOperation, and returns false.
bool CheckFilePaths(const UpdateItem& item, const wchar_t* szOperation);
// The shortcut file's path has no ".." component and the platform's shortcut extension;
// otherwise a line and false.
bool CheckShortcutPath(const ShortcutItem& item, const wchar_t* szOperation);

}  // namespace UpDater
