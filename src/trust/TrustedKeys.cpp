#include "trust/TrustedKeys.h"

#include <algorithm>

#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/strings.h"

#ifndef ORVO_TRUSTED_KEYS
#define ORVO_TRUSTED_KEYS ""
#endif

namespace trust {

namespace {

constexpr uint64_t kMaxKeyFile = 64 * 1024;

std::wstring Wide(std::string_view s) { return platform::FromUtf8(s); }

}  // namespace

void AddKeysFromText(std::string_view text, const std::wstring& origin, TrustedKeys& keys) {
    int nLine = 0;
    while (!text.empty()) {
        ++nLine;
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        // The build setting separates keys with ';' or blanks; a file has one per line.
        for (size_t start = 0; start <= line.size();) {
            size_t end = line.find_first_of("; \t\r", start);
            if (end == std::string_view::npos) end = line.size();
            const std::string_view word = line.substr(start, end - start);
            if (word.starts_with("#") || line.substr(start).starts_with("untrusted comment:")) break;
            if (!word.empty()) {
                std::string why;
                if (auto key = ParsePublicKey(word, &why))
                    keys.keys.push_back(*key);
                else if (keys.problem.empty())
                    keys.problem = platform::FormatW(L"%s line %d: %s", origin, nLine, Wide(why));
            }
            start = end + 1;
        }
    }
}

namespace {

// One key file; what cannot be read as keys leaves a problem that refuses every manifest.
void AddKeyFile(const std::wstring& path, TrustedKeys& keys) {
    std::string text;
    switch (ReadBoundedFile(path, kMaxKeyFile, text)) {
        case ReadResult::Ok: {
            const size_t before = keys.keys.size();
            AddKeysFromText(text, path, keys);
            // A key file that names no key at all is a mistake, not a wish to trust anything.
            if (keys.keys.size() == before && keys.problem.empty()) keys.problem = path + L": no key in the file";
            break;
        }
        case ReadResult::Missing:
            break;
        case ReadResult::TooLarge:
            if (keys.problem.empty()) keys.problem = path + L": too large for a key file";
            break;
        case ReadResult::Failed:
            if (keys.problem.empty()) keys.problem = path + L": cannot be read";
            break;
    }
}

// Each vendor's package drops its own file; a folder other users could add a file to trusts
// nothing.
void AddMachineKeyFiles(TrustedKeys& keys) {
    const auto folder = platform::GetMachineKeysFolder();
    if (!folder || !platform::PathExists(*folder)) return;
    if (platform::CheckFolderTrust(*folder) != platform::FolderTrust::Trusted) {
        if (keys.problem.empty()) keys.problem = *folder + L": may be changed by other users";
        return;
    }
    std::vector<std::wstring> names = platform::FindFiles(*folder + L"\\*.pub");
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names)
        if (name.size() > 4 && name.compare(name.size() - 4, 4, L".pub") == 0) AddKeyFile(*folder + L"\\" + name, keys);
}

}  // namespace

TrustedKeys LoadTrustedKeys(const std::wstring& szFolder) {
    TrustedKeys keys;
    AddKeysFromText(ORVO_TRUSTED_KEYS, L"built-in keys", keys);
    // A shared installation takes the machine's keys; a key file beside it is still honoured,
    // as only whoever may replace the updater can have put it there.
    if (platform::IsSystemFolder(szFolder)) AddMachineKeyFiles(keys);
    AddKeyFile(szFolder + L"\\" + kTrustedKeysFile, keys);
    if (!keys.keys.empty() && !crypto::Available() && keys.problem.empty())
        keys.problem = L"keys are trusted but this build cannot check signatures";
    return keys;
}

bool VerifyWithTrustedKeys(crypto::ByteView data, std::string_view sigText, const TrustedKeys& keys, std::wstring* pWhy) {
    auto fail = [pWhy](std::wstring why) {
        if (pWhy != nullptr) *pWhy = std::move(why);
        return false;
    };
    if (!keys.problem.empty()) return fail(keys.problem);
    if (keys.keys.empty()) return fail(L"no trusted key");
    std::string why;
    const auto sig = ParseSignatureFile(sigText, &why);
    if (!sig) return fail(L"bad signature file: " + Wide(why));
    for (const auto& key : keys.keys) {
        if (key.id != sig->id) continue;
        if (Verify(data, *sig, key, &why)) return true;
        return fail(Wide(why));
    }
    return fail(L"signed by key " + Wide(KeyIdText(sig->id)) + L", which is not trusted");
}

ReadResult ReadBoundedFile(const std::wstring& szPath, uint64_t nLimit, std::string& out) {
    out.clear();
    // A link that leads nowhere is not "no file": what cannot be read is a failure.
    if (!platform::EntryExists(szPath)) return ReadResult::Missing;
    platform::File file;
    if (file.Open(szPath, platform::File::Mode::Read) != 0) return ReadResult::Failed;
    char buffer[64 * 1024];
    for (;;) {
        const int64_t n = file.Read(buffer, sizeof buffer);
        if (n < 0) return ReadResult::Failed;
        if (n == 0) return ReadResult::Ok;
        if (out.size() + static_cast<uint64_t>(n) > nLimit) return ReadResult::TooLarge;
        out.append(buffer, static_cast<size_t>(n));
    }
}

std::optional<std::string> Sha256OfFile(const std::wstring& szPath) {
    if (!crypto::Available()) return std::nullopt;
    platform::File file;
    if (file.Open(szPath, platform::File::Mode::Read) != 0) return std::nullopt;
    crypto::Sha256 sha;
    std::vector<uint8_t> buffer(256 * 1024);
    for (;;) {
        const int64_t n = file.Read(buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        sha.Update({buffer.data(), static_cast<size_t>(n)});
    }
    return sha.FinalHex();
}

}  // namespace trust
