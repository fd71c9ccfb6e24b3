#include "zip/ZipFileHeader.h"

#include <cstring>
#include <ctime>

#include "platform/codepage.h"
#include "platform/strings.h"
#include "zip/ZipBytes.h"
#include "zip/ZipException.h"
#include "zip/ZipStorage.h"

using zipbytes::Get16;
using zipbytes::Get32;
using zipbytes::Get64;

namespace {

constexpr uint16_t kZip64ExtraId = 0x0001;

// Finds the extra block with the given id; returns its data and size through the outs.
bool FindExtra(const char* pExtra, size_t uSize, uint16_t uId, const char*& pData, size_t& uDataSize) {
    size_t pos = 0;
    while (pos + 4 <= uSize) {
        const uint16_t id = Get16(pExtra + pos);
        const uint16_t len = Get16(pExtra + pos + 2);
        if (pos + 4 + len > uSize) return false;
        if (id == uId) {
            pData = pExtra + pos + 4;
            uDataSize = len;
            return true;
        }
        pos += 4 + len;
    }
    return false;
}

}  // namespace

void CZipFileHeader::ReadCentral(CZipStorage& storage) {
    char buf[kCentralSize];
    storage.ReadExact(buf, sizeof buf);
    m_uSignature = Get32(buf);
    if (m_uSignature != kCentralSignature) CZipException::Throw(CZipException::badZipFile, storage.GetFilePath());
    m_uVersionMadeBy = Get16(buf + 4);
    m_uVersionNeeded = Get16(buf + 6);
    m_uFlag = Get16(buf + 8);
    m_uMethod = Get16(buf + 10);
    m_uModTime = Get16(buf + 12);
    m_uModDate = Get16(buf + 14);
    m_uCrc32 = Get32(buf + 16);
    m_uComprSize = Get32(buf + 20);
    m_uUncomprSize = Get32(buf + 24);
    const uint16_t nameSize = Get16(buf + 28);
    const uint16_t extraSize = Get16(buf + 30);
    const uint16_t commentSize = Get16(buf + 32);
    m_uDiskStart = Get16(buf + 34);
    m_uInternalAttr = Get16(buf + 36);
    m_uExternalAttr = Get32(buf + 38);
    m_uOffset = Get32(buf + 42);

    m_pszFileName.Allocate(nameSize);
    m_pExtraField.Allocate(extraSize);
    m_pszComment.Allocate(commentSize);
    if (nameSize) storage.ReadExact(m_pszFileName, nameSize);
    if (extraSize) storage.ReadExact(m_pExtraField, extraSize);
    if (commentSize) storage.ReadExact(m_pszComment, commentSize);
    ReadZip64Extra(storage.GetFilePath());
    DecodeName();
}

void CZipFileHeader::ReadZip64Extra(const std::wstring& szArchive) {
    const bool needUncompr = m_uUncomprSize == 0xFFFFFFFFu;
    const bool needCompr = m_uComprSize == 0xFFFFFFFFu;
    const bool needOffset = m_uOffset == 0xFFFFFFFFu;
    const bool needDisk = m_uDiskStart == 0xFFFFu;
    if (!needUncompr && !needCompr && !needOffset && !needDisk) return;
    const char* data = nullptr;
    size_t size = 0;
    if (!FindExtra(m_pExtraField, m_pExtraField.GetSize(), kZip64ExtraId, data, size))
        CZipException::Throw(CZipException::badZipFile, szArchive);
    // Only the saturated fields are present, in this order.
    size_t pos = 0;
    auto take64 = [&](uint64_t& field) {
        if (pos + 8 > size) CZipException::Throw(CZipException::badZipFile, szArchive);
        field = Get64(data + pos);
        pos += 8;
    };
    if (needUncompr) take64(m_uUncomprSize);
    if (needCompr) take64(m_uComprSize);
    if (needOffset) take64(m_uOffset);
    if (needDisk) {
        if (pos + 4 > size) CZipException::Throw(CZipException::badZipFile, szArchive);
        m_uDiskStart = Get32(data + pos);
    }
}

void CZipFileHeader::DecodeName() {
    char* name = m_pszFileName;
    const size_t size = m_pszFileName.GetSize();
    for (size_t i = 0; i < size; ++i)
        if (name[i] == '/') name[i] = '\\';
    const std::string_view bytes(name, size);
    if (IsUtf8()) {
        m_szName = platform::FromUtf8(bytes);
        return;
    }
    std::string converted;
    std::string_view ansi = bytes;
    if (m_uVersionMadeBy < 256) {
        // Names from MS-DOS tools are in the OEM code page.
        converted = platform::OemToAnsi(bytes);
        m_pszFileName.Allocate(converted.size());
        if (!converted.empty()) std::memcpy(m_pszFileName, converted.data(), converted.size());
        ansi = std::string_view(m_pszFileName.data(), m_pszFileName.GetSize());
    }
    if (auto wide = platform::MultiByteToWide(platform::CP_ACP, ansi))
        m_szName = std::move(*wide);
    else
        m_szName = platform::FromUtf8(ansi);  // undecodable bytes become U+FFFD
}

bool CZipFileHeader::IsSpecialFile() const {
    if (GetSystemCompatibility() != sysUnix) return false;
    const uint32_t type = (m_uExternalAttr >> 16) & 0170000;
    return type != 0 && type != 0100000 && type != 0040000 && type != 0010000;
}

bool CZipFileHeader::EndsInSeparator() const {
    const size_t size = m_pszFileName.GetSize();
    return size > 0 && (m_pszFileName.data()[size - 1] == '\\' || m_pszFileName.data()[size - 1] == '/');
}

uint32_t CZipFileHeader::GetSystemAttr() const {
    const int system = GetSystemCompatibility();
    const bool endsInSeparator = EndsInSeparator();
    switch (system) {
        case sysDos:
        case sysOs2:
        case sysNtfs:
        case sysUnix:
        case sysMac:
            if (m_uExternalAttr == 0 && endsInSeparator) return 0x41FF0010u;
            break;
        default: return endsInSeparator ? 0x41FF0010u : 0x81A40020u;
    }
    if (system == sysUnix) {
        // No mode recorded at all (some writers leave it 0) is a plain file, not one
        // without permissions.
        if ((m_uExternalAttr >> 16) == 0) return endsInSeparator ? 0x41FF0010u : attrArchive;
        const uint32_t mode = m_uExternalAttr;
        uint32_t attr = 0;
        if (mode & (1u << 30)) attr |= attrDirectory;
        if (!(mode & (1u << 23))) attr |= attrReadOnly;
        if (!(mode & (1u << 24))) attr |= attrHidden;
        if (!(mode & (1u << 22))) attr |= attrArchive;
        return attr;
    }
    if (system == sysMac) return m_uExternalAttr & (attrReadOnly | attrDirectory);
    return m_uExternalAttr;
}

platform::FileTime CZipFileHeader::GetTime() const {
    std::tm tm{};
    tm.tm_sec = (m_uModTime & 0x1F) * 2;
    tm.tm_min = (m_uModTime >> 5) & 0x3F;
    tm.tm_hour = (m_uModTime >> 11) & 0x1F;
    tm.tm_mday = m_uModDate & 0x1F;
    tm.tm_mon = ((m_uModDate >> 5) & 0x0F) - 1;
    tm.tm_year = 80 + ((m_uModDate >> 9) & 0x7F);
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return platform::FileTime::clock::from_time_t(t == static_cast<std::time_t>(-1) ? 0 : t);
}

void CZipFileHeader::ReadLocal(CZipStorage& storage, uint64_t uBytesBeforeZip, bool& bOutZip64) {
    const std::wstring& archive = storage.GetFilePath();
    auto fail = [&]() { CZipException::Throw(CZipException::badZipFile, archive); };
    const uint64_t start = m_uOffset + uBytesBeforeZip;
    if (start < m_uOffset || start + kLocalSize > m_uDataLimit) fail();
    storage.Seek(start);
    char buf[kLocalSize];
    storage.ReadExact(buf, sizeof buf);
    if (Get32(buf) != kLocalSignature) fail();
    const uint16_t flag = Get16(buf + 6);
    const uint16_t method = Get16(buf + 8);
    const uint32_t crc = Get32(buf + 14);
    uint64_t comprSize = Get32(buf + 18);
    uint64_t uncomprSize = Get32(buf + 22);
    m_uLocalFileNameSize = Get16(buf + 26);
    m_uLocalExtraFieldSize = Get16(buf + 28);
    if (method != m_uMethod || (method != 0 && method != 8)) fail();
    if ((flag & 0xF) != (m_uFlag & 0xF)) m_uFlag = static_cast<uint16_t>((m_uFlag & ~0xF) | (flag & 0xF));

    storage.Seek(start + kLocalSize + m_uLocalFileNameSize);
    CZipAutoBuffer extra(m_uLocalExtraFieldSize);
    if (m_uLocalExtraFieldSize) storage.ReadExact(extra, m_uLocalExtraFieldSize);
    const char* zip64 = nullptr;
    size_t zip64Size = 0;
    bOutZip64 = FindExtra(extra, extra.GetSize(), kZip64ExtraId, zip64, zip64Size);
    if (bOutZip64) {
        size_t pos = 0;
        if (uncomprSize == 0xFFFFFFFFu && pos + 8 <= zip64Size) uncomprSize = Get64(zip64 + pos), pos += 8;
        if (comprSize == 0xFFFFFFFFu && pos + 8 <= zip64Size) comprSize = Get64(zip64 + pos), pos += 8;
    }
    if (!IsDataDescriptor() && (crc != m_uCrc32 || comprSize != m_uComprSize || uncomprSize != m_uUncomprSize)) fail();

    // The data (and its descriptor) must end before the next entry or the directory begins,
    // so that no two entries share bytes.
    const uint64_t dataStart = storage.GetPosition();
    if (dataStart + m_uComprSize < dataStart || dataStart + m_uComprSize > m_uDataLimit) fail();
}
