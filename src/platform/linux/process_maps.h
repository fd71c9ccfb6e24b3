// The crashed process's mappings (its /proc maps text) and the ELF modules mapped from files,
// with their build ids. The mapped files are read only through a MemorySource: a library
// overwritten or truncated under the running process must not fault the handler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/dump_syscalls.h"

namespace platform::dumping {

struct MapLine {
    uint64_t start = 0, end = 0, offset = 0, inode = 0;
    char perms[4] = {};
    const char* path = nullptr;
    size_t pathLength = 0;
};

// Parses the line starting at p; the start of the next line.
const char* NextMapLine(const char* p, const char* end, MapLine& out);
// The mapping holding addr.
bool FindMapping(const char* maps, size_t n, uint64_t addr, MapLine& out);

struct Module {
    uint64_t base = 0, end = 0;
    const char* path = nullptr;  // in the maps text
    uint32_t pathLength = 0;
    uint8_t buildId[64];
    uint32_t buildIdSize = 0;
};

// The mapped ELF files: one module per path, from its mapping at offset 0 to its last mapping.
// Their number (at most cap).
uint32_t CollectModules(const char* maps, size_t n, const MemorySource& memory, Module* modules, uint32_t cap);

}  // namespace platform::dumping
