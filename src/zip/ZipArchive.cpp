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

std::wstring CZipArchive::RelativeTarget(int uIndex, bool bFullPath, const wchar_t* lpszNewName) const {
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex)))
        ThrowError(CZipException::internal);
    const std::wstring name =
        lpszNewName != nullptr ? std::wstring(lpszNewName) : m_centralDir[static_cast<size_t>(uIndex)].GetEntryName();
    if (bFullPath) {
        // The drive is dropped whatever m_bRemoveDriveLetter says: a name keeping it could
        // leave the folder.
        const auto safe = CZipPathComponent::MakeSafeRelative(name);
        if (!safe) ThrowError(CZipException::unsafeEntry);
        return *safe;
    }
    const CZipPathComponent split(CZipPathComponent::RemoveSeparators(name));
    const auto safe = CZipPathComponent::MakeSafeRelative(split.GetFileName());
    if (!safe || safe->empty()) ThrowError(CZipException::unsafeEntry);
    return *safe;
}

std::wstring CZipArchive::PredictExtractedFileName(int uIndex, const std::wstring& szPath, bool bFullPath,
                                                   const wchar_t* lpszNewName) const {
    const std::wstring relative = RelativeTarget(uIndex, bFullPath, lpszNewName);
    const std::wstring folder = CZipPathComponent::RemoveSeparators(szPath);
    if (relative.empty()) return folder;
    return folder.empty() ? relative : folder + L'\\' + relative;
}

namespace {

// The entry's time, and the two attributes files have on every platform here: read-only, and
// the execute permission of programs packed on a Unix system (an installed program must stay
// runnable). set(time, executable, readOnly) applies them.
template <class Set>
bool ApplyTimeAndAttributes(const CZipFileHeader& header, Set set) {
    const bool executable =
        header.GetSystemCompatibility() == CZipFileHeader::sysUnix && ((header.m_uExternalAttr >> 16) & 0111) != 0;
    return set(header.GetTime(), executable, (header.GetSystemAttr() & CZipFileHeader::attrReadOnly) != 0);
}

}  // namespace

bool CZipArchive::SetTimeAndAttributes(const std::wstring& szFilePath, const CZipFileHeader& header) {
    return ApplyTimeAndAttributes(header, [&](platform::FileTime time, bool executable, bool readOnly) {
        bool ok = platform::SetFileModTime(szFilePath, time) == 0;
        if (executable) ok = platform::SetExecutable(szFilePath) == 0 && ok;
        if (readOnly) ok = platform::SetReadOnly(szFilePath, true) == 0 && ok;
        return ok;
    });
}

bool CZipArchive::SetTimeAndAttributes(platform::File& file, const CZipFileHeader& header) {
    return ApplyTimeAndAttributes(header, [&](platform::FileTime time, bool executable, bool readOnly) {
        bool ok = file.SetModTime(time) == 0;
        if (executable) ok = file.SetExecutable() == 0 && ok;
        if (readOnly) ok = file.SetReadOnly(true) == 0 && ok;
        return ok;
    });
}

int CZipArchive::FindFile(const std::wstring& szName) const {
    const auto wanted = CZipPathComponent::MakeSafeRelative(szName);
    if (IsClosed() || !wanted || wanted->empty()) return -1;
    for (size_t i = 0; i < m_centralDir.GetCount(); ++i) {
        const CZipFileHeader& header = m_centralDir[i];
        if (header.IsDirectory()) continue;
        const auto name = CZipPathComponent::MakeSafeRelative(header.GetEntryName());
        if (name && *name == *wanted) return static_cast<int>(i);
    }
    return -1;
}

void CZipArchive::CopyEntryData(platform::File& file, size_t nBufSize) {
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
}

bool CZipArchive::ExtractEntryTo(int uIndex, platform::File& file) {
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex)) || !file.IsOpen()) return false;
    if (m_centralDir[static_cast<size_t>(uIndex)].IsDirectory()) return false;
    OpenFile(uIndex);
    CopyEntryData(file, kReadBufferSize);
    return CloseFile(file) == 1;
}

bool CZipArchive::ExtractEntry(int uIndex, const std::wstring& szPath, bool bFullPath, const wchar_t* lpszNewName,
                               size_t nBufSize) {
    if (nBufSize == 0 && szPath.empty()) return false;
    if (nBufSize == 0) nBufSize = kReadBufferSize;
    if (IsClosed() || uIndex < 0 || !m_centralDir.IsValidIndex(static_cast<size_t>(uIndex))) return false;
    const CZipFileHeader& header = m_centralDir[static_cast<size_t>(uIndex)];
    // Everything below the folder is reached without following a link: a link planted (or left)
    // inside it cannot send an entry elsewhere.
    const std::wstring folder = CZipPathComponent::RemoveSeparators(szPath);
    const std::wstring relative = RelativeTarget(uIndex, bFullPath, lpszNewName);

    if (header.IsDirectory()) {
        // Folders keep no attributes here: a read-only folder would refuse its own entries on Linux.
        if (uint32_t err = platform::CreateFoldersBelow(folder, relative)) ThrowError(FileErrorToCause(err));
        return true;
    }

    OpenFile(uIndex);
    platform::File file;
    if (uint32_t err = file.CreateBelow(folder, relative)) {
        CloseFile({}, true);
        ThrowError(FileErrorToCause(err));
    }
    CopyEntryData(file, nBufSize);
    const int result = CloseFile(file);
    file.Close();
    return result == 1;
}

int CZipArchive::FileErrorToCause(uint32_t uError) {
    // A link in the way would have taken the entry out of the folder.
    return uError == platform::ERROR_STOPPED_ON_SYMLINK_ ? CZipException::unsafeEntry
                                                         : CZipException::SystemErrorToCause(uError);
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
    if (szFilePath.empty()) return CloseEntry([](const CZipFileHeader&) { return true; });
    return CloseEntry([&](const CZipFileHeader& header) { return SetTimeAndAttributes(szFilePath, header); });
}

int CZipArchive::CloseFile(platform::File& file) {
    if (!m_bEntryOpen) return 1;
    return CloseEntry([&](const CZipFileHeader& header) { return SetTimeAndAttributes(file, header); });
}

template <class SetAttributes>
int CZipArchive::CloseEntry(SetAttributes setAttributes) {
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
    if (!setAttributes(*header)) result = -2;
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
