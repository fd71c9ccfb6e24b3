// The system-facing helpers of the registration steps: component self-registration and
// shortcut files.
#pragma once

#include <cstdint>
#include <string>

#include "platform/component.h"

namespace UpDater {

// Calls the component's registration (unregistration) entry point if the file exists, can be
// loaded and exports it; every failure is passed over.
void RegisterServer(const std::wstring& szPath);
void UnregisterServer(const std::wstring& szPath);

// True when the installed file registers itself in the given step (by its extension).
bool IsSelfRegistering(const std::wstring& szInstallPath, platform::ComponentStep step);

// Creates the shortcut file szLinkPath pointing at szTarget (an address when bUrl). For an
// ordinary shortcut the folder chain is created first. An HRESULT: E_FAIL when the shortcut
// objects are unavailable, else the result of saving the file.
int32_t CreateShortcut(const std::wstring& szTarget, const std::wstring& szDescription, int bUrl,
                       const std::wstring& szLinkPath);

}  // namespace UpDater
