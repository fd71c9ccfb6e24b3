// The executable's version block: an ELF note with the same 52-byte fixed version layout a
// Windows version resource carries. Linked into the updater executable itself (never into a
// static library, where the linker would drop it as unreferenced).
#include <cstdint>

namespace {

struct VersionNote {
    uint32_t namesz, descsz, type;
    char name[12];
    uint32_t fixed[13];
};

#define ORVO_MS(a, b) ((static_cast<uint32_t>(a) << 16) | static_cast<uint32_t>(b))

[[gnu::used, gnu::section(".note.orvo.version"), gnu::aligned(4)]] const VersionNote kVersionNote = {
    12, 52, 1, "OrvoVersion",
    {
        0xFEEF04BD,                                    // signature
        0x00010000,                                    // structure version
        ORVO_MS(ORVO_VERSION_MAJOR, ORVO_VERSION_MINOR),  // file version, high
        ORVO_MS(ORVO_VERSION_PATCH, 0),                   // file version, low
        ORVO_MS(ORVO_VERSION_MAJOR, ORVO_VERSION_MINOR),  // product version, high
        ORVO_MS(ORVO_VERSION_PATCH, 0),                   // product version, low
        0x3F,                                          // flags mask
        0,                                             // flags
        0x00040004,                                    // OS: NT, 32-bit windows
        1,                                             // type: application
        0, 0, 0,                                       // subtype, date
    },
};

}  // namespace
