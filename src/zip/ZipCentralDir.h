// The central directory: finding the end record, reading every header, and the checks that
// keep entries apart from each other and from the directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/ZipAutoBuffer.h"
#include "zip/ZipFileHeader.h"

class CZipStorage;

class CZipCentralDir {
public:
    static constexpr uint32_t kEndSignature = 0x06054B50;
    static constexpr uint32_t kZip64EndSignature = 0x06064B50;
    static constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
    static constexpr size_t kEndSize = 22;
    static constexpr size_t kZip64EndSize = 56;
    static constexpr size_t kZip64LocatorSize = 20;
    static constexpr size_t kSearchBufferSize = 32768;
    static constexpr uint64_t kMaxCommentSize = 65535;

    struct Info {
        uint32_t m_uThisDisk = 0;
        uint32_t m_uDiskWithCD = 0;
        uint64_t m_uDiskEntriesNo = 0;
        uint64_t m_uEntriesNumber = 0;
        uint64_t m_uSize = 0;
        uint64_t m_uOffset = 0;
        CZipAutoBuffer m_pszComment;
        uint64_t m_uEndOffset = 0;  // where the end record (or the Zip64 end record) starts
    };

    void Init(CZipStorage* pStorage) { m_pStorage = pStorage; }
    // Locates the end record, reads the directory and checks the entries' names and
    // placement; throws CZipException.
    void Read();
    void Clear();

    size_t GetCount() const { return m_headers.size(); }
    bool IsValidIndex(size_t uIndex) const { return uIndex < m_headers.size(); }
    CZipFileHeader& operator[](size_t uIndex) { return m_headers[uIndex]; }
    const CZipFileHeader& operator[](size_t uIndex) const { return m_headers[uIndex]; }

    // Reads the local header of the entry and makes it the opened one; leaves the storage at
    // its data. bOutZip64: the entry's descriptor, if any, holds 64-bit sizes.
    CZipFileHeader& OpenFile(size_t uIndex, bool& bOutZip64);
    // Reads and checks the data descriptor of the opened entry (flag bit 3), and forgets the
    // opened entry. Throws 101 when the descriptor disagrees with the central header.
    void CloseFile();
    bool IsFileOpened() const { return m_pOpenedFile != nullptr; }
    CZipFileHeader* GetOpenedFile() { return m_pOpenedFile; }
    void ForgetOpenedFile() { m_pOpenedFile = nullptr; }

    uint64_t GetBytesBeforeZip() const { return m_uBytesBeforeZip; }
    const Info& GetInfo() const { return m_info; }
    int GetArchiveSystem() const { return m_iArchiveSystem; }

private:
    uint64_t LocateEnd();
    void ReadZip64End(uint64_t uEndOffset);
    void ReadHeaders();
    void CheckEntries();
    [[noreturn]] void ThrowError(int iCause) const;

    CZipStorage* m_pStorage = nullptr;
    Info m_info;
    uint64_t m_uBytesBeforeZip = 0;
    bool m_bZip64End = false;  // the counts come from the Zip64 end record (64-bit, exact)
    std::vector<CZipFileHeader> m_headers;
    CZipFileHeader* m_pOpenedFile = nullptr;
    bool m_bOpenedZip64 = false;
    int m_iArchiveSystem = CZipFileHeader::sysDos;
};
