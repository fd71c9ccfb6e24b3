#include "orvo-publish/Publisher.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "manifest/ManifestXml.h"
#include "manifest/ReleaseCheck.h"
#include "orvo-publish/DeltaMaker.h"
#include "orvo-publish/DeltaSources.h"
#include "orvo-publish/ManifestWriter.h"
#include "orvo-publish/NewFile.h"
#include "orvo-publish/PackageWriter.h"
#include "orvo-publish/ReleaseConfig.h"
#include "orvo-publish/SkinPackage.h"
#include "platform/strings.h"
#include "trust/Minisign.h"
#include "trust/TrustedKeys.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

using platform::FromUtf8;
using platform::ToUtf8;

constexpr uint64_t kMaxKeyFile = 64 * 1024;

// SOURCE_DATE_EPOCH, when set, fixes every time the release records.
std::optional<time_t> SourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == 0) return std::nullopt;
    const auto n = UpDater::ParseSequence(FromUtf8(text));
    if (!n) throw InputError(std::string("SOURCE_DATE_EPOCH: '") + text + "' is not a number of seconds");
    return static_cast<time_t>(*n);
}

std::string ReadSmall(const std::string& path, uint64_t limit, const char* what) {
    std::string text;
    switch (trust::ReadBoundedFile(FromUtf8(path), limit, text)) {
        case trust::ReadResult::Ok: return text;
        case trust::ReadResult::Missing: throw InputError(path + ": no such " + what);
        case trust::ReadResult::TooLarge: throw InputError(path + ": too large for a " + what);
        default: throw InputError(path + ": cannot read the " + what);
    }
}

// Writes a new file; never replaces one (keys and signatures are not overwritten by accident).
void WriteNew(const std::string& path, const std::string& data, mode_t mode) { WriteNewFile(path, data, mode); }

std::string Hex(const std::string& text) {
    trust::crypto::Sha256 sha;
    sha.Update({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    return sha.FinalHex();
}

struct SourceFile {
    fs::path path;
    std::string rel;  // '/'-separated, from the build folder
    uint32_t mode = 0;
    time_t mtime = 0;
    // Filled by packing:
    std::string sha256, address;
    uint64_t size = 0, packageSize = 0;
    // The package's file name in pkg/<address>/: what a person sees while it downloads.
    std::string packageName;
};

// Each package is named after its file, so that the progress names what it fetches. Clients
// download every package of a release into one folder by that name: a name that two files of
// the release share (in any letter case) takes the file's path, '/' made '_', instead.
void NamePackages(std::vector<SourceFile>& files) {
    auto folded = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::map<std::string, int> uses;
    for (const auto& f : files) ++uses[folded(f.path.filename().string())];
    for (auto& f : files) {
        std::string name = f.path.filename().string();
        if (uses[folded(name)] > 1) {
            name = f.rel;
            std::replace(name.begin(), name.end(), '/', '_');
        }
        f.packageName = name + ".zip";
    }
}

// A package's address below the release's base: its name percent-encoded as one path segment.
std::string PackageUrlPath(const SourceFile& f) {
    std::string out = "/pkg/" + f.address + "/";
    for (unsigned char c : f.packageName) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::vector<SourceFile> ScanBuildFolder(const std::string& from) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(from, ec))) throw InputError(from + ": not a folder");
    std::vector<SourceFile> files;
    fs::recursive_directory_iterator it(from, fs::directory_options::none, ec), end;
    if (ec) throw InputError(from + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec) throw InputError(from + ": " + ec.message());
        const fs::path& p = it->path();
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) throw InputError(p.string() + ": " + std::strerror(errno));
        if (S_ISDIR(st.st_mode)) continue;
        // A link could point anywhere on the publishing machine: say so rather than follow it.
        if (S_ISLNK(st.st_mode)) throw InputError(p.string() + ": a symbolic link; publish the file itself");
        if (!S_ISREG(st.st_mode)) throw InputError(p.string() + ": not a regular file");
        SourceFile f;
        f.path = p;
        f.rel = p.lexically_relative(from).generic_string();
        f.mode = st.st_mode & 0777;
        f.mtime = st.st_mtime;
        f.size = static_cast<uint64_t>(st.st_size);
        if (f.rel.find_first_of("\\:*?\"<>|") != std::string::npos)
            throw InputError(p.string() + ": the name holds a character Windows cannot install (\\ : * ? \" < > |)");
        files.push_back(std::move(f));
    }
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.rel < b.rel; });
    if (files.empty()) throw InputError(from + ": no file to publish");
    return files;
}

// Packs one file into dir/pkg/<address>/<package name>; the address depends only on what the
// package holds, so an unchanged file keeps its package and its address from release to release.
void Pack(SourceFile& f, const std::string& entryName, const std::string& dir, std::optional<time_t> epoch, int slot) {
    const auto sha = trust::Sha256OfFile(FromUtf8(f.path.string()));
    if (!sha) throw InputError(f.path.string() + ": cannot read");
    f.sha256 = *sha;
    f.address = Hex(f.sha256 + '\0' + entryName + '\0' + std::to_string(f.mode)).substr(0, 32);
    PackageInput in;
    in.source = f.path.string();
    in.entryName = entryName;
    in.mode = f.mode;
    in.mtime = std::max(kZipEpoch, epoch ? std::min(*epoch, f.mtime) : f.mtime);
    const std::string folder = dir + "/pkg/" + f.address;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw InputError(folder + ": " + ec.message());
    const std::string zip = folder + "/" + f.packageName;
    const std::string temp = zip + "." + std::to_string(slot);
    WritePackage(in, temp);
    struct stat st {};
    if (::stat(temp.c_str(), &st) != 0 || ::rename(temp.c_str(), zip.c_str()) != 0)
        throw InputError(zip + ": cannot write the package (" + std::strerror(errno) + ")");
    f.packageSize = static_cast<uint64_t>(st.st_size);
    // The file may have changed while it was read: hash and size must describe what was packed.
    struct stat after {};
    if (::stat(f.path.c_str(), &after) != 0 || static_cast<uint64_t>(after.st_size) != f.size || after.st_mtime != f.mtime)
        throw InputError(f.path.string() + ": changed while it was published");
}

void PackAll(std::vector<SourceFile>& files, const std::string& dir, std::optional<time_t> epoch) {
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::string firstError;
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            try {
                Pack(files[i], files[i].path.filename().string(), dir, epoch, static_cast<int>(i));
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> g(lock);
                if (firstError.empty()) firstError = e.what();
                next = files.size();
            }
        }
    };
    const size_t n = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
    std::vector<std::thread> threads;
    for (size_t t = 1; t < std::min(n, files.size()); ++t) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    if (!firstError.empty()) throw InputError(firstError);
}

std::wstring FolderFor(const ReleaseConfig& cfg, const std::string& rel) {
    const size_t slash = rel.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : rel.substr(0, slash);
    // The longest mapped folder that holds the file decides its token.
    std::string best;
    bool found = false;
    for (const auto& [sub, folder] : cfg.folders) {
        if (sub.empty() || dir == sub || dir.starts_with(sub + "/")) {
            if (!found || sub.size() > best.size()) best = sub;
            found = true;
        }
    }
    std::wstring folder = cfg.folders.at(best);
    std::string rest = dir.substr(std::min(dir.size(), best.empty() ? 0 : best.size() + 1));
    if (!rest.empty()) {
        std::replace(rest.begin(), rest.end(), '/', '\\');
        folder += L"\\" + FromUtf8(rest);
    }
    return folder;
}

bool IsComponent(const ReleaseConfig& cfg, const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return std::find(cfg.componentExtensions.begin(), cfg.componentExtensions.end(), FromUtf8(ext)) != cfg.componentExtensions.end();
}

struct Previous {
    std::string folder;  // the release folder the manifest lies in
    UpDater::UpdateList files;
    uint64_t sequence = 0;
};

Previous ReadPrevious(const std::string& path) {
    static const UpDater::ManifestLoadLines kLines{L"Previous", 1, 2, 3, 4};
    UpDater::CManifestDocument doc;
    if (!fs::is_regular_file(path)) throw InputError(path + ": no such manifest");
    if (!doc.Load(FromUtf8(path), kLines) || doc.Root() == nullptr) throw InputError(path + ": not a readable manifest");
    Previous prev;
    prev.folder = fs::path(path).parent_path().string();
    if (prev.folder.empty()) prev.folder = ".";
    if (const auto* section = UpDater::FindChild(doc.Root(), L"UpdateData"))
        for (auto* node = section->first_node(); node != nullptr; node = node->next_sibling())
            prev.files.push_back(UpDater::ReadUpdateItem(node));
    const auto seq = UpDater::ReadSequence(doc.Root());
    if (!seq) throw InputError(path + ": its Sequence is not a number");
    prev.sequence = *seq;
    return prev;
}

// The updater's own pairing: same file name and folder; fetched again unless hash, address
// (any letter case) and size are all the same.
UpdateSummary Compare(const UpDater::UpdateList& previous, const UpDater::UpdateList& files) {
    std::multimap<std::wstring, const UpDater::UpdateItem*> old;
    for (const auto& item : previous) old.emplace(item.OriFileName + L'\n' + item.Folder, &item);
    UpdateSummary s;
    s.files = files.size();
    for (const auto& item : files) {
        const auto it = old.find(item.OriFileName + L'\n' + item.Folder);
        const std::wstring oldHash = it != old.end() ? it->second->FileHash : std::wstring();
        const bool same = it != old.end() && it->second->FileHash == item.FileHash &&
                          platform::EqualsNoCase(it->second->DownloadUrl, item.DownloadUrl) && it->second->FileSize == item.FileSize;
        if (it != old.end()) old.erase(it);
        if (!same) {
            ++s.download;
            s.downloadBytes += static_cast<uint64_t>(item.PackageSize);
            uint64_t fetched = static_cast<uint64_t>(item.PackageSize);
            for (const auto& d : item.Deltas)
                if (!oldHash.empty() && d.BaseFileHash == oldHash) fetched = std::min(fetched, static_cast<uint64_t>(d.Size));
            s.deltaBytes += fetched;
        }
    }
    s.removed = old.size();
    return s;
}

// Deltas for each changed file from the earlier versions the sources hold, in parallel (each
// delta holds both versions in memory; making one is the slow part of a release).
void AddDeltas(UpDater::UpdateList& items, const std::vector<SourceFile>& files, const Previous* previous, const DeltaSources& sources,
               const std::string& dir, const std::string& base) {
    std::multimap<std::wstring, const UpDater::UpdateItem*> old;
    if (previous != nullptr)
        for (const auto& item : previous->files) old.emplace(item.OriFileName + L'\n' + item.Folder, &item);
    std::vector<const UpDater::UpdateItem*> before(items.size(), nullptr);
    for (size_t i = 0; i < items.size(); ++i) {
        const auto it = old.find(items[i].OriFileName + L'\n' + items[i].Folder);
        if (it != old.end()) {
            before[i] = it->second;
            old.erase(it);
        }
    }
    std::error_code ec;
    fs::create_directory(dir + "/delta", ec);
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::string firstError;
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < items.size();) {
            try {
                const auto bases = FindDeltaBases(sources, before[i], files[i].rel, files[i].sha256);
                items[i].Deltas = MakeDeltas(bases, {files[i].path.string(), files[i].sha256, files[i].packageSize}, dir, base);
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> g(lock);
                if (firstError.empty()) firstError = e.what();
                next = items.size();
            }
        }
    };
    const size_t n = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
    std::vector<std::thread> threads;
    for (size_t t = 1; t < std::min(n, items.size()); ++t) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    if (!firstError.empty()) throw InputError(firstError);
    fs::remove(dir + "/delta", ec);  // only when no delta was kept
}

std::string TrustedComment(time_t when, const std::string& file) {
    return "timestamp:" + std::to_string(static_cast<long long>(when)) + "\tfile:" + file + "\thashed";
}

std::string SignatureFor(const std::string& data, const std::string& keyFile, const std::string& comment) {
    std::string why;
    const auto key = trust::ParseSecretKeyFile(ReadSmall(keyFile, kMaxKeyFile, "secret key file"), &why);
    if (!key) throw InputError(keyFile + ": " + why);
    const trust::crypto::ByteView bytes{reinterpret_cast<const uint8_t*>(data.data()), data.size()};
    const auto sig = trust::Sign(bytes, *key, comment);
    if (!sig) throw InputError(keyFile + ": cannot sign with this key");
    // The secret key carries its public half: check the signature before anyone relies on it.
    trust::PublicKey pub;
    pub.id = key->id;
    std::copy(key->key.begin() + 32, key->key.end(), pub.key.begin());
    if (!trust::Verify(bytes, *sig, pub, &why)) throw InputError(keyFile + ": the key is damaged (" + why + ")");
    return trust::FormatSignatureFile(*sig);
}

class TempFolder {
public:
    explicit TempFolder(const std::string& out) {
        const fs::path target = fs::absolute(out);
        std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".partial-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw InputError(target.parent_path().string() + ": cannot create a folder there (" + std::strerror(errno) + ")");
        m_path = pattern;
    }
    ~TempFolder() {
        if (!m_path.empty()) {
            std::error_code ec;
            fs::remove_all(m_path, ec);
        }
    }
    const std::string& path() const { return m_path; }
    void Keep() { m_path.clear(); }

private:
    std::string m_path;
};

}  // namespace

void BuildRelease(const BuildOptions& o, std::ostream& report) {
    const ReleaseConfig cfg = ReadReleaseConfig(o.config);
    std::string base = o.baseUrl.empty() ? cfg.baseUrl : o.baseUrl;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (!base.starts_with("http://") && !base.starts_with("https://"))
        throw InputError(o.config + ": release.base_url (or --base-url) must be an http or https address, not '" + base + "'");
    std::error_code ec;
    if (!o.dryRun && fs::exists(fs::symlink_status(o.out, ec)))
        throw InputError(o.out + ": already exists; a release goes to a new folder");
    const std::optional<Previous> previous = o.previous.empty() ? std::nullopt : std::optional(ReadPrevious(o.previous));
    const auto epoch = SourceDateEpoch();
    // Refused before any work: releases that no updater would accept, or that protect nothing.
    if (!cfg.expires.empty() && !o.allowExpired && *UpDater::ParseUtcTime(FromUtf8(cfg.expires)) <= std::time(nullptr))
        throw InputError(o.config + ": release.expires " + cfg.expires +
                         " is already past, so every updater would refuse the release (give a later date, or "
                         "--allow-expired to publish it anyway)");
    if (o.firstRelease && (previous || cfg.sequence))
        throw InputError("--first-release cannot go with --previous or release.sequence");
    if (!o.key.empty() && !previous && !cfg.sequence && !o.firstRelease)
        throw InputError("a signed release needs a sequence above the previous release's, or updaters cannot tell an old "
                         "release sent again from a new one: give --previous with the last release's manifest, or "
                         "release.sequence in " + o.config + ", or --first-release for the very first release");

    std::vector<SourceFile> files = ScanBuildFolder(o.from);
    TempFolder temp(o.out);
    fs::create_directory(temp.path() + "/pkg");
    NamePackages(files);
    PackAll(files, temp.path(), epoch);

    ReleaseManifest m;
    m.expires = cfg.expires;
    time_t newest = kZipEpoch;
    for (const auto& f : files) {
        UpDater::UpdateItem item;
        item.FileHash = FromUtf8(f.sha256);
        item.Sha256 = item.FileHash;
        item.DownloadUrl = FromUtf8(base + PackageUrlPath(f));
        item.OriFileName = FromUtf8(f.path.filename().string());
        item.FileSize = static_cast<int64_t>(f.size);
        item.PackageSize = static_cast<int64_t>(f.packageSize);
        item.RegCom = IsComponent(cfg, f.rel) ? 1 : 0;
        item.Folder = FolderFor(cfg, f.rel);
        m.files.push_back(std::move(item));
        newest = std::max(newest, f.mtime);
    }
    if (previous || !o.previousFiles.empty()) {
        DeltaSources sources{previous ? previous->folder : std::string(), o.previousFiles, o.deltaReleases};
        AddDeltas(m.files, files, previous ? &*previous : nullptr, sources, temp.path(), base);
    }
    if (!cfg.skinFile.empty()) {
        std::vector<SourceFile> skin(1);
        skin[0].path = cfg.skinFile;
        struct stat st {};
        if (::stat(cfg.skinFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw InputError(cfg.skinFile + ": no such skin file");
        skin[0].mode = st.st_mode & 0777;
        skin[0].mtime = st.st_mtime;
        skin[0].size = static_cast<uint64_t>(st.st_size);
        skin[0].packageName = skin[0].path.filename().string() + ".zip";
        Pack(skin[0], skin[0].path.filename().string(), temp.path(), epoch, -1);
        UpDater::SkinItem item;
        item.FileHash = FromUtf8(skin[0].sha256);
        item.DownloadUrl = FromUtf8(base + PackageUrlPath(skin[0]));
        item.OriFileName = FromUtf8(skin[0].path.filename().string());
        item.FileSize = static_cast<int64_t>(skin[0].size);
        // The package's own hash: the updater checks it before anything of it is unpacked.
        const auto packageSha = trust::Sha256OfFile(FromUtf8(temp.path() + "/pkg/" + skin[0].address + "/" + skin[0].packageName));
        if (!packageSha) throw InputError(cfg.skinFile + ": its package cannot be read");
        item.Sha256 = FromUtf8(*packageSha);
        item.PackageSize = static_cast<int64_t>(skin[0].packageSize);
        m.skin = item;
    }
    if (!cfg.skinFolder.empty()) m.skin = SkinItemOf(PackSkinFolder(cfg.skinFolder, temp.path(), epoch), base);
    m.registry.push_back(cfg.installEntry);
    m.registry.insert(m.registry.end(), cfg.registry.begin(), cfg.registry.end());
    m.shortcuts = cfg.shortcuts;
    m.firewall = cfg.firewall;
    m.sequence = cfg.sequence ? cfg.sequence : std::optional<uint64_t>(previous ? previous->sequence + 1 : 1);
    if (previous && *m.sequence <= previous->sequence)
        throw InputError(o.config + ": release.sequence " + std::to_string(*m.sequence) + " must be above the previous release's " +
                         std::to_string(previous->sequence));

    const std::string xml = FormatManifest(m);
    const std::string manifestPath = temp.path() + "/" + cfg.manifestName;
    WriteNew(manifestPath, xml, 0644);
    // What the updater reads must be what was meant: read it back with the updater's parser.
    {
        static const UpDater::ManifestLoadLines kLines{L"Publish", 1, 2, 3, 4};
        UpDater::CManifestDocument doc;
        size_t n = 0;
        const auto* section = doc.Load(FromUtf8(manifestPath), kLines) ? UpDater::FindChild(doc.Root(), L"UpdateData") : nullptr;
        for (auto* node = section ? section->first_node() : nullptr; node != nullptr; node = node->next_sibling()) ++n;
        if (n != m.files.size()) throw InputError(manifestPath + ": the written manifest does not read back");
    }
    if (!o.key.empty())
        WriteNew(manifestPath + ".sig", SignatureFor(xml, o.key, TrustedComment(epoch.value_or(newest), cfg.manifestName)), 0644);

    uint64_t bytes = 0, packageBytes = 0, deltaBytes = 0;
    size_t deltas = 0;
    for (const auto& f : m.files) {
        bytes += static_cast<uint64_t>(f.FileSize);
        packageBytes += static_cast<uint64_t>(f.PackageSize);
        deltas += f.Deltas.size();
        for (const auto& d : f.Deltas) deltaBytes += static_cast<uint64_t>(d.Size);
    }
    if (previous) {
        const UpdateSummary s = Compare(previous->files, m.files);
        report << "clients of the previous release download " << s.download << " of " << s.files << " files, "
               << s.downloadBytes << " bytes; " << s.removed << " files removed\n";
        report << "with deltas they fetch " << s.deltaBytes << " of those " << s.downloadBytes << " bytes\n";
    }
    if (o.dryRun) {
        report << "dry run: " << m.files.size() << " files, " << bytes << " bytes in " << packageBytes << " bytes of packages, "
               << deltas << " deltas of " << deltaBytes << " bytes; nothing written\n";
        return;
    }
    // Served as static files: readable by the web server, like any published folder.
    ::chmod(temp.path().c_str(), 0755);
    if (::rename(temp.path().c_str(), o.out.c_str()) != 0)
        throw InputError(o.out + ": cannot create the release folder (" + std::strerror(errno) + ")");
    temp.Keep();
    report << "published " << m.files.size() << " files (" << bytes << " bytes in " << packageBytes << " bytes of packages, "
           << deltas << " deltas of " << deltaBytes << " bytes), sequence "
           << *m.sequence << (o.key.empty() ? ", unsigned" : ", signed") << ", to " << o.out << "\n";
}

void MakeKeyPair(const std::string& base, std::ostream& report) {
    const auto pair = trust::GenerateKeyPair();
    if (!pair) throw InputError("cannot generate a key pair");
    // The secret key first, readable by its owner alone; neither file replaces an existing one.
    WriteNew(base + ".key", trust::FormatSecretKeyFile(pair->second), 0600);
    try {
        WriteNew(base + ".pub", trust::FormatPublicKeyFile(pair->first), 0644);
    } catch (...) {
        ::unlink((base + ".key").c_str());
        throw;
    }
    report << "secret key " << base << ".key (keep it private; it has no password)\n"
           << "public key " << base << ".pub: " << trust::PublicKeyLine(pair->first) << "\n"
           << "put the public key into trusted-keys.pub beside the updater, or, for the shared package,\n"
           << "install it as /etc/OrvoUpdaterService/trusted-keys.d/<vendor>.pub\n";
}

void SignFile(const std::string& file, const std::string& keyFile, const std::string& trustedComment, bool allowExpired, std::ostream& report) {
    const std::string data = ReadSmall(file, UpDater::ManifestLimits::kMaxFileBytes, "manifest");
    {
        // What the updaters will check once the signature holds.
        static const UpDater::ManifestLoadLines kLines{L"Sign", 1, 2, 3, 4};
        UpDater::CManifestDocument doc;
        if (!doc.Load(FromUtf8(file), kLines) || doc.Root() == nullptr) throw InputError(file + ": not a readable manifest");
        if (UpDater::ReadSequence(doc.Root()).value_or(1) == 0)
            throw InputError(file + ": has no Sequence, so updaters cannot tell an old release sent again from a new one (add "
                                    "<Sequence>N</Sequence> under the root, N above the last release's)");
        const int64_t now = allowExpired ? INT64_MIN : static_cast<int64_t>(std::time(nullptr));
        if (const std::wstring why = UpDater::CheckReleaseOrder(doc.Root(), 0, now); !why.empty())
            throw InputError(file + ": " + platform::ToUtf8(why) +
                             (allowExpired ? "" : " (--allow-expired signs an expired manifest anyway)"));
    }
    time_t when = std::time(nullptr);
    if (const auto epoch = SourceDateEpoch()) when = *epoch;
    const std::string comment = trustedComment.empty() ? TrustedComment(when, fs::path(file).filename().string()) : trustedComment;
    if (comment.find_first_of("\r\n") != std::string::npos) throw InputError("--trusted-comment must be one line");
    const std::string sig = SignatureFor(data, keyFile, comment);
    const std::string out = file + ".sig";
    std::error_code ec;
    fs::remove(out, ec);
    WriteNew(out, sig, 0644);
    report << "signed " << file << " -> " << out << "\n";
}

}  // namespace publish
