#include "platform/linux/process_maps.h"

#include <elf.h>

#include <cstring>

namespace platform::dumping {

const char* NextMapLine(const char* p, const char* end, MapLine& out) {
    const char* eol = p;
    while (eol < end && *eol != '\n') ++eol;
    out = MapLine{};
    out.start = ParseHex(p, eol);
    if (p < eol && *p == '-') ++p;
    out.end = ParseHex(p, eol);
    SkipSpaces(p, eol);
    for (int i = 0; i < 4 && p < eol; ++i) out.perms[i] = *p++;
    SkipSpaces(p, eol);
    out.offset = ParseHex(p, eol);
    SkipSpaces(p, eol);
    while (p < eol && *p != ' ') ++p;  // device
    SkipSpaces(p, eol);
    out.inode = ParseDec(p, eol);
    SkipSpaces(p, eol);
    out.path = p;
    out.pathLength = static_cast<size_t>(eol - p);
    return eol < end ? eol + 1 : end;
}

bool FindMapping(const char* maps, size_t n, uint64_t addr, MapLine& out) {
    for (const char* p = maps; p < maps + n;) {
        p = NextMapLine(p, maps + n, out);
        if (addr >= out.start && addr < out.end) return true;
    }
    return false;
}

namespace {

// The GNU build id from the program headers of an ELF image mapped at base (within
// [base, end)); its size, 0 when none or unreadable.
uint32_t ReadBuildId(const MemorySource& memory, uint64_t base, uint64_t end, uint8_t* out, uint32_t cap) {
    auto inside = [&](uint64_t at, uint64_t n) { return at >= base && at <= end && n <= end - at; };
    Elf64_Ehdr eh;
    if (!inside(base, sizeof eh) || !memory.ReadAll(base, &eh, sizeof eh)) return 0;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return 0;
    if (eh.e_phentsize != sizeof(Elf64_Phdr)) return 0;
    const uint64_t phAt = base + eh.e_phoff;
    if (!inside(phAt, uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr))) return 0;
    auto header = [&](int i, Elf64_Phdr& ph) { return memory.ReadAll(phAt + i * sizeof ph, &ph, sizeof ph); };
    uint64_t bias = base;
    for (int i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        if (!header(i, ph)) return 0;
        if (ph.p_type == PT_LOAD) {
            bias = base - (ph.p_vaddr & ~uint64_t{0xFFF});
            break;
        }
    }
    for (int i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        if (!header(i, ph)) return 0;
        if (ph.p_type != PT_NOTE) continue;
        uint64_t at = bias + ph.p_vaddr;
        const uint64_t noteEnd = at + ph.p_memsz;
        if (!inside(at, ph.p_memsz)) continue;
        while (at + sizeof(Elf64_Nhdr) <= noteEnd) {
            Elf64_Nhdr nh;
            char name[4];
            if (!memory.ReadAll(at, &nh, sizeof nh)) break;
            const uint64_t nameAt = at + sizeof nh;
            const uint64_t descAt = nameAt + ((nh.n_namesz + 3u) & ~3u);
            const uint64_t next = descAt + ((nh.n_descsz + 3u) & ~3u);
            if (next > noteEnd) break;
            if (nh.n_type == NT_GNU_BUILD_ID && nh.n_namesz == 4 && nh.n_descsz <= cap &&
                memory.ReadAll(nameAt, name, 4) && std::memcmp(name, "GNU", 4) == 0) {
                return memory.ReadAll(descAt, out, nh.n_descsz) ? nh.n_descsz : 0;
            }
            at = next;
        }
    }
    return 0;
}

}  // namespace

uint32_t CollectModules(const char* maps, size_t n, const MemorySource& memory, Module* modules, uint32_t cap) {
    uint32_t count = 0;
    Module* current = nullptr;
    for (const char* p = maps; p < maps + n;) {
        MapLine line;
        p = NextMapLine(p, maps + n, line);
        if (line.pathLength == 0 || line.path[0] != '/' || line.inode == 0) continue;
        if (current != nullptr && line.pathLength == current->pathLength &&
            std::memcmp(line.path, current->path, line.pathLength) == 0) {
            if (line.end > current->end) current->end = line.end;
            continue;
        }
        current = nullptr;
        if (line.offset != 0 || line.perms[0] != 'r' || count == cap) continue;
        char magic[SELFMAG];
        if (!memory.ReadAll(line.start, magic, SELFMAG) || std::memcmp(magic, ELFMAG, SELFMAG) != 0) continue;
        Module& m = modules[count++];
        m.base = line.start;
        m.end = line.end;
        m.path = line.path;
        m.pathLength = static_cast<uint32_t>(line.pathLength);
        m.buildIdSize = ReadBuildId(memory, line.start, line.end, m.buildId, sizeof m.buildId);
        current = &m;
    }
    return count;
}

}  // namespace platform::dumping
