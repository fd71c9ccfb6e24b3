#include "platform/component.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <fcntl.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/strings.h"

namespace platform {

namespace {

// Closes the descriptor at the end of the scope.
struct Fd {
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

bool ReadAt(int fd, uint64_t offset, void* buf, size_t size) {
    return ::pread(fd, buf, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// The DT_NEEDED names of a native ELF shared object, read from its dynamic section; empty
// when the file is not one (the loader will then refuse it anyway).
std::vector<std::string> NeededLibraries(const std::string& path) {
    using Ehdr = ElfW(Ehdr);
    using Shdr = ElfW(Shdr);
    using Dyn = ElfW(Dyn);
    std::vector<std::string> out;
    Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) return out;
    Ehdr eh;
    if (!ReadAt(f.fd, 0, &eh, sizeof eh) || std::string_view(reinterpret_cast<char*>(eh.e_ident), 4) != ELFMAG ||
        eh.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 || eh.e_shnum > 4096) {
        return out;
    }
    std::vector<Shdr> sections(eh.e_shnum);
    if (!ReadAt(f.fd, eh.e_shoff, sections.data(), sections.size() * sizeof(Shdr))) return out;
    for (const Shdr& sh : sections) {
        if (sh.sh_type != SHT_DYNAMIC || sh.sh_link >= sections.size()) continue;
        const Shdr& strtab = sections[sh.sh_link];
        if (sh.sh_size > (1u << 20) || strtab.sh_size > (16u << 20)) return out;
        std::vector<Dyn> dyn(sh.sh_size / sizeof(Dyn));
        std::vector<char> strings(strtab.sh_size + 1, '\0');
        if (!ReadAt(f.fd, sh.sh_offset, dyn.data(), dyn.size() * sizeof(Dyn)) ||
            !ReadAt(f.fd, strtab.sh_offset, strings.data(), strtab.sh_size)) {
            return out;
        }
        for (const Dyn& d : dyn) {
            if (d.d_tag == DT_NULL) break;
            if (d.d_tag == DT_NEEDED && d.d_un.d_val < strtab.sh_size) out.emplace_back(&strings[d.d_un.d_val]);
        }
        break;
    }
    return out;
}

// Libraries loaded ahead of the component, closed in reverse order after it.
class Preloaded {
public:
    ~Preloaded() {
        for (auto it = m_handles.rbegin(); it != m_handles.rend(); ++it) ::dlclose(*it);
    }
    // Loads, deepest first, every library that `path` needs and that lies in `folder`, so that
    // the loader finds them there (by their names) before its own search path.
    void LoadFromFolder(const std::string& path, const std::string& folder, int depth) {
        if (depth > 16) return;
        for (const std::string& name : NeededLibraries(path)) {
            if (name.find('/') != std::string::npos || !m_seen.insert(name).second) continue;
            const std::string candidate = folder + "/" + name;
            if (::access(candidate.c_str(), F_OK) != 0) continue;
            LoadFromFolder(candidate, folder, depth + 1);
            if (void* h = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) m_handles.push_back(h);
        }
    }

private:
    std::vector<void*> m_handles;
    std::set<std::string> m_seen;
};

}  // namespace

ComponentCall CallComponentEntry(const std::wstring& szPath, ComponentStep step) {
    ComponentCall result;
    std::string path = ToNativePath(szPath);
    if (path.empty()) return result;
    if (path.find('/') == std::string::npos) path = "./" + path;  // never a search by bare name
    const std::string folder = path.substr(0, path.find_last_of('/'));

    Preloaded deps;
    deps.LoadFromFolder(path, folder.empty() ? "/" : folder, 0);
    void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return result;
    result.bLoaded = true;
    using EntryPoint = int32_t (*)();
    const char* name = step == ComponentStep::Register ? "DllRegisterServer" : "DllUnregisterServer";
    if (auto entry = reinterpret_cast<EntryPoint>(::dlsym(lib, name))) {
        result.bCalled = true;
        try {
            result.hr = entry();
        } catch (...) {
            result.hr = static_cast<int32_t>(0x8000FFFFu);  // E_UNEXPECTED
        }
    }
    ::dlclose(lib);
    return result;
}

bool IsSelfRegisteringExt(const std::wstring& szExt, ComponentStep /*step*/) {
    return EqualsNoCase(szExt, L".so");
}

}  // namespace platform
