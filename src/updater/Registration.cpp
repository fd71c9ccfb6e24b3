#include "updater/Registration.h"

#include "manifest/FolderPaths.h"
#include "platform/com.h"
#include "platform/shell.h"
#include "updater/FileServices.h"

namespace UpDater {

namespace {

void CallServer(const std::wstring& szPath, platform::ComponentStep step) {
    platform::ComScope com(platform::ComInit::Ole);
    if (!com.Ok()) return;
    try {
        if (!FileExists(szPath)) return;
        platform::CallComponentEntry(szPath, step);
    } catch (...) {
        // A component that fails is passed over; the next one is still handled.
    }
}

}  // namespace

void RegisterServer(const std::wstring& szPath) { CallServer(szPath, platform::ComponentStep::Register); }

void UnregisterServer(const std::wstring& szPath) { CallServer(szPath, platform::ComponentStep::Unregister); }

bool IsSelfRegistering(const std::wstring& szInstallPath, platform::ComponentStep step) {
    return platform::IsSelfRegisteringExt(GetFileExt(szInstallPath), step);
}

int32_t CreateShortcut(const std::wstring& szTarget, const std::wstring& szDescription, int bUrl,
                       const std::wstring& szLinkPath) {
    // Refused before any folder is made for it.
    if (!platform::IsShortcutPath(szLinkPath, bUrl != 0)) return static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
    if (!bUrl) {
        const std::wstring szFolder = GetFolderPath(szLinkPath);
        if (!FileExists(szFolder)) CreateFolderTree(szFolder);
    }
    platform::ShortcutInfo shortcut;
    shortcut.szTarget = szTarget;
    shortcut.szDescription = szDescription;
    shortcut.bUrl = bUrl != 0;
    return platform::SaveShortcut(szLinkPath, shortcut);
}

}  // namespace UpDater
