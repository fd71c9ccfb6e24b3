#include "orvo-publish/PackageWriter.h"

#include <sys/stat.h>
#include <zip.h>

#include "orvo-publish/ReleaseConfig.h"

namespace publish {

namespace {

std::string ZipError(zip_t* za) { return za != nullptr ? zip_strerror(za) : "cannot create"; }

void Write(const std::vector<PackageInput>& entries, const std::string& zipPath, const std::vector<bool>& deflate) {
    int err = 0;
    zip_t* za = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (za == nullptr) throw InputError(zipPath + ": cannot create the package (libzip error " + std::to_string(err) + ")");
    for (size_t e = 0; e < entries.size(); ++e) {
        const PackageInput& in = entries[e];
        auto fail = [&](const std::string& what) {
            const std::string msg = in.source + ": " + what + ": " + ZipError(za);
            zip_discard(za);
            throw InputError(msg);
        };
        zip_source_t* src = zip_source_file(za, in.source.c_str(), 0, -1);
        if (src == nullptr) fail("cannot read");
        const zip_int64_t index = zip_file_add(za, in.entryName.c_str(), src, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(src);
            fail("cannot add to the package");
        }
        const auto i = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(za, i, deflate[e] ? ZIP_CM_DEFLATE : ZIP_CM_STORE, deflate[e] ? 6 : 0) != 0 ||
            zip_file_set_mtime(za, i, in.mtime, 0) != 0 ||
            zip_file_set_external_attributes(za, i, 0, ZIP_OPSYS_UNIX, static_cast<zip_uint32_t>(S_IFREG | (in.mode & 07777)) << 16) != 0)
            fail("cannot set the entry's attributes");
    }
    if (zip_close(za) != 0) {
        const std::string msg = zipPath + ": cannot write the package: " + ZipError(za);
        zip_discard(za);
        throw InputError(msg);
    }
}

}  // namespace

void WritePackage(const PackageInput& in, const std::string& zipPath) { WritePackage(std::vector<PackageInput>{in}, zipPath); }

void WritePackage(const std::vector<PackageInput>& entries, const std::string& zipPath) {
    std::vector<bool> deflate(entries.size(), true);
    Write(entries, zipPath, deflate);
    // Data that does not shrink is stored: the package is smaller and unpacks faster.
    int err = 0;
    zip_t* za = zip_open(zipPath.c_str(), ZIP_RDONLY, &err);
    if (za == nullptr) throw InputError(zipPath + ": the package just written cannot be read back");
    bool anyStored = false;
    for (size_t e = 0; e < entries.size(); ++e) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, e, 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_SIZE) && (st.valid & ZIP_STAT_SIZE) && st.comp_size >= st.size) {
            deflate[e] = false;
            anyStored = true;
        }
    }
    zip_discard(za);
    if (anyStored) Write(entries, zipPath, deflate);
}

}  // namespace publish
