#include "manifest/ManifestXml.h"
#include "manifest/RegValue.h"
#include "platform/com.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/i18n.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "updater/FileServices.h"
#include "updater/ItemPaths.h"
#include "updater/MgrStageLoop.h"
#include "updater/Registration.h"
#include "updater/WindowsFirewall.h"

namespace UpDater {

using platform::FormatW;

namespace {
// Steps without per-item progress text.
const auto kNoText = [](const auto&, int, int) { return std::wstring(); };
}  // namespace

bool CMgr::RunComponentStep(bool bRegister) {
    const auto step = bRegister ? platform::ComponentStep::Register : platform::ComponentStep::Unregister;
    RunStageLoop(
        m_UpdateList, kNoText,
        [step, bRegister](const UpdateItem& item) {
            // A failing component never stops the loop.
            try {
                if (item.RegCom != 0 && IsSelfRegistering(item.InstallPath, step) &&
                    CheckFilePaths(item, bRegister ? L"CMgr::RegisterComponents()" : L"CMgr::UnregisterComponents()")) {
                    if (bRegister)
                        RegisterServer(item.InstallPath);
                    else
                        UnregisterServer(item.InstallPath);
                }
            } catch (...) {
            }
            return true;
        },
        nullptr);
    return m_bCancel == 0;
}

bool CMgr::UnregisterComponents() { return RunComponentStep(false); }

bool CMgr::RegisterComponents() { return RunComponentStep(true); }

bool CMgr::InstallShortcuts() {
    const int n = static_cast<int>(m_ShortcutList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(platform::Translate(L"%d/%d shortcuts...").c_str(), 0, n), n);
    const std::wstring itemFormat = platform::Translate(L"%d/%d installing shortcuts...");
    RunStageLoop(
        m_ShortcutList, [&itemFormat](const ShortcutItem&, int i, int n) { return FormatW(itemFormat.c_str(), i, n); },
        [](const ShortcutItem& item) {
            if (!CheckShortcutPath(item, L"CMgr::InstallShortcuts()")) return true;
            platform::ComScope com(platform::ComInit::Apartment);
            const int32_t hr = CreateShortcut(item.SourcePath, item.Des, static_cast<int>(item.IsUrlType), item.DestFolderPath);
            if (hr != 0)
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::InstallShortcuts()   [%s] Shortcut Save Failed [0x%08X]\n",
                                              344, item.DestFolderPath, static_cast<unsigned>(hr)));
            return true;
        },
        nullptr);
    return m_bCancel == 0;
}

bool CMgr::WriteRegistryValues() {
    const int n = static_cast<int>(m_RegistList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(platform::Translate(L"%d/%d registry values...").c_str(), 0, n), n);
    const std::wstring itemFormat = platform::Translate(L"%d/%d writing registry values...");
    RunStageLoop(
        m_RegistList, [&itemFormat](const RegistItem&, int i, int n) { return FormatW(itemFormat.c_str(), i, n); },
        [](const RegistItem& item) {
            if (item.ValueType == kRegTypeString) {
                CRegStringValue value(item.Path, L"", false, item.hRootKey);
                value = item.Value;
            } else if (item.ValueType == kRegTypeDword) {
                CRegDwordValue value(item.Path, 0x13475, false, item.hRootKey);
                value = static_cast<uint32_t>(ParseInt32(item.Value));
            }
            return true;
        },
        nullptr);
    return m_bCancel == 0;
}

bool CMgr::CleanupPrograms() {
    const int n = static_cast<int>(m_RemoveUpdateList.size() + m_RemoveShortcutList.size());
    if (n == 0) return true;
    const std::wstring heading = platform::Translate(L"%d/%d cleaning up...");
    ReportStatesMax(FormatW(heading.c_str(), 0, n), n);
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    int i = 0;
    for (const auto& item : m_RemoveUpdateList) {
        if (m_bCancel != 0) break;
        ++i;
        ReportStates(FormatW(heading.c_str(), i, n), i);
        if (CheckFilePaths(item, L"CMgr::CleanupPrograms()")) platform::DeleteFileAt(item.InstallPath);
    }
    for (const auto& item : m_RemoveShortcutList) {
        if (m_bCancel != 0) break;
        ++i;
        ReportStates(FormatW(heading.c_str(), i, n), i);
        bool stillListed = false;
        for (const auto& kept : m_ShortcutList) stillListed = stillListed || kept.DestFolderPath == item.DestFolderPath;
        // Only a shortcut is ever deleted as one: a removed entry naming any other file leaves it.
        if (!stillListed && CheckShortcutPath(item, L"CMgr::CleanupPrograms()") &&
            platform::IsShortcutFile(item.DestFolderPath, item.IsUrlType != 0))
            platform::DeleteFileAt(item.DestFolderPath);
    }
    return m_bCancel == 0;
}

bool CMgr::AddFirewallExceptions() {
    platform::ComScope com(platform::ComInit::ApartmentNoOle1Dde);
    if (!com.Ok()) return false;
    CWindowsFirewall firewall;
    if (!platform::Succeeded(WindowsFirewallOpenProfile(firewall.m_pProfile))) return false;
    RunStageLoop(
        m_FirewallList, kNoText,
        [&firewall](const FirewallItem& item) {
            try {
                const std::wstring image = platform::JoinPath(item.Folder, item.FileName);
                if (FileExists(image)) WindowsFirewallAuthorizeApp(image, &firewall, item.AppName);
            } catch (...) {
            }
            return true;
        },
        nullptr);
    firewall.m_pProfile.reset();
    return m_bCancel == 0;
}

bool CMgr::ExProcess() {
    return InstallShortcuts() && WriteRegistryValues() && CleanupPrograms() && RegisterComponents() &&
           AddFirewallExceptions();
}

}  // namespace UpDater
