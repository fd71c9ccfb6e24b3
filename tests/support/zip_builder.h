// Writes zip archives byte by byte, including the broken and hostile ones standard tools
// refuse to make. Each field can be overridden; the defaults give a well-formed archive.
// Header-only: it needs zlib, which only the suites that link the zip reader have.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvo::test {

struct ZipEntryDef {
    std::string name;
    std::string data;                       // uncompressed content
    uint16_t method = 8;                    // 0 stored, 8 deflated, anything else taken as stored bytes
    uint16_t flags = 0;                     // bit 0 encrypted, bit 3 data descriptor, bit 11 UTF-8
    uint16_t versionMadeBy = (3 << 8) | 30; // Unix
    uint32_t externalAttr = 0100644u << 16;
    uint16_t dosTime = 0x6000;              // 12:00:00
    uint16_t dosDate = 0x5A21;              // 2025-01-01
    std::optional<std::string> rawData;     // the bytes stored as the entry's data, as given
    std::optional<uint32_t> crc;            // declared CRC (both headers)
    std::optional<uint32_t> uncompressedSize;
    std::optional<uint32_t> centralOffset;  // local header offset written in the central header
    std::optional<uint16_t> localMethod;
};

inline ZipEntryDef ZipEntry(std::string name, std::string data = "payload") {
    ZipEntryDef e;
    e.name = std::move(name);
    e.data = std::move(data);
    return e;
}

struct ZipBuild {
    std::string bytes;
    std::vector<size_t> localOffsets;  // where each local header was written
    size_t centralOffset = 0;
    size_t endOffset = 0;
};

inline void Put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

inline void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

inline std::string RawDeflate(const std::string& data, int level = 6) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline uint32_t Crc32Of(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// centralOrder: the order of the central headers (indexes into entries); default as given.
inline ZipBuild BuildZip(const std::vector<ZipEntryDef>& entries, const std::string& comment = {},
                         const std::string& prefix = {}, std::vector<size_t> centralOrder = {}) {
    ZipBuild build;
    std::string& out = build.bytes;
    out = prefix;
    std::vector<std::string> centrals;
    for (const auto& e : entries) {
        std::string central;
        const std::string stored = e.rawData ? *e.rawData : (e.method == 8 ? RawDeflate(e.data) : e.data);
        const uint32_t crc = e.crc ? *e.crc : Crc32Of(e.data);
        const uint32_t usize = e.uncompressedSize ? *e.uncompressedSize : static_cast<uint32_t>(e.data.size());
        const uint32_t csize = static_cast<uint32_t>(stored.size());
        const bool descriptor = (e.flags & 8) != 0;
        const size_t offset = out.size() - prefix.size();
        build.localOffsets.push_back(out.size());

        Put32(out, 0x04034B50);
        Put16(out, 20);
        Put16(out, e.flags);
        Put16(out, e.localMethod ? *e.localMethod : e.method);
        Put16(out, e.dosTime);
        Put16(out, e.dosDate);
        Put32(out, descriptor ? 0 : crc);
        Put32(out, descriptor ? 0 : csize);
        Put32(out, descriptor ? 0 : usize);
        Put16(out, static_cast<uint16_t>(e.name.size()));
        Put16(out, 0);
        out += e.name;
        out += stored;
        if (descriptor) {
            Put32(out, 0x08074B50);
            Put32(out, crc);
            Put32(out, csize);
            Put32(out, usize);
        }

        Put32(central, 0x02014B50);
        Put16(central, e.versionMadeBy);
        Put16(central, 20);
        Put16(central, e.flags);
        Put16(central, e.method);
        Put16(central, e.dosTime);
        Put16(central, e.dosDate);
        Put32(central, crc);
        Put32(central, csize);
        Put32(central, usize);
        Put16(central, static_cast<uint16_t>(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, e.externalAttr);
        Put32(central, e.centralOffset ? *e.centralOffset : static_cast<uint32_t>(offset));
        central += e.name;
        centrals.push_back(central);
    }
    if (centralOrder.empty())
        for (size_t i = 0; i < entries.size(); ++i) centralOrder.push_back(i);
    std::string central;
    for (size_t i : centralOrder) central += centrals[i];
    build.centralOffset = out.size();
    out += central;
    build.endOffset = out.size();
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, static_cast<uint32_t>(build.centralOffset - prefix.size()));
    Put16(out, static_cast<uint16_t>(comment.size()));
    out += comment;
    return build;
}

}  // namespace orvo::test
