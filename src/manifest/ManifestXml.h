// Reading a manifest file into an XML tree, and turning its items into records.
// Every file that touches the tree includes this header (never the parser's header directly):
// the parser's character classes and character references are byte-oriented, and the
// specialisations below make them correct for wide text. They must be seen before any use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <rapidxml/rapidxml.hpp>

#include "manifest/ManifestItems.h"
#include "platform/memory.h"

namespace rapidxml {

namespace wide {
// Characters above the byte range are ordinary text and name characters, never white space.
inline bool InByteRange(wchar_t ch) { return static_cast<uint32_t>(ch) < 256u; }
inline unsigned char Lookup(const unsigned char (&table)[256], wchar_t ch, unsigned char above) {
    return InByteRange(ch) ? table[ch] : above;
}
using Tables = internal::lookup_tables<0>;
}  // namespace wide

// clang-format off
template <> inline unsigned char xml_document<wchar_t>::whitespace_pred::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_whitespace, ch, 0); }
template <> inline unsigned char xml_document<wchar_t>::node_name_pred::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_node_name, ch, 1); }
template <> inline unsigned char xml_document<wchar_t>::attribute_name_pred::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_attribute_name, ch, 1); }
template <> inline unsigned char xml_document<wchar_t>::text_pred::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_text, ch, 1); }
template <> inline unsigned char xml_document<wchar_t>::text_pure_no_ws_pred::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_text_pure_no_ws, ch, 1); }
template <> inline unsigned char xml_document<wchar_t>::text_pure_with_ws_pred::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_text_pure_with_ws, ch, 1); }
template <> template <> inline unsigned char xml_document<wchar_t>::attribute_value_pred<L'\''>::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_attribute_data_1, ch, 1); }
template <> template <> inline unsigned char xml_document<wchar_t>::attribute_value_pred<L'"'>::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_attribute_data_2, ch, 1); }
template <> template <> inline unsigned char xml_document<wchar_t>::attribute_value_pure_pred<L'\''>::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_attribute_data_1_pure, ch, 1); }
template <> template <> inline unsigned char xml_document<wchar_t>::attribute_value_pure_pred<L'"'>::test(wchar_t ch) { return wide::Lookup(wide::Tables::lookup_attribute_data_2_pure, ch, 1); }
// clang-format on

// A character reference becomes one wide character (a surrogate pair for UTF-16 above the
// basic plane), not a UTF-8 byte sequence. NUL and lone surrogates are refused.
template <>
template <>
inline void xml_document<wchar_t>::insert_coded_character<0>(wchar_t*& text, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        throw parse_error("invalid numeric character entity", text);
    if constexpr (sizeof(wchar_t) == 2) {
        if (code >= 0x10000) {
            code -= 0x10000;
            text[0] = static_cast<wchar_t>(0xD800 + (code >> 10));
            text[1] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
            text += 2;
            return;
        }
    }
    text[0] = static_cast<wchar_t>(code);
    text += 1;
}

// The UTF-8 byte-order mark arrives here as one wide character.
template <>
template <>
inline void xml_document<wchar_t>::parse_bom<0>(wchar_t*& text) {
    if (text[0] == wchar_t(0xFEFF)) ++text;
}

}  // namespace rapidxml

namespace UpDater {

using XmlNode = rapidxml::xml_node<wchar_t>;

// What a manifest may cost before it is refused. A manifest of 100,000 file items with their
// registry, shortcut and firewall entries is about 30 MiB and 1.5 million nodes.
struct ManifestLimits {
    static constexpr uint64_t kMaxFileBytes = 64ull * 1024 * 1024;
    static constexpr size_t kMaxDepth = 256;           // element nesting; the parser recurses per level
    static constexpr size_t kMaxNodes = 4'000'000;     // elements, text and attributes
};

// Debug line numbers of one caller of the loader; the caller's name goes into the lines.
struct ManifestLoadLines {
    const wchar_t* szCaller;  // "ParseXml", "Init_InstallRegPath"
    int nOpen;
    int nTooLarge;
    int nConvert;  // the "File Data NULL" line
    int nParse;
};

// One manifest read whole, converted from UTF-8 and parsed in place.
class CManifestDocument {
public:
    CManifestDocument();
    ~CManifestDocument();
    CManifestDocument(const CManifestDocument&) = delete;
    CManifestDocument& operator=(const CManifestDocument&) = delete;

    // False, with one debug line naming the file and the reason, when the file cannot be
    // read, is too large, is not UTF-8, breaks the bounds or is not well-formed. Never throws
    // for bad input.
    bool Load(const std::wstring& szPath, const ManifestLoadLines& lines);
    // The same for bytes already read (szName names them in the lines).
    bool LoadBytes(std::string_view bytes, const std::wstring& szName, const ManifestLoadLines& lines);
    // The first node of the document, or nullptr.
    XmlNode* Root() const;

private:
    bool LoadFrom(const std::wstring& szPath, const std::string_view* pBytes, const ManifestLoadLines& lines);
    class NodeArena;
    platform::LargeBlock m_text;  // the wide text, parsed in place; zero-terminated
    std::unique_ptr<NodeArena> m_arena;  // outlives m_doc, whose blocks it holds
    std::unique_ptr<rapidxml::xml_document<wchar_t>> m_doc;
};

// The first child element named exactly szName, or nullptr.
XmlNode* FindChild(const XmlNode* pNode, const wchar_t* szName);
// Text directly inside the first child named szName; empty when there is none.
std::wstring ChildText(const XmlNode* pNode, const wchar_t* szName, bool* pbFound = nullptr);

// Decimal text as the C library reads it: leading white space, optional sign, digits up to
// the first other character; no digits give 0; values beyond the type's range are clamped.
int64_t ParseInt64(std::wstring_view szText);
int32_t ParseInt32(std::wstring_view szText);

// Last component of a path or address (split at '/' or '\'), name plus extension.
std::wstring LastPathComponent(std::wstring_view szPath);
// The same as a view into szPath.
std::wstring_view LastPathComponentView(std::wstring_view szPath);

// Upper case as the string class's MakeUpper does it.
std::wstring ToUpperText(std::wstring_view szText);

// Item readers: the record with its defaults, filled from the item's field elements.
// No folder tokens are resolved here.
UpdateItem ReadUpdateItem(const XmlNode* pItem);
// The item's "Deltas" element: each child is one delta entry (at most kMaxDeltasPerItem), read
// like an item's fields; an entry without an address, a size or both hashes is left out.
void ReadDeltaEntries(const XmlNode* pItem, DeltaList* pDeltas);
// Where a file item installs its file (Folder and OriFileName as ReadUpdateItem reads them),
// as views into the document.
struct FileItemPlace {
    std::wstring_view Folder;
    std::wstring_view OriFileName;
};
FileItemPlace ReadFileItemPlace(const XmlNode* pItem);
RegistItem ReadRegistItem(const XmlNode* pItem);
// The Skin entry under the root.
SkinItem ReadSkinItem(const XmlNode* pSkin);
ShortcutItem ReadShortcutItem(const XmlNode* pItem);
FirewallItem ReadFirewallItem(const XmlNode* pItem);

// Refuses (as a parse error at the offending place) text that would nest deeper or hold more
// nodes than the limits allow, or whose character references the parser would misread.
// Mirrors the parser's reading of the text without building anything.
void CheckManifestBounds(const wchar_t* szText, size_t nMaxDepth = ManifestLimits::kMaxDepth,
                         size_t nMaxNodes = ManifestLimits::kMaxNodes);

}  // namespace UpDater
