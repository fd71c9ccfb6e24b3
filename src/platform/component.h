// Self-registering components: load the library, call its registration entry point if it
// exports one, unload it.
// Windows: LoadLibraryEx with the altered search path, the entry points DllRegisterServer /
// DllUnregisterServer; self-registering extensions are ".dll" and ".ocx" (both steps) and ".ax"
// (registration only).
// Linux: dlopen of a shared object. Libraries the object needs that lie in its own folder are
// loaded from there first (and so are theirs), as the altered search path does; the same entry
// point names are looked up; the self-registering extension is ".so" for both steps.
// Both: a file that cannot be loaded is passed over; nothing here writes a diagnostic.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class ComponentStep { Register, Unregister };

struct ComponentCall {
    bool bLoaded = false;   // the library could be loaded
    bool bCalled = false;   // it exported the entry point, which was called
    int32_t hr = 0;         // the entry point's result when called
};

// Loads szPath, calls "DllRegisterServer" or "DllUnregisterServer" when exported, unloads.
ComponentCall CallComponentEntry(const std::wstring& szPath, ComponentStep step);

// True when a file with this extension (with its dot, any letter case) registers itself in
// the given step.
bool IsSelfRegisteringExt(const std::wstring& szExt, ComponentStep step);

}  // namespace platform
