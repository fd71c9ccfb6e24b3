#include "RegCommand.h"

#include <istream>
#include <optional>
#include <ostream>

#include "platform/registry.h"
#include "platform/strings.h"

namespace OrvoReg {

using namespace platform;

namespace {

const char* const kOk = "The operation completed successfully.";
const char* const kNotFound = "ERROR: The system was unable to find the specified registry key or value.";

// Why a key could not be opened for writing or made: denied, the store's own fault (named), or
// what the verb says otherwise.
std::string KeyFailure(uint32_t nError, const char* szOtherwise) {
    if (nError == ERROR_ACCESS_DENIED_ || nError == ERROR_WRITE_PROTECT_) return "ERROR: Access is denied.";
    if (nError == ERROR_FILE_NOT_FOUND_ || nError == ERROR_PATH_NOT_FOUND_ || nError == ERROR_BAD_PATHNAME_) return szOtherwise;
    return "ERROR: The registry could not be read or written (" + platform::ErrorName(nError) + ").";
}
const char* const kCanceled = "The operation was canceled by the user.";

struct Options {
    std::wstring verb;
    uint32_t root = 0;
    std::wstring keyPath;   // below the root
    std::wstring keyShown;  // as printed: long root name + path
    std::optional<std::wstring> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                 // /va
    bool recurse = false;                   // /s
    bool force = false;                     // /f
    std::optional<std::wstring> type;       // /t
    std::optional<std::wstring> data;       // /d
};

std::string U8(const std::wstring& w) { return ToUtf8(w); }

bool ParseKey(const std::wstring& text, Options& o) {
    const size_t sep = text.find(L'\\');
    const std::wstring rootName = text.substr(0, sep);
    auto root = ParseRootKeyName(rootName);
    if (!root) return false;
    o.root = *root;
    o.keyPath = sep == std::wstring::npos ? L"" : TrimRight(text.substr(sep + 1), L"\\");
    o.keyShown = RootKeyName(o.root) + (o.keyPath.empty() ? L"" : L"\\" + o.keyPath);
    return true;
}

std::string Usage() {
    return "ERROR: Invalid syntax.\n"
           "Usage: orvo-reg query KEY [/v NAME | /ve] [/s]\n"
           "       orvo-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
           "       orvo-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "KEY starts with HKLM, HKCU, HKCR, HKU or HKCC (or their long names).";
}

std::optional<Options> ParseArgs(const std::vector<std::wstring>& args, std::string& why) {
    if (args.size() < 2) {
        why = Usage();
        return std::nullopt;
    }
    Options o;
    o.verb = ToLower(args[0]);
    if (o.verb != L"query" && o.verb != L"add" && o.verb != L"delete") {
        why = Usage();
        return std::nullopt;
    }
    if (!ParseKey(args[1], o)) {
        why = "ERROR: Invalid key name.\nType \"orvo-reg " + U8(o.verb) + " /?\" for usage.";
        return std::nullopt;
    }
    for (size_t i = 2; i < args.size(); ++i) {
        const std::wstring sw = ToLower(args[i]);
        auto next = [&](std::optional<std::wstring>& slot) {
            if (i + 1 >= args.size() || slot) return false;
            slot = args[++i];
            return true;
        };
        bool ok = true;
        if (sw == L"/v" || sw == L"-v") {
            ok = next(o.valueName);
        } else if (sw == L"/ve" || sw == L"-ve") {
            ok = !o.valueName;
            o.valueName = L"";
        } else if (sw == L"/va" || sw == L"-va") {
            o.allValues = true;
        } else if (sw == L"/s" || sw == L"-s") {
            o.recurse = true;
        } else if (sw == L"/f" || sw == L"-f") {
            o.force = true;
        } else if (sw == L"/t" || sw == L"-t") {
            ok = next(o.type);
        } else if (sw == L"/d" || sw == L"-d") {
            ok = next(o.data);
        } else {
            ok = false;
        }
        if (!ok) {
            why = "ERROR: Invalid syntax.\nType \"orvo-reg " + U8(o.verb) + " /?\" for usage.";
            return std::nullopt;
        }
    }
    const bool isQuery = o.verb == L"query", isAdd = o.verb == L"add", isDelete = o.verb == L"delete";
    if ((o.allValues && (!isDelete || o.valueName)) || (o.recurse && !isQuery) || ((o.type || o.data) && !isAdd) ||
        (o.force && isQuery)) {
        why = "ERROR: Invalid syntax.\nType \"orvo-reg " + U8(o.verb) + " /?\" for usage.";
        return std::nullopt;
    }
    return o;
}

std::string TypeName(uint32_t type) {
    switch (type) {
        case REG_SZ_: return "REG_SZ";
        case REG_EXPAND_SZ_: return "REG_EXPAND_SZ";
        case REG_BINARY_: return "REG_BINARY";
        case REG_DWORD_: return "REG_DWORD";
        case REG_MULTI_SZ_: return "REG_MULTI_SZ";
        case REG_NONE_: return "REG_NONE";
        default: return "REG_UNKNOWN";
    }
}

std::string FormatData(const RegValue& v) {
    switch (v.type) {
        case REG_SZ_:
        case REG_EXPAND_SZ_: return U8(DecodeRegString(v.data));
        case REG_DWORD_: {
            auto n = DecodeRegDword(v.data);
            return n ? U8(FormatW(L"0x%x", *n)) : std::string();
        }
        case REG_MULTI_SZ_: {
            // Strings separated by "\0" as the Windows tool prints them.
            std::string out;
            std::span<const std::byte> rest(v.data);
            while (rest.size() >= 2) {
                const std::wstring s = DecodeRegString(rest);
                if (s.empty()) break;
                if (!out.empty()) out += "\\0";
                out += U8(s);
                const size_t used = EncodeRegString(s).size();
                rest = rest.subspan(used < rest.size() ? used : rest.size());
            }
            return out;
        }
        default: {
            std::string out;
            for (std::byte b : v.data) out += U8(FormatW(L"%02X", static_cast<unsigned>(b)));
            return out;
        }
    }
}

void PrintValue(std::ostream& out, const RegValue& v) {
    const std::string name = v.name.empty() ? "(Default)" : U8(v.name);
    out << "    " << name << "    " << TypeName(v.type) << "    " << FormatData(v) << "\n";
}

bool Confirm(std::istream& in, std::ostream& out, const std::string& question) {
    out << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) return false;
    const std::wstring a = ToLower(FromUtf8(answer));
    return a == L"y" || a == L"yes";
}

int QueryKeyTree(const Options& o, const std::wstring& path, const std::wstring& shown, std::ostream& out, int& matches) {
    RegKey key;
    if (RegKey::Open(o.root, path, RegAccess::Read, key) != 0) return 1;
    out << "\n" << U8(shown) << "\n";
    for (const auto& v : key.Values()) {
        PrintValue(out, v);
        ++matches;
    }
    const auto subkeys = key.SubKeys();
    if (!o.recurse) {
        if (!key.Values().empty()) out << "\n";
        for (const auto& s : subkeys) out << U8(shown) << "\\" << U8(s) << "\n";
        return 0;
    }
    for (const auto& s : subkeys) {
        const std::wstring childPath = path.empty() ? s : path + L"\\" + s;
        QueryKeyTree(o, childPath, shown + L"\\" + s, out, matches);
    }
    return 0;
}

int Query(const Options& o, std::ostream& out, std::ostream& err) {
    RegKey key;
    if (RegKey::Open(o.root, o.keyPath, RegAccess::Read, key) != 0) {
        err << kNotFound << "\n";
        return 1;
    }
    if (o.valueName) {
        RegValue v;
        if (key.QueryValue(*o.valueName, v) != 0) {
            err << kNotFound << "\n";
            return 1;
        }
        out << "\n" << U8(o.keyShown) << "\n";
        PrintValue(out, v);
        out << "\n";
        return 0;
    }
    int matches = 0;
    QueryKeyTree(o, o.keyPath, o.keyShown, out, matches);
    if (o.recurse) out << "\nEnd of search: " << matches << " match(es) found.\n";
    return 0;
}

std::optional<std::vector<std::byte>> EncodeData(const Options& o, uint32_t type, std::string& why) {
    const std::wstring data = o.data.value_or(L"");
    if (type == REG_DWORD_) {
        std::wstring digits = data.empty() ? L"0" : data;
        int base = 10;
        if (digits.size() > 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X')) {
            base = 16;
            digits = digits.substr(2);
        }
        uint64_t value = 0;
        for (wchar_t c : digits) {
            int d = -1;
            if (c >= L'0' && c <= L'9') d = c - L'0';
            else if (base == 16 && c >= L'a' && c <= L'f') d = c - L'a' + 10;
            else if (base == 16 && c >= L'A' && c <= L'F') d = c - L'A' + 10;
            if (d < 0 || (value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d)) > 0xFFFFFFFFull) {
                why = "ERROR: Invalid syntax. Specify valid numeric value for /d.";
                return std::nullopt;
            }
        }
        return EncodeRegDword(static_cast<uint32_t>(value));
    }
    return EncodeRegString(data);
}

int Add(const Options& o, std::istream& in, std::ostream& out, std::ostream& err) {
    uint32_t type = REG_SZ_;
    if (o.type) {
        const std::wstring t = ToLower(*o.type);
        if (t == L"reg_sz") type = REG_SZ_;
        else if (t == L"reg_dword") type = REG_DWORD_;
        else {
            err << "ERROR: Invalid syntax. Only REG_SZ and REG_DWORD are supported for /t.\n";
            return 1;
        }
    }
    std::string why;
    auto bytes = EncodeData(o, type, why);
    if (!bytes) {
        err << why << "\n";
        return 1;
    }
    RegKey key;
    if (uint32_t e = RegKey::Create(o.root, o.keyPath, key)) {
        err << KeyFailure(e, "ERROR: The registry could not be written.") << "\n";
        return 1;
    }
    if (!o.valueName && !o.data && !o.type) {  // key only
        out << kOk << "\n";
        return 0;
    }
    const std::wstring name = o.valueName.value_or(L"");
    RegValue existing;
    if (!o.force && key.QueryValue(name, existing) == 0 &&
        !Confirm(in, out, "Value " + (name.empty() ? std::string("(Default)") : U8(name)) + " exists, overwrite")) {
        out << kCanceled << "\n";
        return 1;
    }
    if (key.SetValue(name, type, *bytes) != 0) {
        err << "ERROR: The registry could not be written.\n";
        return 1;
    }
    out << kOk << "\n";
    return 0;
}

int Delete(const Options& o, std::istream& in, std::ostream& out, std::ostream& err) {
    RegKey key;
    if (uint32_t e = RegKey::Open(o.root, o.keyPath, RegAccess::Write, key)) {
        err << KeyFailure(e, kNotFound) << "\n";
        return 1;
    }
    if (o.valueName) {
        RegValue v;
        if (key.QueryValue(*o.valueName, v) != 0) {
            err << kNotFound << "\n";
            return 1;
        }
        const std::string shown = o.valueName->empty() ? "(Default)" : U8(*o.valueName);
        if (!o.force && !Confirm(in, out, "Delete the registry value " + shown)) {
            out << kCanceled << "\n";
            return 1;
        }
        if (key.DeleteValue(*o.valueName) != 0) {
            err << kNotFound << "\n";
            return 1;
        }
    } else if (o.allValues) {
        if (!o.force && !Confirm(in, out, "Delete all values under the registry key " + U8(o.keyShown))) {
            out << kCanceled << "\n";
            return 1;
        }
        for (const auto& v : key.Values()) key.DeleteValue(v.name);
    } else {
        if (!o.force && !Confirm(in, out, "Permanently delete the registry key " + U8(o.keyShown))) {
            out << kCanceled << "\n";
            return 1;
        }
        key.Close();
        if (o.keyPath.empty()) {
            err << "ERROR: Deleting a root key is not allowed.\n";
            return 1;
        }
        if (RegKey::DeleteTree(o.root, o.keyPath) != 0) {
            err << kNotFound << "\n";
            return 1;
        }
    }
    out << kOk << "\n";
    return 0;
}

}  // namespace

int RunRegCommand(const std::vector<std::wstring>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    std::string why;
    auto options = ParseArgs(args, why);
    if (!options) {
        err << why << "\n";
        return 1;
    }
    if (options->verb == L"query") return Query(*options, out, err);
    if (options->verb == L"add") return Add(*options, in, out, err);
    return Delete(*options, in, out, err);
}

}  // namespace OrvoReg
