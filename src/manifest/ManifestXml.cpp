#include "manifest/ManifestXml.h"
#include "manifest/ManifestFailure.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwctype>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "platform/codepage.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace UpDater {

namespace {

using Tables = rapidxml::internal::lookup_tables<0>;

// The parser's character classes as corrected for wide text (see the header).
bool IsSpace(wchar_t c) { return rapidxml::wide::Lookup(Tables::lookup_whitespace, c, 0) != 0; }
bool IsNameChar(wchar_t c) { return rapidxml::wide::Lookup(Tables::lookup_node_name, c, 1) != 0; }
bool IsAttrNameChar(wchar_t c) { return rapidxml::wide::Lookup(Tables::lookup_attribute_name, c, 1) != 0; }

[[noreturn]] void Refuse(const char* szWhat, const wchar_t* pWhere) {
    throw rapidxml::parse_error(szWhat, const_cast<wchar_t*>(pWhere));
}

// True when the text at p starts with szPrefix; never reads past the text's terminator.
bool StartsWith(const wchar_t* p, const wchar_t* szPrefix) {
    for (; *szPrefix != 0; ++p, ++szPrefix) {
        if (*p != *szPrefix) return false;
    }
    return true;
}

// Finds szEnd from p on; nullptr at the end of the text (the parser reports that itself).
const wchar_t* FindSeq(const wchar_t* p, const wchar_t* szEnd) {
    const size_t n = std::char_traits<wchar_t>::length(szEnd);
    for (; *p != 0; ++p) {
        if (StartsWith(p, szEnd)) return p + n;
    }
    return nullptr;
}

// Scans character data up to a stop character (or the end) as the parser's reference
// expansion reads it. The parser reads reference digits through a byte table: a wide
// character whose low byte looks like a digit would be taken as one, so it is refused here,
// as is a code that could overflow. False when the parser will report an error itself.
bool ScanCharData(const wchar_t*& p, wchar_t stop) {
    while (*p != 0 && *p != stop) {
        if (p[0] == L'&' && p[1] == L'#') {
            const wchar_t* q = p + 2;
            const bool hex = *q == L'x';
            if (hex) ++q;
            unsigned long code = 0;
            for (;; ++q) {
                const unsigned char digit = Tables::lookup_digits[static_cast<unsigned char>(*q)];
                if (digit == 0xFF) break;
                if (!rapidxml::wide::InByteRange(*q)) Refuse("invalid numeric character entity", q);
                code = code * (hex ? 16 : 10) + digit;
                if (code > 0x10FFFF) Refuse("invalid numeric character entity", q);
            }
            if (*q != L';') return false;
            p = q + 1;
            continue;
        }
        ++p;
    }
    return true;
}

}  // namespace

void CheckManifestBounds(const wchar_t* szText, size_t nMaxDepth, size_t nMaxNodes) {
    const wchar_t* p = szText;
    size_t depth = 0;
    size_t nodes = 0;
    auto countNode = [&](const wchar_t* where) {
        if (++nodes > nMaxNodes) Refuse("too many nodes", where);
    };
    if (*p == wchar_t(0xFEFF)) ++p;
    // One loop instead of recursion: depth 0 is the document level, otherwise the contents
    // of the innermost open element. Wherever the parser would stop with an error, the scan
    // stops too and leaves the report to the parser.
    for (;;) {
        while (IsSpace(*p)) ++p;
        if (*p == 0) return;
        if (depth == 0) {
            if (*p != L'<') return;
        } else if (*p != L'<') {
            countNode(p);  // a text node
            if (!ScanCharData(p, L'<') || *p == 0) return;
        }
        if (depth > 0 && p[1] == L'/') {
            p += 2;
            while (IsNameChar(*p)) ++p;
            while (IsSpace(*p)) ++p;
            if (*p != L'>') return;
            ++p;
            --depth;
            continue;
        }
        ++p;  // '<'
        if (*p == L'?') {
            if ((p = FindSeq(p + 1, L"?>")) == nullptr) return;
            continue;
        }
        if (*p == L'!') {
            if (p[1] == L'-' && p[2] == L'-') {
                if ((p = FindSeq(p + 3, L"-->")) == nullptr) return;
            } else if (StartsWith(p + 1, L"[CDATA[")) {
                countNode(p);
                if ((p = FindSeq(p + 8, L"]]>")) == nullptr) return;
            } else if (StartsWith(p + 1, L"DOCTYPE") && IsSpace(p[8])) {
                p += 9;
                while (*p != L'>') {
                    if (*p == 0) return;
                    if (*p == L'[') {
                        size_t nest = 1;
                        for (++p; nest > 0; ++p) {
                            if (*p == 0) return;
                            if (*p == L'[') ++nest;
                            if (*p == L']') --nest;
                        }
                    } else {
                        ++p;
                    }
                }
                ++p;
            } else {
                while (*p != L'>') {
                    if (*p == 0) return;
                    ++p;
                }
                ++p;
            }
            continue;
        }
        // An element.
        countNode(p);
        if (!IsNameChar(*p)) return;
        while (IsNameChar(*p)) ++p;
        while (IsSpace(*p)) ++p;
        while (IsAttrNameChar(*p)) {
            countNode(p);
            ++p;
            while (IsAttrNameChar(*p)) ++p;
            while (IsSpace(*p)) ++p;
            if (*p != L'=') return;
            ++p;
            while (IsSpace(*p)) ++p;
            const wchar_t quote = *p;
            if (quote != L'\'' && quote != L'"') return;
            ++p;
            if (!ScanCharData(p, quote) || *p != quote) return;
            ++p;
            while (IsSpace(*p)) ++p;
        }
        if (*p == L'>') {
            ++p;
            if (++depth > nMaxDepth) Refuse("elements nested too deeply", p);
            continue;
        }
        if (*p == L'/' && p[1] == L'>') {
            p += 2;
            continue;
        }
        return;
    }
}

// The parser's node blocks, carved from large regions that are kept for the next parse of the
// same document: a second manifest then lands in memory already mapped instead of freshly
// faulted-in pages. The parser takes plain functions, so the arena in use is named by a
// per-thread pointer while it parses.
class CManifestDocument::NodeArena {
public:
    void* Allocate(size_t nBytes) {
        nBytes = (nBytes + 15) & ~size_t(15);
        while (m_region < m_regions.size()) {
            platform::LargeBlock& region = m_regions[m_region];
            if (region.Size() - m_used >= nBytes) {
                void* p = static_cast<char*>(region.Data()) + m_used;
                m_used += nBytes;
                return p;
            }
            ++m_region;
            m_used = 0;
        }
        // Regions double from 2 MiB (one huge page) to 64 MiB: a small manifest maps little,
        // a large one few regions. Pages are touched only as the parser fills them.
        const size_t grown = m_regions.empty() ? kFirstRegion : std::min(m_regions.back().Size() * 2, kLastRegion);
        m_regions.emplace_back(std::max(grown, nBytes));
        m_region = m_regions.size() - 1;
        m_used = nBytes;
        return m_regions.back().Data();
    }
    // What the parse did not fill goes back to the system: the huge page the end of the
    // filled part falls in, and regions an earlier, larger document filled.
    void TrimUnused() {
        for (size_t k = m_region; k < m_regions.size(); ++k) m_regions[k].Trim(k == m_region ? m_used : 0);
    }
    // Every region is free again; the parser's own free calls are ignored.
    void Rewind() {
        m_region = 0;
        m_used = 0;
    }

    // Makes this arena the one the parser allocates from, until the scope ends.
    class Use {
    public:
        explicit Use(NodeArena& arena) : m_previous(s_current) { s_current = &arena; }
        ~Use() { s_current = m_previous; }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        NodeArena* m_previous;
    };
    static void* AllocateCurrent(size_t nBytes) { return s_current->Allocate(nBytes); }
    static void FreeNothing(void*) {}

private:
    static constexpr size_t kFirstRegion = size_t(2) << 20;
    static constexpr size_t kLastRegion = size_t(64) << 20;
    std::vector<platform::LargeBlock> m_regions;
    size_t m_region = 0;  // the region being filled
    size_t m_used = 0;    // bytes of it given out
    static thread_local NodeArena* s_current;
};

thread_local CManifestDocument::NodeArena* CManifestDocument::NodeArena::s_current = nullptr;

CManifestDocument::CManifestDocument() : m_arena(std::make_unique<NodeArena>()) {}
CManifestDocument::~CManifestDocument() = default;

namespace {

enum class ReadResult { Ok, OpenFailed, TooLarge, NotUtf8 };

// Bytes at the end of a chunk that start a UTF-8 sequence the chunk does not complete.
size_t IncompleteTail(std::string_view chunk) {
    for (size_t back = 1; back <= 4 && back <= chunk.size(); ++back) {
        const auto b = static_cast<unsigned char>(chunk[chunk.size() - back]);
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

// Makes room for nMore wide units after the first nLength of the text (and its terminator).
void ReserveText(platform::LargeBlock& text, size_t nLength, size_t nMore) {
    const size_t need = (nLength + nMore + 1) * sizeof(wchar_t);
    if (text.Size() >= need) return;
    platform::LargeBlock grown(std::max(need, text.Size() * 2));
    if (nLength > 0) std::memcpy(grown.Data(), text.Data(), nLength * sizeof(wchar_t));
    text = std::move(grown);
}

// Reads the file as UTF-8 text up to its first zero byte into text (zero-terminated, nLength
// units), decoding chunk by chunk so that the bytes are never held whole beside the text. The
// text is sized from the file's size, so that it is written once and never moved. More than
// nLimit bytes are refused before they are read (or as soon as a growing file passes the limit).
// The source is a platform::File or a MemorySource: Size(), Read(), LastError() and Error().
template <class Source>
ReadResult ReadManifestText(Source& file, uint64_t nLimit, platform::LargeBlock& text, size_t& nLength,
                            platform::SystemError& error) {
    // Small enough to stay in the cache and to cost few fresh pages; the text is decoded
    // from it chunk by chunk.
    constexpr size_t nChunk = 64 << 10;
    nLength = 0;
    if (auto size = file.Size()) {
        if (*size > nLimit) return ReadResult::TooLarge;
        ReserveText(text, 0, static_cast<size_t>(*size) + 1);
    }
    // Left uninitialised: the reads fill it.
    const std::unique_ptr<char[]> buffer(new char[nChunk + 4]);
    size_t carried = 0;
    uint64_t total = 0;
    for (;;) {
        const int64_t n = file.Read(buffer.get() + carried, nChunk);
        if (n < 0) {
            error = file.LastError() != 0 ? file.Error() : platform::SystemError(platform::ERROR_ACCESS_DENIED_);
            return ReadResult::OpenFailed;
        }
        total += static_cast<uint64_t>(n);
        if (total > nLimit) return ReadResult::TooLarge;
        std::string_view chunk(buffer.get(), carried + static_cast<size_t>(n));
        const size_t zero = chunk.find('\0');
        const bool last = n == 0 || zero != std::string_view::npos;
        if (zero != std::string_view::npos) chunk = chunk.substr(0, zero);
        const size_t keep = last ? 0 : IncompleteTail(chunk);
        const std::string_view whole = chunk.substr(0, chunk.size() - keep);
        ReserveText(text, nLength, whole.size());
        // Decoded straight onto the end of the text: no chunk-sized temporary to copy.
        const size_t decoded = platform::DecodeUtf8StrictTo(whole, static_cast<wchar_t*>(text.Data()) + nLength);
        if (decoded == std::string_view::npos) return ReadResult::NotUtf8;
        nLength += decoded;
        static_cast<wchar_t*>(text.Data())[nLength] = L'\0';
        if (last) {
            text.Trim((nLength + 1) * sizeof(wchar_t));
            return ReadResult::Ok;
        }
        std::copy(chunk.end() - keep, chunk.end(), buffer.get());
        carried = keep;
    }
}

// Bytes already in memory, read as a file would be.
class MemorySource {
public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    std::optional<uint64_t> Size() const { return m_bytes.size(); }
    int64_t Read(char* pOut, size_t nMax) {
        const size_t n = std::min(nMax, m_bytes.size() - m_at);
        std::memcpy(pOut, m_bytes.data() + m_at, n);
        m_at += n;
        return static_cast<int64_t>(n);
    }
    uint32_t LastError() const { return 0; }
    platform::SystemError Error() const { return {}; }

private:
    std::string_view m_bytes;
    size_t m_at = 0;
};

// The text of a file, or of the bytes given (then szPath only names them).
ReadResult ReadManifestText(const std::wstring& szPath, const std::string_view* pBytes, uint64_t nLimit, platform::LargeBlock& text,
                            size_t& nLength, platform::SystemError& error) {
    if (pBytes != nullptr) {
        MemorySource source(*pBytes);
        return ReadManifestText(source, nLimit, text, nLength, error);
    }
    platform::File file;
    if (file.Open(szPath, platform::File::Mode::Read) != 0) {
        error = file.Error();
        return ReadResult::OpenFailed;
    }
    return ReadManifestText(file, nLimit, text, nLength, error);
}

}  // namespace

bool CManifestDocument::Load(const std::wstring& szPath, const ManifestLoadLines& lines) {
    return LoadFrom(szPath, nullptr, lines);
}

bool CManifestDocument::LoadBytes(std::string_view bytes, const std::wstring& szName, const ManifestLoadLines& lines) {
    return LoadFrom(szName, &bytes, lines);
}

bool CManifestDocument::LoadFrom(const std::wstring& szPath, const std::string_view* pBytes, const ManifestLoadLines& lines) {
    m_doc.reset();
    platform::SystemError error;
    size_t nLength = 0;
    switch (ReadManifestText(szPath, pBytes, ManifestLimits::kMaxFileBytes, m_text, nLength, error)) {
        case ReadResult::Ok:
            break;
        case ReadResult::OpenFailed:
            platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::%s() [%s] File Open Failed (%s) \n",
                                                    lines.nOpen, lines.szCaller, szPath, platform::DescribeError(error)));
            RecordManifestUnreadable(szPath, error.code);
            return false;
        case ReadResult::TooLarge:
            m_text = {};
            platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::%s() [%s] File Too Large (limit %llu bytes) \n",
                                                    lines.nTooLarge, lines.szCaller, szPath,
                                                    static_cast<unsigned long long>(ManifestLimits::kMaxFileBytes)));
            RecordManifestTooLarge(szPath, ManifestLimits::kMaxFileBytes);
            return false;
        case ReadResult::NotUtf8:
            m_text = {};
            platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::%s() File Data NULL \n", lines.nConvert, lines.szCaller));
            RecordManifestNotUtf8(szPath);
            return false;
    }

    const char* szError = nullptr;
    std::ptrdiff_t offset = -1;
    try {
        wchar_t* text = static_cast<wchar_t*>(m_text.Data());
        CheckManifestBounds(text);
        m_arena->Rewind();
        m_doc = std::make_unique<rapidxml::xml_document<wchar_t>>();
        m_doc->set_allocator(NodeArena::AllocateCurrent, NodeArena::FreeNothing);
        NodeArena::Use use(*m_arena);
        m_doc->parse<0>(text);
        m_arena->TrimUnused();
        return true;
    } catch (const rapidxml::parse_error& e) {
        szError = e.what();
        if (const wchar_t* where = e.where<wchar_t>()) offset = where - static_cast<const wchar_t*>(m_text.Data());
    } catch (const std::bad_alloc&) {
        szError = "out of memory";
    }
    m_doc.reset();
    m_text = {};

    // The parse rewrote the text in place; the position is counted on a fresh copy.
    size_t line = 0, column = 0;
    if (offset >= 0) {
        platform::SystemError ignored;
        platform::LargeBlock pristineText;
        size_t nPristine = 0;
        if (ReadManifestText(szPath, pBytes, ManifestLimits::kMaxFileBytes, pristineText, nPristine, ignored) == ReadResult::Ok) {
            const wchar_t* pristine = static_cast<const wchar_t*>(pristineText.Data());
            line = 1;
            column = 1;
            const size_t end = std::min<size_t>(static_cast<size_t>(offset), nPristine);
            for (size_t i = 0; i < end; ++i) {
                if (pristine[i] == L'\n') {
                    ++line;
                    column = 1;
                } else {
                    ++column;
                }
            }
        }
    }
    platform::OutputDebug(platform::FormatW(
        L"[OVUSVC] [Error %d line] CVersionBuilder::%s() [%s] Xml Parse Failed: %s at line %llu column %llu \n", lines.nParse,
        lines.szCaller, szPath, platform::FromUtf8(szError), static_cast<unsigned long long>(line),
        static_cast<unsigned long long>(column)));
    RecordManifestMalformed(szPath, line, column, platform::FromUtf8(szError));
    return false;
}

XmlNode* CManifestDocument::Root() const { return m_doc ? m_doc->first_node() : nullptr; }

XmlNode* FindChild(const XmlNode* pNode, const wchar_t* szName) {
    if (pNode == nullptr) return nullptr;
    for (XmlNode* child = pNode->first_node(szName); child != nullptr; child = child->next_sibling(szName)) {
        if (child->type() == rapidxml::node_element) return child;
    }
    return nullptr;
}

std::wstring ChildText(const XmlNode* pNode, const wchar_t* szName, bool* pbFound) {
    const XmlNode* child = FindChild(pNode, szName);
    if (pbFound != nullptr) *pbFound = child != nullptr;
    if (child == nullptr) return {};
    return std::wstring(child->value(), child->value_size());
}

int64_t ParseInt64(std::wstring_view szText) {
    size_t i = 0;
    while (i < szText.size() && std::iswspace(static_cast<wint_t>(szText[i]))) ++i;
    bool negative = false;
    if (i < szText.size() && (szText[i] == L'+' || szText[i] == L'-')) negative = szText[i++] == L'-';
    // Accumulated as a negative number so that the minimum has room.
    int64_t value = 0;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    bool clamped = false;
    for (; i < szText.size() && szText[i] >= L'0' && szText[i] <= L'9'; ++i) {
        const int digit = szText[i] - L'0';
        if (clamped) continue;
        if (value < (kMin + digit) / 10) {
            clamped = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (clamped) return negative ? kMin : std::numeric_limits<int64_t>::max();
    if (!negative) return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
    return value;
}

int32_t ParseInt32(std::wstring_view szText) {
    const int64_t value = ParseInt64(szText);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::wstring_view LastPathComponentView(std::wstring_view szPath) {
    const size_t sep = szPath.find_last_of(L"\\/");
    if (sep != std::wstring_view::npos) return szPath.substr(sep + 1);
    // A drive prefix ("c:name") is not part of the name.
    if (szPath.size() >= 2 && szPath[1] == L':') return szPath.substr(2);
    return szPath;
}

std::wstring LastPathComponent(std::wstring_view szPath) { return std::wstring(LastPathComponentView(szPath)); }

namespace {

// The text of the first child element of each name, found in one walk over the children
// (what ChildText gives for each name alone). Names not found leave their text empty.
template <size_t N>
std::array<std::wstring_view, N> ChildTexts(const XmlNode* pItem, const std::array<std::wstring_view, N>& names) {
    std::array<std::wstring_view, N> texts{};
    if (pItem == nullptr) return texts;
    std::array<bool, N> found{};
    size_t left = N;
    for (const XmlNode* child = pItem->first_node(); child != nullptr && left > 0; child = child->next_sibling()) {
        if (child->type() != rapidxml::node_element) continue;
        const std::wstring_view name(child->name(), child->name_size());
        for (size_t i = 0; i < N; ++i) {
            if (!found[i] && names[i] == name) {
                found[i] = true;
                texts[i] = std::wstring_view(child->value(), child->value_size());
                --left;
                break;
            }
        }
    }
    return texts;
}

}  // namespace

FileItemPlace ReadFileItemPlace(const XmlNode* pItem) {
    static constexpr std::array<std::wstring_view, 2> kNames{L"Folder", L"OriFileName"};
    const auto texts = ChildTexts(pItem, kNames);
    return {texts[0], texts[1]};
}

UpdateItem ReadUpdateItem(const XmlNode* pItem) {
    static constexpr std::array<std::wstring_view, 8> kNames{L"FileHash", L"DownloadUrl", L"OriFileName", L"FileSize",
                                                             L"RegCom",   L"Folder",      L"Sha256",      L"PackageSize"};
    const auto texts = ChildTexts(pItem, kNames);
    UpdateItem item;
    item.FileHash.assign(texts[0]);
    item.DownloadUrl.assign(texts[1]);
    item.OriFileName.assign(texts[2]);
    item.FileSize = ParseInt64(texts[3]);
    item.RegCom = ParseInt32(texts[4]) != 0 ? 1 : 0;
    item.Folder.assign(texts[5]);
    item.Sha256.assign(texts[6]);
    item.PackageSize = ParseInt64(texts[7]);
    ReadDeltaEntries(pItem, &item.Deltas);
    return item;
}

SkinItem ReadSkinItem(const XmlNode* pSkin) {
    SkinItem skin;
    skin.FileHash = ChildText(pSkin, L"FileHash", &skin.bHasFileHash);
    skin.DownloadUrl = ChildText(pSkin, L"DownloadUrl", &skin.bHasDownloadUrl);
    skin.OriFileName = ChildText(pSkin, L"OriFileName", &skin.bHasOriFileName);
    skin.FileSize = ParseInt64(ChildText(pSkin, L"FileSize", &skin.bHasFileSize));
    skin.Sha256 = ChildText(pSkin, L"Sha256");
    skin.PackageSize = ParseInt64(ChildText(pSkin, L"PackageSize"));
    return skin;
}

namespace {

uint32_t RootKeyFromText(const std::wstring& szRoot) {
    struct Root {
        const wchar_t* szName;
        uint32_t hKey;
    };
    static constexpr Root kRoots[] = {
        {L"HCR", platform::RootClassesRoot}, {L"HCU", platform::RootCurrentUser}, {L"HLM", platform::RootLocalMachine},
        {L"HU", platform::RootUsers},        {L"HCC", platform::RootCurrentConfig},
    };
    for (const auto& root : kRoots) {
        if (platform::EqualsNoCase(szRoot, root.szName)) return root.hKey;
    }
    return platform::RootCurrentUser;
}

}  // namespace

RegistItem ReadRegistItem(const XmlNode* pItem) {
    static constexpr std::array<std::wstring_view, 5> kNames{L"Version", L"RootPath", L"Path", L"Value", L"ValueType"};
    const auto texts = ChildTexts(pItem, kNames);
    RegistItem item;
    item.Version.assign(texts[0]);
    item.RootPath.assign(texts[1]);
    item.Path.assign(texts[2]);
    item.Value.assign(texts[3]);
    item.hRootKey = RootKeyFromText(item.RootPath);
    const std::wstring_view type = texts[4];
    if (platform::EqualsNoCase(type, L"STRING"))
        item.ValueType = kRegTypeString;
    else if (platform::EqualsNoCase(type, L"DWORD"))
        item.ValueType = kRegTypeDword;
    return item;
}

ShortcutItem ReadShortcutItem(const XmlNode* pItem) {
    static constexpr std::array<std::wstring_view, 5> kNames{L"Version", L"IsUrlType", L"SourcePath", L"DestFolderPath", L"Des"};
    const auto texts = ChildTexts(pItem, kNames);
    ShortcutItem item;
    item.Version.assign(texts[0]);
    item.IsUrlType = ParseInt32(texts[1]) == 1 ? 1 : 0;
    item.SourcePath.assign(texts[2]);
    item.DestFolderPath.assign(texts[3]);
    item.Des.assign(texts[4]);
    return item;
}

FirewallItem ReadFirewallItem(const XmlNode* pItem) {
    static constexpr std::array<std::wstring_view, 4> kNames{L"Version", L"Folder", L"FileName", L"AppName"};
    const auto texts = ChildTexts(pItem, kNames);
    FirewallItem item;
    item.Version.assign(texts[0]);
    item.Folder.assign(texts[1]);
    item.FileName.assign(texts[2]);
    item.AppName.assign(texts[3]);
    return item;
}

std::wstring ToUpperText(std::wstring_view szText) {
    std::wstring out(szText);
    for (wchar_t& c : out) {
        if (c < 0x80)
            c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
        else
            c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return out;
}

bool IsInstallFolderEntry(const RegistItem& item) {
    return item.ValueType == kRegTypeString && ToUpperText(item.Path).find(L"INSTALL SZ") != std::wstring::npos;
}

}  // namespace UpDater
