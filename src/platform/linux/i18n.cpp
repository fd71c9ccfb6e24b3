#include "platform/i18n.h"

#include <libintl.h>
#include <sys/stat.h>

#include <mutex>

#include "platform/folders.h"
#include "platform/strings.h"

namespace platform {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The catalogs that came with this executable: beside it in a build tree or a zip, under
// share/locale when installed. Without either, gettext's own folder.
void BindCatalogs() {
    const auto exe = GetModuleFilePath();
    if (exe) {
        const std::string path = ToUtf8(*exe);
        const std::string folder = path.substr(0, path.find_last_of('/') + 1);
        for (const char* sub : {"locale", "../share/locale"}) {
            const std::string dir = folder + sub;
            if (IsFolder(dir)) {
                ::bindtextdomain(kTextDomain, dir.c_str());
                break;
            }
        }
    }
    ::bind_textdomain_codeset(kTextDomain, "UTF-8");
}

}  // namespace

std::wstring Translate(const wchar_t* szEnglish) {
    static std::once_flag bound;
    std::call_once(bound, BindCatalogs);
    const std::string msgid = ToUtf8(szEnglish);
    const char* text = ::dgettext(kTextDomain, msgid.c_str());
    if (text == nullptr || text == msgid.c_str()) return szEnglish;
    std::wstring translated = FromUtf8(text);
    if (!SameConversions(szEnglish, translated)) return szEnglish;
    return translated;
}

}  // namespace platform
