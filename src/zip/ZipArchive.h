// A zip archive opened for reading: enumerate entries and extract them with CRC checking.
// Only single-file archives are read; writing, spanning and encryption are not supported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "zip/ZipAutoBuffer.h"
#include "zip/ZipCentralDir.h"
#include "zip/ZipException.h"
#include "zip/ZipFileHeader.h"
#include "zip/ZipPathComponent.h"
#include "zip/ZipStorage.h"

class CZipInflate;

class CZipArchive {
public:
    enum OpenMode { zipOpen, zipOpenReadOnly, zipCreate, zipCreateSpan };
    enum : size_t { kReadBufferSize = 65536 };

    CZipArchive();
    ~CZipArchive();
    CZipArchive(const CZipArchive&) = delete;
    CZipArchive& operator=(const CZipArchive&) = delete;

    // Opens an existing archive for reading (volume size must be 0) and reads its central
    // directory. An archive holding an entry that could leave the target folder, alias
    // another entry, or share bytes with another entry is refused as a whole. Throws.
    void OpenArchive(const std::wstring& szPathName, int iMode = zipOpenReadOnly, int iVolumeSize = 0);
    // Releases an open entry, the directory and the file. Writes nothing.
    void CloseArchive(bool bAfterException = false, bool bUpdateTimeStamp = false);
    bool IsClosed() const { return !m_storage.IsOpen(); }

    int GetEntryCount() const { return static_cast<int>(m_centralDir.GetCount()); }
    bool GetEntryInfo(CZipFileHeader& fhInfo, int uIndex) const;
    const std::wstring& GetArchivePath() const { return m_storage.GetFilePath(); }
    std::wstring GetGlobalComment() const;

    // Where ExtractEntry would write the entry (or lpszNewName), inside szPath.
    std::wstring PredictExtractedFileName(int uIndex, const std::wstring& szPath, bool bFullPath,
                                          const wchar_t* lpszNewName = nullptr) const;

    // Extracts one entry below szPath. True on success; false when the data ended before the
    // declared size or the file's time or attributes could not be set. Throws on damage,
    // CRC mismatch (after writing the file), encryption and file errors.
    bool ExtractEntry(int uIndex, const std::wstring& szPath, bool bFullPath = true,
                      const wchar_t* lpszNewName = nullptr, size_t nBufSize = kReadBufferSize);

    // The index of the file entry that extracts to exactly szName below the target folder (a
    // relative name, '\\' or '/' separated), or -1.
    int FindFile(const std::wstring& szName) const;
    // Writes the data of one file entry into an open file and gives the file the entry's time
    // and attributes; the caller has created the file and closes it. Results as ExtractEntry.
    bool ExtractEntryTo(int uIndex, platform::File& file);

    // Lower-level entry access, used by ExtractEntry.
    void OpenFile(int uIndex);
    // Reads up to iSize bytes of the opened entry's uncompressed data; fewer only at its end.
    size_t ReadFile(void* pBuf, size_t iSize);
    // 1 on success, -1 when data is missing, -2 when time or attributes could not be set
    // (szFilePath empty: neither is set). Throws 102 on a CRC mismatch.
    int CloseFile(const std::wstring& szFilePath = {}, bool bAfterException = false);
    // The same, with time and attributes given through the open file.
    int CloseFile(platform::File& file);

    // Settings fixed at construction.
    bool m_bRemoveDriveLetter = true;
    bool m_bCheckCRC = true;

private:

    void CheckStreamEnd();
    void RefillInput();
    // The entry's path below the target folder (the folder itself when empty); throws 117 when
    // it could leave the folder.
    std::wstring RelativeTarget(int uIndex, bool bFullPath, const wchar_t* lpszNewName) const;
    static int FileErrorToCause(uint32_t uError);
    bool SetTimeAndAttributes(const std::wstring& szFilePath, const CZipFileHeader& header);
    bool SetTimeAndAttributes(platform::File& file, const CZipFileHeader& header);
    // CloseFile's checks, with setAttributes (may be null) giving the written file its time
    // and attributes.
    template <class SetAttributes>
    int CloseEntry(SetAttributes setAttributes);
    // Copies the opened entry's data into the file.
    void CopyEntryData(platform::File& file, size_t nBufSize);
    void ReleaseEntry();
    [[noreturn]] void ThrowError(int iCause, int nSystemError = 0) const;

    CZipStorage m_storage;
    CZipCentralDir m_centralDir;

    // State of the opened entry.
    std::unique_ptr<CZipInflate> m_pInflater;
    CZipAutoBuffer m_pReadBuffer;
    bool m_bEntryOpen = false;
    bool m_bStreamEnded = false;
    uint16_t m_uMethod = 0;
    uint64_t m_uComprLeft = 0;
    uint64_t m_uUncomprLeft = 0;
    uint32_t m_uCrc32 = 0;
};
