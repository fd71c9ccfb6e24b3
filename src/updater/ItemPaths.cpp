#include "updater/ItemPaths.h"

#include "platform/debug.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "updater/FileServices.h"

namespace UpDater {

bool CheckFilePaths(const UpdateItem& item, const wchar_t* szOperation) {
    if (IsSingleName(item.OriFileName) && !HasParentComponent(item.Folder)) return true;
    platform::OutputDebug(platform::FormatW(L"[OVUSVC][Error %d line] %s   Folder [%s] File [%s] Path Refused \n", 341,
                                            szOperation, item.Folder, item.OriFileName));
    return false;
}

bool CheckShortcutPath(const ShortcutItem& item, const wchar_t* szOperation) {
    if (!HasParentComponent(item.DestFolderPath) && platform::IsShortcutPath(item.DestFolderPath, item.IsUrlType != 0)) return true;
    platform::OutputDebug(platform::FormatW(L"[OVUSVC][Error %d line] %s   [%s] Shortcut Path Refused \n", 343, szOperation,
                                            item.DestFolderPath));
    return false;
}

}  // namespace UpDater
