#include "ui/SkinLayoutReader.h"

#include <cwctype>
#include <map>
#include <set>

#include "manifest/ManifestXml.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace OrvoUi {

using platform::SkinLayout;
using UpDater::XmlNode;

namespace {

#include "default_skin.inc"

constexpr const wchar_t* kDefaultLayoutName = L"skin.xml";

// A refusal carried out of the nested readers; the sentence is what the debug line shows.
struct SkinFault {
    std::wstring why;
};

[[noreturn]] void Fail(std::wstring why) { throw SkinFault{std::move(why)}; }

bool IsPlainName(const std::wstring& s) {
    return !s.empty() && s != L"." && s != L".." && s.find_first_of(L"/\\:") == std::wstring::npos && s.find(L'\0') == std::wstring::npos;
}

bool EndsWithNoCase(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && platform::EqualsNoCase(std::wstring_view(s).substr(s.size() - tail.size()), tail);
}

class Reader {
public:
    Reader(const SkinFileSource& files, std::wstring layoutName) : m_files(files), m_layoutName(std::move(layoutName)) {}

    SkinLayout Read() {
        std::wstring why;
        auto bytes = m_files(m_layoutName, SkinLimits::kMaxLayoutBytes, &why);
        if (!bytes) Fail(why.empty() ? m_layoutName + L" is not in the skin" : why);
        m_total += bytes->size();
        auto text = platform::FromUtf8Strict(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        if (!text) Fail(m_layoutName + L" is not UTF-8 text");
        rapidxml::xml_document<wchar_t> doc;
        try {
            UpDater::CheckManifestBounds(text->c_str(), 16, 4096);
            doc.parse<0>(text->data());
        } catch (const rapidxml::parse_error& e) {
            Fail(m_layoutName + L" is not well-formed XML: " + platform::FromUtf8(e.what()));
        }
        const XmlNode* root = doc.first_node();
        if (root == nullptr || Name(root) != L"Skin") Fail(m_layoutName + L" does not start with a <Skin> element");
        m_where = L"<Skin>";
        CheckAttributes(root, {L"width", L"height", L"background"});
        m_layout.nWidth = Number(root, L"width", 1, SkinLimits::kMaxImageSide);
        m_layout.nHeight = Number(root, L"height", 1, SkinLimits::kMaxImageSide);
        m_layout.nBackground = Image(root, L"background");
        const auto& bg = m_layout.images[m_layout.nBackground];
        if (bg.nWidth != m_layout.nWidth || bg.nHeight != m_layout.nHeight)
            Fail(Here() + L"the background " + bg.strName + L" is " + Size(bg.nWidth, bg.nHeight) + L", the window " +
                 Size(m_layout.nWidth, m_layout.nHeight));

        for (const XmlNode* n = root->first_node(); n != nullptr; n = n->next_sibling()) {
            if (n->type() != rapidxml::node_element) continue;
            const std::wstring name = Name(n);
            m_where = L"<" + name + (Attr(n, L"name") ? L" name=\"" + *Attr(n, L"name") + L"\">" : L">");
            if (name == L"Title") ReadText(n, Once(m_layout.title), true);
            else if (name == L"Text") ReadText(n, Once(m_layout.texts.emplace_back()), true);
            else if (name == L"Percent") ReadText(n, Once(m_layout.percent), false);
            else if (name == L"Label") ReadText(n, Once(Named(n, m_layout.installLabel, m_layout.statesLabel)), false);
            else if (name == L"Bar") ReadBar(n, Once(Named(n, m_layout.install, m_layout.states)));
            else if (name == L"CloseButton") ReadButton(n, Once(m_layout.close));
            else Fail(m_layoutName + L": unknown element " + m_where);
        }
        m_where = L"<Skin>";
        if (!m_layout.install.bPresent || !m_layout.states.bPresent) Fail(Here() + L"both bars are needed (<Bar name=\"Install\"> and <Bar name=\"States\">)");
        if (!m_layout.installLabel.bPresent || !m_layout.statesLabel.bPresent)
            Fail(Here() + L"both labels are needed (<Label name=\"Install\"> and <Label name=\"States\">)");
        if (!m_layout.close.bPresent) Fail(Here() + L"a <CloseButton> is needed");
        return std::move(m_layout);
    }

private:
    static std::wstring Name(const XmlNode* n) { return std::wstring(n->name(), n->name_size()); }
    static std::wstring Size(int w, int h) { return std::to_wstring(w) + L" x " + std::to_wstring(h); }
    std::wstring Here() const { return m_layoutName + L": " + m_where + L": "; }

    static std::optional<std::wstring> Attr(const XmlNode* n, const wchar_t* name) {
        const auto* a = n->first_attribute(name);
        if (a == nullptr) return std::nullopt;
        return std::wstring(a->value(), a->value_size());
    }

    // A misspelt attribute would otherwise be dropped without a word.
    void CheckAttributes(const XmlNode* n, std::initializer_list<const wchar_t*> known) {
        for (const auto* a = n->first_attribute(); a != nullptr; a = a->next_attribute()) {
            const std::wstring name(a->name(), a->name_size());
            bool ok = false;
            for (const wchar_t* k : known) ok |= name == k;
            if (!ok) Fail(Here() + L"unknown attribute " + name);
        }
    }

    template <typename T>
    T& Once(T& item) {
        if (item.bPresent) Fail(Here() + L"given twice");
        item.bPresent = true;
        return item;
    }

    template <typename T>
    T& Named(const XmlNode* n, T& install, T& states) {
        const auto name = Attr(n, L"name");
        if (name == L"Install") return install;
        if (name == L"States") return states;
        Fail(Here() + L"name must be \"Install\" or \"States\"");
    }

    int Number(const XmlNode* n, const wchar_t* name, int min, int max, std::optional<int> fallback = std::nullopt) {
        const auto v = Attr(n, name);
        if (!v) {
            if (fallback) return *fallback;
            Fail(Here() + L"the attribute " + name + L" is missing");
        }
        int64_t value = 0;
        bool ok = !v->empty() && v->size() <= 6;
        for (wchar_t c : *v) {
            ok &= c >= L'0' && c <= L'9';
            value = value * 10 + (c - L'0');
        }
        if (!ok || value < min || value > max)
            Fail(Here() + name + L"=\"" + *v + L"\" is not a whole number from " + std::to_wstring(min) + L" to " + std::to_wstring(max));
        return static_cast<int>(value);
    }

    platform::SkinColor Color(const std::wstring& v, const wchar_t* name) {
        const auto hex = [](wchar_t c) -> int {
            if (c >= L'0' && c <= L'9') return c - L'0';
            c = static_cast<wchar_t>(std::towlower(c));
            return c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
        };
        if (v.size() != 7 && v.size() != 9) Fail(Here() + name + L"=\"" + v + L"\" is not a colour #rrggbb or #rrggbbaa");
        uint8_t part[4] = {0, 0, 0, 255};
        for (size_t i = 1; i < v.size(); i += 2) {
            const int hi = hex(v[i]), lo = hex(v[i + 1]);
            if (v[0] != L'#' || hi < 0 || lo < 0) Fail(Here() + name + L"=\"" + v + L"\" is not a colour #rrggbb or #rrggbbaa");
            part[i / 2] = static_cast<uint8_t>(hi * 16 + lo);
        }
        return {part[0], part[1], part[2], part[3]};
    }

    platform::SkinRect Rect(const XmlNode* n, std::optional<int> width = std::nullopt, std::optional<int> height = std::nullopt) {
        platform::SkinRect r;
        r.x = Number(n, L"x", 0, SkinLimits::kMaxImageSide);
        r.y = Number(n, L"y", 0, SkinLimits::kMaxImageSide);
        r.nWidth = Number(n, L"width", 1, SkinLimits::kMaxImageSide, width);
        r.nHeight = Number(n, L"height", 1, SkinLimits::kMaxImageSide, height);
        if (r.x + r.nWidth > m_layout.nWidth || r.y + r.nHeight > m_layout.nHeight)
            Fail(Here() + L"the rectangle " + std::to_wstring(r.x) + L"," + std::to_wstring(r.y) + L" " + Size(r.nWidth, r.nHeight) +
                 L" reaches outside the window (" + Size(m_layout.nWidth, m_layout.nHeight) + L")");
        return r;
    }

    // An image of the package by the name in the attribute, read and checked once.
    int Image(const XmlNode* n, const wchar_t* attr) {
        const auto v = Attr(n, attr);
        if (!v) Fail(Here() + L"the attribute " + attr + L" is missing");
        return ImageNamed(*v);
    }

    int ImageNamed(const std::wstring& name) {
        if (auto it = m_images.find(name); it != m_images.end()) return it->second;
        if (!IsPlainName(name) || !EndsWithNoCase(name, L".png")) Fail(Here() + L"\"" + name + L"\" is not the name of a .png file in the skin");
        platform::SkinImage img;
        img.strName = name;
        img.png = Load(name, false);
        if (!ReadPngSize(img.png, &img.nWidth, &img.nHeight)) Fail(Here() + name + L" is not a PNG image");
        CheckSide(name, img.nWidth, img.nHeight);
        // name@2x.png, when the skin has it, is drawn on screens scaled by two.
        const std::wstring name2x = name.substr(0, name.size() - 4) + L"@2x.png";
        img.png2x = Load(name2x, true);
        if (!img.png2x.empty()) {
            int w = 0, h = 0;
            if (!ReadPngSize(img.png2x, &w, &h)) Fail(Here() + name2x + L" is not a PNG image");
            CheckSide(name2x, w, h);
            if (w != 2 * img.nWidth || h != 2 * img.nHeight)
                Fail(Here() + name2x + L" is " + Size(w, h) + L", not twice " + name + L" (" + Size(img.nWidth, img.nHeight) + L")");
        }
        m_layout.images.push_back(std::move(img));
        const int index = static_cast<int>(m_layout.images.size()) - 1;
        m_images[name] = index;
        return index;
    }

    void CheckSide(const std::wstring& name, int w, int h) {
        if (w < 1 || h < 1 || w > SkinLimits::kMaxImageSide || h > SkinLimits::kMaxImageSide)
            Fail(Here() + name + L" is " + Size(w, h) + L", more than a skin image may be (" + Size(SkinLimits::kMaxImageSide, SkinLimits::kMaxImageSide) +
                 L")");
    }

    std::vector<uint8_t> Load(const std::wstring& name, bool bOptional) {
        if (bOptional && m_absent.count(name) != 0) return {};
        const uint64_t left = SkinLimits::kMaxSkinBytes - m_total;
        std::wstring why;
        auto bytes = m_files(name, left, &why);
        if (!bytes) {
            if (bOptional && why.empty()) {
                m_absent.insert(name);
                return {};
            }
            Fail(Here() + (why.empty() ? name + L" is not in the skin" : why));
        }
        m_total += bytes->size();
        return std::move(*bytes);
    }

    void ReadText(const XmlNode* n, platform::SkinText& t, bool bFixedText) {
        CheckAttributes(n, {L"name", L"x", L"y", L"width", L"height", L"size", L"weight", L"color", L"align", L"overflow", L"font"});
        t.rect = Rect(n);
        t.nSize = Number(n, L"size", 4, 512, 12);
        const auto weight = Attr(n, L"weight").value_or(L"normal");
        if (weight != L"normal" && weight != L"bold") Fail(Here() + L"weight must be \"normal\" or \"bold\"");
        t.bBold = weight == L"bold";
        t.color = Color(Attr(n, L"color").value_or(L"#000000"), L"color");
        const auto align = Attr(n, L"align").value_or(L"left");
        if (align == L"left") t.align = platform::SkinAlign::Left;
        else if (align == L"center") t.align = platform::SkinAlign::Center;
        else if (align == L"right") t.align = platform::SkinAlign::Right;
        else Fail(Here() + L"align must be \"left\", \"center\" or \"right\"");
        const auto overflow = Attr(n, L"overflow").value_or(L"ellipsis");
        if (overflow != L"ellipsis" && overflow != L"clip") Fail(Here() + L"overflow must be \"ellipsis\" or \"clip\"");
        t.bEllipsis = overflow == L"ellipsis";
        t.strFont = Attr(n, L"font").value_or(L"");
        if (bFixedText) {
            const wchar_t* v = n->value();
            t.strText.assign(v, n->value_size());
        } else if (n->value_size() != 0) {
            Fail(Here() + L"its text comes from the updater; the element must be empty");
        }
    }

    platform::SkinPaint Paint(const XmlNode* n, const wchar_t* attr, int border, int radius) {
        platform::SkinPaint p;
        const auto v = Attr(n, attr);
        if (!v) Fail(Here() + L"the attribute " + attr + L" is missing");
        if (!v->empty() && (*v)[0] == L'#') {
            p.color = Color(*v, attr);
            p.nRadius = radius;
        } else if (!EndsWithNoCase(*v, L".png")) {
            Fail(Here() + attr + L"=\"" + *v + L"\" is neither a colour (#rrggbb) nor a .png image");
        } else {
            p.nImage = ImageNamed(*v);
            p.nBorder = border;
            const auto& img = m_layout.images[p.nImage];
            if (2 * border > img.nWidth || 2 * border > img.nHeight)
                Fail(Here() + L"border=\"" + std::to_wstring(border) + L"\" leaves nothing of " + img.strName + L" to stretch");
        }
        return p;
    }

    void ReadBar(const XmlNode* n, platform::SkinBar& bar) {
        CheckAttributes(n, {L"name", L"x", L"y", L"width", L"height", L"track", L"fill", L"border", L"radius"});
        bar.rect = Rect(n);
        const int border = Number(n, L"border", 0, SkinLimits::kMaxImageSide, 0);
        const int radius = Number(n, L"radius", 0, SkinLimits::kMaxImageSide, 0);
        bar.track = Paint(n, L"track", border, radius);
        bar.fill = Paint(n, L"fill", border, radius);
    }

    void ReadButton(const XmlNode* n, platform::SkinButton& b) {
        CheckAttributes(n, {L"x", L"y", L"normal", L"hover", L"pressed"});
        b.nNormal = Image(n, L"normal");
        b.nHover = Attr(n, L"hover") ? Image(n, L"hover") : b.nNormal;
        b.nPressed = Attr(n, L"pressed") ? Image(n, L"pressed") : b.nHover;
        const auto& img = m_layout.images[b.nNormal];
        b.rect = Rect(n, img.nWidth, img.nHeight);
        for (int i : {b.nHover, b.nPressed}) {
            const auto& other = m_layout.images[i];
            if (other.nWidth != img.nWidth || other.nHeight != img.nHeight)
                Fail(Here() + other.strName + L" is " + Size(other.nWidth, other.nHeight) + L", " + img.strName + L" " + Size(img.nWidth, img.nHeight));
        }
        b.strCommand = L"btnClose";
    }

    const SkinFileSource& m_files;
    std::wstring m_layoutName;
    std::wstring m_where;
    SkinLayout m_layout;
    std::map<std::wstring, int> m_images;
    std::set<std::wstring> m_absent;
    uint64_t m_total = 0;
};

}  // namespace

bool ReadPngSize(const std::vector<uint8_t>& png, int* pWidth, int* pHeight) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 33) return false;
    for (int i = 0; i < 8; ++i)
        if (png[i] != kSignature[i]) return false;
    // The header chunk comes first and is 13 bytes long.
    if (png[8] != 0 || png[9] != 0 || png[10] != 0 || png[11] != 13 || png[12] != 'I' || png[13] != 'H' || png[14] != 'D' || png[15] != 'R')
        return false;
    const auto be32 = [&](size_t at) {
        return (uint32_t{png[at]} << 24) | (uint32_t{png[at + 1]} << 16) | (uint32_t{png[at + 2]} << 8) | uint32_t{png[at + 3]};
    };
    const uint32_t w = be32(16), h = be32(20);
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return false;
    *pWidth = static_cast<int>(w);
    *pHeight = static_cast<int>(h);
    return true;
}

std::optional<SkinLayout> ReadSkinLayout(const SkinFileSource& files, const std::wstring& szLayoutName, std::wstring* pszWhy) {
    try {
        return Reader(files, szLayoutName).Read();
    } catch (const SkinFault& f) {
        if (pszWhy != nullptr) *pszWhy = f.why;
        return std::nullopt;
    }
}

std::optional<SkinLayout> ReadSkinFolder(const std::wstring& szFolder, const std::wstring& szLayoutName, std::wstring* pszWhy) {
    const SkinFileSource source = [&](const std::wstring& name, uint64_t nMax, std::wstring* why) -> std::optional<std::vector<uint8_t>> {
        if (!IsPlainName(name)) {
            *why = L"\"" + name + L"\" is not a file of the skin folder";
            return std::nullopt;
        }
        const std::wstring path = platform::JoinPath(szFolder, name);
        // Absent stays silent (optional 2x images); anything else that is wrong is named.
        if (!platform::PathExists(path)) return std::nullopt;
        const auto size = platform::FileSize(path);
        if (!size || platform::IsDirectory(path)) {
            *why = name + L" cannot be read";
            return std::nullopt;
        }
        if (*size > nMax) {
            *why = name + L" makes the skin larger than " + std::to_wstring(SkinLimits::kMaxSkinBytes >> 20) + L" MiB";
            return std::nullopt;
        }
        auto bytes = platform::ReadWholeFile(path);
        if (!bytes || bytes->size() > nMax) {
            *why = name + L" cannot be read";
            return std::nullopt;
        }
        const auto* p = reinterpret_cast<const uint8_t*>(bytes->data());
        return std::vector<uint8_t>(p, p + bytes->size());
    };
    return ReadSkinLayout(source, szLayoutName, pszWhy);
}

SkinLayout DefaultSkinLayout() {
    const SkinFileSource source = [](const std::wstring& name, uint64_t, std::wstring*) -> std::optional<std::vector<uint8_t>> {
        for (const auto& f : kDefaultSkinFiles)
            if (name == f.szName) return std::vector<uint8_t>(f.pData, f.pData + f.nSize);
        return std::nullopt;
    };
    std::wstring why;
    auto layout = ReadSkinLayout(source, kDefaultLayoutName, &why);
    // The build checks the default skin with the same reader (its unit test); reaching this
    // would be a build that skipped it.
    if (!layout) return SkinLayout{};
    return std::move(*layout);
}

bool IsWebSkinPath(const std::wstring& szPath) { return EndsWithNoCase(szPath, L".html") || EndsWithNoCase(szPath, L".htm"); }

}  // namespace OrvoUi
