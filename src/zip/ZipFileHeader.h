// One entry of the central directory, and the checks of its local header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fs.h"
#include "zip/ZipAutoBuffer.h"

class CZipStorage;

class CZipFileHeader {
public:
    static constexpr uint32_t kCentralSignature = 0x02014B50;
    static constexpr uint32_t kLocalSignature = 0x04034B50;
    static constexpr uint32_t kDescriptorSignature = 0x08074B50;
    static constexpr size_t kCentralSize = 46;
    static constexpr size_t kLocalSize = 30;

    enum System : int { sysDos = 0, sysUnix = 3, sysOs2 = 6, sysMac = 7, sysNtfs = 10 };
    enum Attr : uint32_t { attrReadOnly = 0x01, attrHidden = 0x02, attrDirectory = 0x10, attrArchive = 0x20 };

    // The decoded name, separators as '\'. Flag bit 11 means UTF-8; otherwise the ANSI code
    // page (names made on MS-DOS were already turned from OEM into ANSI when read).
    std::wstring GetEntryName() const { return m_szName; }
    // A name ending in a separator is a folder whatever its attributes say (some tools mark
    // folders with the archive bit only).
    bool IsDirectory() const { return EndsInSeparator() || (GetSystemAttr() & attrDirectory) != 0; }
    bool EndsInSeparator() const;
    bool IsEncrypted() const { return (m_uFlag & 1) != 0; }
    bool IsDataDescriptor() const { return (m_uFlag & 8) != 0; }
    bool IsUtf8() const { return (m_uFlag & 0x800) != 0; }
    int GetSystemCompatibility() const { return m_uVersionMadeBy >> 8; }
    // True for a Unix entry whose mode names something other than a file or folder (a
    // symbolic link, device or socket): nothing this reader will create. A named pipe is data
    // read from standard input by the packing tool and extracts as a regular file.
    bool IsSpecialFile() const;
    // The Windows attributes the entry's external attributes stand for.
    uint32_t GetSystemAttr() const;
    // The DOS time and date read as local time.
    platform::FileTime GetTime() const;

    // Reads one central header at the storage's position (name, extra field and comment
    // included); a wrong signature or short read throws 101.
    void ReadCentral(CZipStorage& storage);
    // Reads the local header at the entry's offset and checks it against this header; leaves
    // the storage at the start of the entry's data. bOutZip64 tells whether the local header
    // carries 64-bit sizes (and so does a data descriptor after the data).
    void ReadLocal(CZipStorage& storage, uint64_t uBytesBeforeZip, bool& bOutZip64);

    // Central header fields, in the format's order.
    uint32_t m_uSignature = kCentralSignature;
    uint16_t m_uVersionMadeBy = 0;
    uint16_t m_uVersionNeeded = 0;
    uint16_t m_uFlag = 0;
    uint16_t m_uMethod = 0;
    uint16_t m_uModTime = 0;
    uint16_t m_uModDate = 0;
    uint32_t m_uCrc32 = 0;
    uint64_t m_uComprSize = 0;    // 64-bit so that Zip64 entries fit
    uint64_t m_uUncomprSize = 0;
    uint32_t m_uDiskStart = 0;
    uint16_t m_uInternalAttr = 0;
    uint32_t m_uExternalAttr = 0;
    uint64_t m_uOffset = 0;
    CZipAutoBuffer m_pszFileName;
    CZipAutoBuffer m_pExtraField;
    CZipAutoBuffer m_pszComment;
    uint16_t m_uLocalFileNameSize = 0;
    uint16_t m_uLocalExtraFieldSize = 0;

    // Decoded name and the end of the room the entry's data may take (the next entry's local
    // header or the central directory), both set when the directory is read.
    std::wstring m_szName;
    uint64_t m_uDataLimit = 0;

private:
    void DecodeName();
    void ReadZip64Extra(const std::wstring& szArchive);
};
