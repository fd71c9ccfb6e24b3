#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/strings.h"

namespace platform {

namespace {

std::string CodeSetName(unsigned nCodePage) {
    switch (nCodePage) {
        case CP_ACP: {
            const char* cs = nl_langinfo(CODESET);
            // The plain C/POSIX locale reports ASCII; text there is treated as UTF-8.
            if (cs == nullptr || *cs == '\0' || std::strcmp(cs, "ANSI_X3.4-1968") == 0 || std::strcmp(cs, "ASCII") == 0)
                return "UTF-8";
            return cs;
        }
        case CP_OEMCP: return "CP437";
        case CP_UTF8: return "UTF-8";
        case 949: return "CP949";
        case 932: return "CP932";
        case 936: return "CP936";
        case 950: return "CP950";
        default: return "CP" + std::to_string(nCodePage);
    }
}

std::optional<std::string> Convert(const std::string& from, const std::string& to, const char* in, size_t inLen) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    out.resize(inLen * 4 + 16);
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    size_t used = 0;
    bool ok = true;
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(used);
    return out;
}

}  // namespace

std::optional<std::wstring> MultiByteToWide(unsigned nCodePage, std::string_view szText) {
    const std::string cs = CodeSetName(nCodePage);
    if (cs == "UTF-8") return FromUtf8Strict(szText);
    auto utf8 = Convert(cs, "UTF-8", szText.data(), szText.size());
    if (!utf8) return std::nullopt;
    return FromUtf8(*utf8);
}

std::optional<std::string> WideToMultiByte(unsigned nCodePage, std::wstring_view szText) {
    const std::string utf8 = ToUtf8(szText);
    const std::string cs = CodeSetName(nCodePage);
    if (cs == "UTF-8") return utf8;
    return Convert("UTF-8", cs, utf8.data(), utf8.size());
}

}  // namespace platform
