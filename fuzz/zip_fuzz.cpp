// Opens the input as an archive and extracts every entry into a scratch folder.
// Run: fuzz/make_zip_corpus.sh CORPUS && zip_fuzz -max_len=65536 CORPUS
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/strings.h"
#include "zip/ZipArchive.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Scratch() {
    static const fs::path dir = [] {
        fs::path p = fs::temp_directory_path() / ("orvo-zip-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(p);
        return p;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path zipPath = Scratch() / "input.zip";
    const fs::path out = Scratch() / "out";
    {
        std::ofstream f(zipPath, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    fs::create_directories(out);
    try {
        CZipArchive zip;
        zip.OpenArchive(platform::FromUtf8(zipPath.string()));
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            CZipFileHeader header;
            zip.GetEntryInfo(header, i);
            (void)header.GetEntryName();
            try {
                zip.ExtractEntry(i, platform::FromUtf8(out.string()), true, nullptr, 65536);
            } catch (const CZipException& e) {
                wchar_t text[260];
                e.GetErrorText(text, 260);
                if (e.m_iCause == CZipException::internal) __builtin_trap();  // our own state went wrong
            }
        }
        zip.CloseArchive();
    } catch (const CZipException& e) {
        if (e.m_iCause == CZipException::internal) __builtin_trap();
    }
    // Whatever was extracted must have stayed inside the scratch folder.
    for (const auto& entry : fs::directory_iterator(Scratch()))
        if (entry.path() != zipPath && entry.path() != out) __builtin_trap();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(out, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(out, ec);
    return 0;
}
