#include "zip/ZipArchive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/fs.h"
#include "platform/strings.h"
#include "zip/ZipInflate.h"

namespace {
constexpr uint16_t kMethodDeflated = 8;
}

CZipArchive::CZipArchive() : m_pInflater(std::make_unique<CZipInflate>()) { m_centralDir.Init(&m_storage); }

CZipArchive::~CZipArchive() { CloseArchive(true); }

void CZipArchive::ThrowError(int iCause, int nSystemError) const {
    CZipException::Throw(iCause, m_storage.GetFilePath(), nSystemError);
}

void CZipArchive::OpenArchive(const std::wstring& szPathName, int iMode, int iVolumeSize) {
    if (!IsClosed()) ThrowError(CZipException::internal);
    if ((iMode != zipOpen && iMode != zipOpenReadOnly) || iVolumeSize != 0)
        CZipException::Throw(CZipException::platfNotSupp, szPathName);
    m_storage.Open(szPathName);
    try {
        m_centralDir.Read();
    } catch (...) {
        CloseArchive(true);
        throw;
    }
}

void CZipArchive::CloseArchive(bool /*bAfterException*/, bool /*bUpdateTimeStamp*/) {
    ReleaseEntry();
    m_centralDir.Clear();
    m_storage.Close();
    m_szLastFolder.clear();
}

std::wstring CZipArchive::GetGlobalComment() const {
    const auto& comment = m_centralDir.GetInfo().m_pszComment;
    return platform::FromUtf8(std::string_view(comment.data(), comment.GetSize()));
}

bool CZipArchive::GetEntryInfo(CZipFileHeader& fhInfo, int uIndex) const {
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex))) return false;
    fhInfo = m_centralDir[static_cast<size_t>(uIndex)];
    return true;
}

std::wstring CZipArchive::PredictExtractedFileName(int uIndex, const std::wstring& szPath, bool bFullPath,
                                                   const wchar_t* lpszNewName) const {
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex)))
        ThrowError(CZipException::internal);
    std::wstring folder = CZipPathComponent::RemoveSeparators(szPath);
    if (!folder.empty()) folder += L'\\';
    const std::wstring name =
        lpszNewName != nullptr ? std::wstring(lpszNewName) : m_centralDir[static_cast<size_t>(uIndex)].GetEntryName();
    if (bFullPath) {
        // The drive is dropped whatever m_bRemoveDriveLetter says: a name keeping it could
        // leave the folder.
        const auto safe = CZipPathComponent::MakeSafeRelative(name);
        if (!safe) ThrowError(CZipException::unsafeEntry);
        if (safe->empty()) return CZipPathComponent::RemoveSeparators(szPath);
        return folder + *safe;
    }
    const CZipPathComponent split(CZipPathComponent::RemoveSeparators(name));
    return folder + split.GetFileName();
}

void CZipArchive::CreateFolderTree(const std::wstring& szFolder) {
    if (szFolder.empty() || szFolder == m_szLastFolder) return;
    // Walk up to the first folder that exists (usually the folder itself), then create
    // the missing ones downwards.
    std::vector<std::wstring> missing;
    std::wstring folder = CZipPathComponent::RemoveSeparators(szFolder);
    for (;;) {
        if (folder.empty()) break;
        const uint32_t err = platform::CreateDirectoryOne(folder);
        if (err == 0) break;
        if (err == platform::ERROR_ALREADY_EXISTS_) {
            if (!platform::IsDirectory(folder)) ThrowError(CZipException::SystemErrorToCause(err));
            break;
        }
        if (err != platform::ERROR_PATH_NOT_FOUND_ && err != platform::ERROR_FILE_NOT_FOUND_)
            ThrowError(CZipException::SystemErrorToCause(err));
        const auto slash = folder.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash == 0) ThrowError(CZipException::SystemErrorToCause(err));
        missing.push_back(folder);
        folder = CZipPathComponent::RemoveSeparators(folder.substr(0, slash));
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const uint32_t err = platform::CreateDirectoryOne(*it);
        if (err != 0 && !(err == platform::ERROR_ALREADY_EXISTS_ && platform::IsDirectory(*it)))
            ThrowError(CZipException::SystemErrorToCause(err));
    }
    m_szLastFolder = szFolder;
}

bool CZipArchive::SetTimeAndAttributes(const std::wstring& szFilePath, const CZipFileHeader& header) {
    bool ok = platform::SetFileModTime(szFilePath, header.GetTime()) == 0;
    // Read-only is the one attribute files have on every platform here; the others have no
    // counterpart on Linux.
    // Programs packed on a Unix system carry their execute permission in the high half of
    // the external attributes; an installed program must stay runnable.
    if (header.GetSystemCompatibility() == CZipFileHeader::sysUnix && (header.m_uExternalAttr >> 16) & 0111)
        ok = platform::SetExecutable(szFilePath) == 0 && ok;
    if (header.GetSystemAttr() & CZipFileHeader::attrReadOnly)
        ok = platform::SetReadOnly(szFilePath, true) == 0 && ok;
    return ok;
}

bool CZipArchive::ExtractEntry(int uIndex, const std::wstring& szPath, bool bFullPath, const wchar_t* lpszNewName,
                               size_t nBufSize) {
    if (nBufSize == 0 && szPath.empty()) return false;
    if (nBufSize == 0) nBufSize = kReadBufferSize;
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex))) return false;
    const CZipFileHeader& header = m_centralDir[static_cast<size_t>(uIndex)];
    const std::wstring target = PredictExtractedFileName(uIndex, szPath, bFullPath, lpszNewName);

    if (header.IsDirectory()) {
        // Folders keep no attributes here: a read-only folder would refuse its own entries on Linux.
        CreateFolderTree(target);
        return true;
    }

    OpenFile(uIndex);
    const auto slash = target.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) CreateFolderTree(target.substr(0, slash));
    platform::File file;
    if (uint32_t err = file.Open(target, platform::File::Mode::CreateAlways)) {
        CloseFile({}, true);
        ThrowError(CZipException::SystemErrorToCause(err));
    }
    CZipAutoBuffer buffer(nBufSize);
    try {
        for (;;) {
            const size_t n = ReadFile(buffer, nBufSize);
            if (n > 0 && !file.Write(buffer, n)) ThrowError(CZipException::SystemErrorToCause(file.LastError()));
            if (n < nBufSize) break;
        }
    } catch (...) {
        ReleaseEntry();
        throw;
    }
    file.Close();
    return CloseFile(target) == 1;
}

void CZipArchive::OpenFile(int uIndex) {
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex)) || m_bEntryOpen)
        ThrowError(CZipException::internal);
    bool zip64 = false;
    CZipFileHeader& header = m_centralDir.OpenFile(static_cast<size_t>(uIndex), zip64);
    m_bEntryOpen = true;
    if (header.IsEncrypted()) {
        ReleaseEntry();
        ThrowError(CZipException::badPassword);
    }
    m_uMethod = header.m_uMethod;
    if (m_uMethod != 0 && m_uMethod != kMethodDeflated) {
        ReleaseEntry();
        ThrowError(CZipException::badZipFile);
    }
    m_bStreamEnded = false;
    m_uComprLeft = header.m_uComprSize;
    m_uUncomprLeft = header.m_uUncomprSize;
    m_uCrc32 = 0;
    if (m_uMethod == kMethodDeflated) {
        const int err = m_pInflater->Begin();
        if (err != CZipInflate::ok) {
            ReleaseEntry();
            ThrowError(CZipException::ZlibErrToCause(err));
        }
        m_pReadBuffer.Allocate(kReadBufferSize);
    }
}

size_t CZipArchive::ReadFile(void* pBuf, size_t iSize) {
    if (!m_bEntryOpen) ThrowError(CZipException::internal);
    const size_t want = static_cast<size_t>(std::min<uint64_t>(iSize, m_uUncomprLeft));
    char* out = static_cast<char*>(pBuf);
    size_t produced = 0;
    if (m_uMethod == 0) {
        // Stored: compressed and uncompressed sizes are equal, checked when the directory is read.
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want, m_uComprLeft));
        m_storage.ReadExact(out, n);
        m_uComprLeft -= n;
        produced = n;
    } else {
        // Input exhausted is not the end: the decoder may still hold output it could not give
        // back before; only a call that makes no progress ends the data.
        while (produced < want && !m_bStreamEnded) {
            if (m_pInflater->GetInputLeft() == 0 && m_uComprLeft > 0) RefillInput();
            const int err = m_pInflater->Inflate(out + produced, want - produced, produced);
            if (err == CZipInflate::streamEnd) {
                m_bStreamEnded = true;
            } else if (err == CZipInflate::bufError) {
                if (m_pInflater->GetInputLeft() != 0) ThrowError(CZipException::bufError);
                if (m_uComprLeft == 0) break;  // the data ends before the declared size
            } else if (err != CZipInflate::ok) {
                ThrowError(CZipException::ZlibErrToCause(err));
            }
        }
    }
    if (produced > 0) m_uCrc32 = CZipInflate::Crc32(m_uCrc32, out, produced);
    m_uUncomprLeft -= produced;
    if (m_uMethod != 0 && m_uUncomprLeft == 0 && !m_bStreamEnded) CheckStreamEnd();
    return produced;
}

void CZipArchive::CheckStreamEnd() {
    // The declared size has been produced: the stream must now end without yielding another
    // byte, so that a small entry cannot inflate into an unbounded file.
    unsigned char extra;
    for (;;) {
        if (m_pInflater->GetInputLeft() == 0 && m_uComprLeft > 0) RefillInput();
        size_t produced = 0;
        const int err = m_pInflater->Inflate(&extra, 1, produced);
        if (produced != 0) ThrowError(CZipException::sizeExceeded);
        if (err == CZipInflate::streamEnd) {
            m_bStreamEnded = true;
            return;
        }
        if (err == CZipInflate::bufError) {
            if (m_pInflater->GetInputLeft() != 0) ThrowError(CZipException::bufError);
            if (m_uComprLeft == 0) return;  // input ends here; the CRC judges what was produced
        } else if (err != CZipInflate::ok) {
            ThrowError(CZipException::ZlibErrToCause(err));
        }
    }
}

void CZipArchive::RefillInput() {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kReadBufferSize, m_uComprLeft));
    m_storage.ReadExact(m_pReadBuffer, n);
    m_uComprLeft -= n;
    m_pInflater->SetInput(m_pReadBuffer.data(), n);
}

void CZipArchive::ReleaseEntry() {
    if (m_pInflater) m_pInflater->End();
    m_pReadBuffer.Release();
    m_centralDir.ForgetOpenedFile();
    m_bEntryOpen = false;
}

int CZipArchive::CloseFile(const std::wstring& szFilePath, bool bAfterException) {
    if (!m_bEntryOpen) return 1;
    if (bAfterException) {
        ReleaseEntry();
        return 1;
    }
    CZipFileHeader* header = m_centralDir.GetOpenedFile();
    if (m_uUncomprLeft > 0) {
        ReleaseEntry();
        return -1;
    }
    if (m_bCheckCRC && m_uCrc32 != header->m_uCrc32) {
        ReleaseEntry();
        ThrowError(CZipException::badCrc);
    }
    m_pInflater->End();
    int result = 1;
    if (!szFilePath.empty() && !SetTimeAndAttributes(szFilePath, *header)) result = -2;
    if (header->IsDataDescriptor()) {
        // The descriptor follows the compressed data, wherever inflate stopped reading.
        m_storage.Seek(m_storage.GetPosition() + m_uComprLeft);
        try {
            m_centralDir.CloseFile();
        } catch (...) {
            ReleaseEntry();
            throw;
        }
    }
    ReleaseEntry();
    return result;
}
