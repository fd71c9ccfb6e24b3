#include "zip/ZipCentralDir.h"

#include <algorithm>
#include <unordered_map>

#include "platform/strings.h"
#include "zip/ZipBytes.h"
#include "zip/ZipException.h"
#include "zip/ZipPathComponent.h"
#include "zip/ZipStorage.h"

using zipbytes::Get16;
using zipbytes::Get32;
using zipbytes::Get64;

void CZipCentralDir::ThrowError(int iCause) const { CZipException::Throw(iCause, m_pStorage->GetFilePath()); }

void CZipCentralDir::Clear() {
    m_headers.clear();
    m_headers.shrink_to_fit();
    m_info = Info{};
    m_uBytesBeforeZip = 0;
    m_bZip64End = false;
    m_pOpenedFile = nullptr;
    m_bOpenedZip64 = false;
}

uint64_t CZipCentralDir::LocateEnd() {
    const uint64_t length = m_pStorage->GetLength();
    if (length < kEndSize) ThrowError(CZipException::cdirNotFound);
    const uint64_t window = std::min<uint64_t>(length, kEndSize + kMaxCommentSize);
    CZipAutoBuffer buf(kSearchBufferSize);
    uint64_t c = 0;
    while (true) {
        const uint64_t d = std::min<uint64_t>(c + kSearchBufferSize, window);
        if (d < c + 4) break;  // nothing left that could hold a signature
        const size_t chunk = static_cast<size_t>(d - c);
        m_pStorage->Seek(length - d);
        m_pStorage->ReadExact(buf, chunk);
        for (size_t i = chunk - 4 + 1; i-- > 0;)
            if (Get32(buf.data() + i) == kEndSignature && length - d + i + kEndSize <= length) return length - d + i;
        if (d == window) break;
        c = d - 3;
    }
    ThrowError(CZipException::cdirNotFound);
}

void CZipCentralDir::ReadZip64End(uint64_t uEndOffset) {
    // The locator sits right before the end record; the Zip64 end record normally right
    // before the locator, or where the locator says when nothing precedes the archive.
    const uint64_t locatorPos = uEndOffset - kZip64LocatorSize;
    char loc[kZip64LocatorSize];
    m_pStorage->Seek(locatorPos);
    m_pStorage->ReadExact(loc, sizeof loc);
    const uint64_t recordOffset = Get64(loc + 8);
    char rec[kZip64EndSize];
    uint64_t recordPos = 0;
    bool found = false;
    for (uint64_t candidate : {locatorPos >= kZip64EndSize ? locatorPos - kZip64EndSize : UINT64_MAX, recordOffset}) {
        if (candidate == UINT64_MAX || candidate > locatorPos - kZip64EndSize) continue;
        m_pStorage->Seek(candidate);
        m_pStorage->ReadExact(rec, sizeof rec);
        if (Get32(rec) == kZip64EndSignature) {
            recordPos = candidate;
            found = true;
            break;
        }
    }
    if (!found) ThrowError(CZipException::badZipFile);
    m_info.m_uThisDisk = Get32(rec + 16);
    m_info.m_uDiskWithCD = Get32(rec + 20);
    m_info.m_uDiskEntriesNo = Get64(rec + 24);
    m_info.m_uEntriesNumber = Get64(rec + 32);
    m_info.m_uSize = Get64(rec + 40);
    m_info.m_uOffset = Get64(rec + 48);
    m_info.m_uEndOffset = recordPos;
}

void CZipCentralDir::Read() {
    Clear();
    const uint64_t endOffset = LocateEnd();
    char buf[kEndSize];
    m_pStorage->Seek(endOffset);
    m_pStorage->ReadExact(buf, sizeof buf);
    m_info.m_uThisDisk = Get16(buf + 4);
    m_info.m_uDiskWithCD = Get16(buf + 6);
    m_info.m_uDiskEntriesNo = Get16(buf + 8);
    m_info.m_uEntriesNumber = Get16(buf + 10);
    m_info.m_uSize = Get32(buf + 12);
    m_info.m_uOffset = Get32(buf + 16);
    const uint16_t commentSize = Get16(buf + 20);
    m_info.m_uEndOffset = endOffset;
    m_info.m_pszComment.Allocate(commentSize);
    if (commentSize) m_pStorage->ReadExact(m_info.m_pszComment, commentSize);

    // A Zip64 archive keeps its real values in the Zip64 end record, announced by a locator.
    if (endOffset >= kZip64LocatorSize + kZip64EndSize) {
        char sig[4];
        m_pStorage->Seek(endOffset - kZip64LocatorSize);
        m_pStorage->ReadExact(sig, sizeof sig);
        if (Get32(sig) == kZip64LocatorSignature) {
            ReadZip64End(endOffset);
            m_bZip64End = true;
        }
    }

    // Only single-file archives are read; spanned ones would need the other volumes.
    if (m_info.m_uThisDisk != 0 || m_info.m_uDiskWithCD != 0 || m_info.m_uDiskEntriesNo != m_info.m_uEntriesNumber)
        ThrowError(CZipException::badZipFile);
    const uint64_t cdEnd = m_info.m_uOffset + m_info.m_uSize;
    if (cdEnd < m_info.m_uOffset || m_info.m_uEndOffset < cdEnd) ThrowError(CZipException::badZipFile);
    m_uBytesBeforeZip = m_info.m_uEndOffset - cdEnd;
    // A count of 0 with a directory may be 65,536 entries wrapped in the 16-bit field; the
    // directory's size decides, so only entries without any directory are damage.
    if (m_info.m_uSize == 0 && m_info.m_uEntriesNumber != 0) ThrowError(CZipException::badZipFile);
    if (m_info.m_uSize != 0) ReadHeaders();
    CheckEntries();
}

void CZipCentralDir::ReadHeaders() {
    // The directory is read until its recorded size is consumed, as the standard tools do:
    // writers without Zip64 records let the 16-bit entry count wrap past 65,535. The count must
    // still agree (modulo 65,536 when it comes from that 16-bit field), so a directory that
    // holds more or fewer entries than announced is refused rather than read in part.
    if (m_info.m_uEntriesNumber > m_info.m_uSize / CZipFileHeader::kCentralSize) ThrowError(CZipException::badZipFile);
    const uint64_t cdStart = m_info.m_uOffset + m_uBytesBeforeZip;
    const uint64_t cdEnd = cdStart + m_info.m_uSize;
    m_pStorage->Seek(cdStart);
    m_headers.reserve(static_cast<size_t>(m_info.m_uEntriesNumber));
    while (m_pStorage->GetPosition() < cdEnd) {
        m_headers.emplace_back().ReadCentral(*m_pStorage);
        if (m_pStorage->GetPosition() > cdEnd) ThrowError(CZipException::badZipFile);
    }
    const uint64_t read = m_headers.size();
    const bool countAgrees = m_bZip64End ? read == m_info.m_uEntriesNumber : read % 65536 == m_info.m_uEntriesNumber;
    if (!countAgrees) ThrowError(CZipException::badZipFile);
    std::stable_sort(m_headers.begin(), m_headers.end(), [](const CZipFileHeader& a, const CZipFileHeader& b) {
        return a.m_uDiskStart != b.m_uDiskStart ? a.m_uDiskStart < b.m_uDiskStart : a.m_uOffset < b.m_uOffset;
    });
    const int system = m_headers.front().GetSystemCompatibility();
    if (system == 0 || system == 3 || system == 6 || system == 7 || system == 10) m_iArchiveSystem = system;
}

void CZipCentralDir::CheckEntries() {
    // Each entry's data may reach at most up to the next entry's local header (or the
    // directory): two entries pointing into the same bytes are refused as damage.
    const uint64_t cdStart = m_info.m_uOffset;
    std::unordered_map<std::wstring, bool> seen;  // folded target name → is a folder
    seen.reserve(m_headers.size());
    for (size_t i = 0; i < m_headers.size(); ++i) {
        CZipFileHeader& header = m_headers[i];
        if (header.m_uDiskStart != 0) ThrowError(CZipException::badZipFile);
        const uint64_t next = i + 1 < m_headers.size() ? m_headers[i + 1].m_uOffset : cdStart;
        if (header.m_uOffset > cdStart || next > cdStart || next - header.m_uOffset < CZipFileHeader::kLocalSize)
            ThrowError(CZipException::badZipFile);
        if (header.m_uComprSize > next - header.m_uOffset - CZipFileHeader::kLocalSize)
            ThrowError(CZipException::badZipFile);
        header.m_uDataLimit = next + m_uBytesBeforeZip;
        if (header.m_uMethod == 0 && header.m_uComprSize != header.m_uUncomprSize && !header.IsEncrypted())
            ThrowError(CZipException::badZipFile);

        // Names: nothing may land outside the target folder or on top of another entry.
        if (header.IsSpecialFile()) ThrowError(CZipException::unsafeEntry);
        const auto safe = CZipPathComponent::MakeSafeRelative(header.GetEntryName());
        const bool isFolder = header.IsDirectory();
        if (!safe || (safe->empty() && !isFolder)) ThrowError(CZipException::unsafeEntry);
        if (safe->empty()) continue;  // the folder itself, as "./" from some tools
        auto [it, inserted] = seen.emplace(platform::ToLower(*safe), isFolder);
        if (!inserted && !(it->second && isFolder)) ThrowError(CZipException::unsafeEntry);
    }
}

CZipFileHeader& CZipCentralDir::OpenFile(size_t uIndex, bool& bOutZip64) {
    if (!IsValidIndex(uIndex) || m_pOpenedFile != nullptr) ThrowError(CZipException::internal);
    CZipFileHeader& header = m_headers[uIndex];
    header.ReadLocal(*m_pStorage, m_uBytesBeforeZip, bOutZip64);
    m_pOpenedFile = &header;
    m_bOpenedZip64 = bOutZip64;
    return header;
}

void CZipCentralDir::CloseFile() {
    CZipFileHeader* header = m_pOpenedFile;
    m_pOpenedFile = nullptr;
    if (header == nullptr || !header->IsDataDescriptor()) return;
    // The storage stands right after the entry's data. The signature is optional; the sizes
    // are 64-bit when the local header announced Zip64, though some writers differ, so the
    // other width is accepted too when it matches.
    const uint64_t limit = header->m_uDataLimit;
    const uint64_t start = m_pStorage->GetPosition();
    char buf[24];
    const uint64_t avail = start <= limit ? limit - start : 0;
    const size_t got = m_pStorage->Read(buf, static_cast<size_t>(std::min<uint64_t>(sizeof buf, avail)));
    const size_t pos = got >= 4 && Get32(buf) == CZipFileHeader::kDescriptorSignature ? 4 : 0;
    auto matches = [&](bool wide) {
        const size_t need = pos + (wide ? 20 : 12);
        if (got < need) return false;
        const uint32_t crc = Get32(buf + pos);
        const uint64_t compr = wide ? Get64(buf + pos + 4) : Get32(buf + pos + 4);
        const uint64_t uncompr = wide ? Get64(buf + pos + 12) : Get32(buf + pos + 8);
        return crc == header->m_uCrc32 && compr == header->m_uComprSize && uncompr == header->m_uUncomprSize;
    };
    if (!matches(m_bOpenedZip64) && !matches(!m_bOpenedZip64)) ThrowError(CZipException::badZipFile);
}
