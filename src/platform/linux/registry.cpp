#include "platform/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/debug.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/linux/posix_util.h"
#include "platform/strings.h"

namespace platform {

namespace {


// Empty when the user's hive has no home to live in.
std::string HiveFolder(uint32_t hRoot) {
    if (hRoot == RootCurrentUser) {
        if (auto cfg = posix::AbsoluteEnv("XDG_CONFIG_HOME")) return *cfg + "/orvo/registry";
        if (auto home = posix::HomeFolder()) return (*home == "/" ? std::string() : *home) + "/.config/orvo/registry";
        return std::string();
    }
    return posix::SysRoot() + "/var/lib/orvo/registry";
}

std::optional<std::string> HiveFile(uint32_t hRoot) {
    const std::string folder = HiveFolder(hRoot);
    if (folder.empty()) return std::nullopt;
    switch (hRoot) {
        case RootClassesRoot: return folder + "/HKCR.db";
        case RootCurrentUser: return folder + "/HKCU.db";
        case RootLocalMachine: return folder + "/HKLM.db";
        case RootUsers: return folder + "/HKU.db";
        case RootCurrentConfig: return folder + "/HKCC.db";
        default: return std::nullopt;
    }
}

// Key paths are stored without leading/trailing separators; empty components are refused.
std::optional<std::string> NormalizeKeyPath(const std::wstring& szPath) {
    auto p = NormalizeRegKeyPath(szPath);
    if (!p) return std::nullopt;
    return ToUtf8(*p);
}

std::string ParentOf(const std::string& path) {
    const auto pos = path.find_last_of('\\');
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}

std::string LeafOf(const std::string& path) {
    const auto pos = path.find_last_of('\\');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

// A prepared statement that finalizes itself.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return m_stmt != nullptr; }
    Stmt& Bind(int i, const std::string& s) {
        sqlite3_bind_text(m_stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, int64_t v) {
        sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    Stmt& BindBlob(int i, std::span<const std::byte> data) {
        // An empty blob must still be a blob, not NULL.
        static const char empty = 0;
        const void* p = data.empty() ? static_cast<const void*>(&empty) : static_cast<const void*>(data.data());
        sqlite3_bind_blob(m_stmt, i, p, static_cast<int>(data.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int Step() { return m_stmt != nullptr ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    std::string Text(int col) const {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        return t != nullptr ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col))) : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(m_stmt, col); }
    std::vector<std::byte> Blob(int col) const {
        const auto* p = static_cast<const std::byte*>(sqlite3_column_blob(m_stmt, col));
        const int n = sqlite3_column_bytes(m_stmt, col);
        return p != nullptr ? std::vector<std::byte>(p, p + n) : std::vector<std::byte>();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys(path TEXT PRIMARY KEY COLLATE NOCASE,"
    " parent TEXT COLLATE NOCASE, name TEXT);"
    "CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(parent);"
    "CREATE TABLE IF NOT EXISTS reg_values(key TEXT COLLATE NOCASE, name TEXT COLLATE NOCASE,"
    " type INTEGER, data BLOB, PRIMARY KEY(key, name));"
    "INSERT OR IGNORE INTO reg_keys(path, parent, name) VALUES('', NULL, '');";

// A connection to one hive; closed by the destructor.
class Hive {
public:
    ~Hive() {
        if (m_db != nullptr) sqlite3_close_v2(m_db);
    }
    // 0 or an error; a read of a hive that does not exist yet yields 2.
    uint32_t Open(uint32_t hRoot, bool bWrite) {
        auto file = HiveFile(hRoot);
        if (!file) return ERROR_INVALID_HANDLE_;
        struct stat st;
        const bool exists = ::stat(file->c_str(), &st) == 0;
        if (!bWrite && !exists) return ERROR_FILE_NOT_FOUND_;
        if (bWrite) {
            const std::string folder = file->substr(0, file->find_last_of('/'));
            if (!posix::MakeFolders(folder)) return Refused(*file, SystemErrorOf(errno));
            if (::access(exists ? file->c_str() : folder.c_str(), W_OK) != 0) return Refused(*file, SystemErrorOf(errno));
        }
        // Readers open read-write where they may, so that the journal of a writer that was
        // killed mid-transaction can be rolled back instead of making the hive unreadable.
        const bool canWrite = bWrite || ::access(file->c_str(), W_OK) == 0;
        const int flags = bWrite ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
                                 : (canWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
        if (const int rc = sqlite3_open_v2(file->c_str(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr); rc != SQLITE_OK)
            return Refused(*file, SqliteError(rc));
        sqlite3_busy_timeout(m_db, 10000);
        if (bWrite) {
            sqlite3_exec(m_db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
            if (const int rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr); rc != SQLITE_OK)
                return Refused(*file, SqliteError(rc));
        } else if (const int rc = sqlite3_exec(m_db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
                   rc != SQLITE_OK) {
            // SQLite opens lazily: a damaged or locked file only shows at the first read.
            return Refused(*file, SqliteError(rc));
        }
        return 0;
    }
    bool Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    bool KeyExists(const std::string& path) {
        Stmt s(m_db, "SELECT 1 FROM reg_keys WHERE path = ?");
        return s.ok() && s.Bind(1, path).Step() == SQLITE_ROW;
    }
    sqlite3* db() const { return m_db; }

private:
    SystemError SqliteError(int nResult) const {
        const int native = m_db != nullptr ? sqlite3_system_errno(m_db) : 0;
        return {posix::TranslateSqliteError(nResult, native), m_db != nullptr ? sqlite3_extended_errcode(m_db) : nResult};
    }
    // The hive cannot be used: said on the debug line with SQLite's or the system's own number.
    static uint32_t Refused(const std::string& szFile, const SystemError& error) {
        OutputDebug(FormatW(L"[registry] %s: %s\n", FromUtf8(szFile), DescribeError(error)));
        return error.code;
    }
    sqlite3* m_db = nullptr;
};

}  // namespace

struct RegKey::Impl {
    uint32_t root = 0;
    std::string path;
    bool writable = false;
    Hive hive;
};

namespace {
// The key's hive opened for reading or writing, with the key path normalised.
uint32_t OpenImpl(uint32_t hRoot, const std::wstring& szPath, bool bWrite, std::unique_ptr<RegKey::Impl>& impl) {
    auto path = NormalizeKeyPath(szPath);
    if (!path) return ERROR_BAD_PATHNAME_;
    impl = std::make_unique<RegKey::Impl>();
    impl->root = hRoot;
    impl->path = *path;
    impl->writable = bWrite;
    return impl->hive.Open(hRoot, bWrite);
}
}  // namespace

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;

bool RegKey::IsOpen() const { return m_impl != nullptr; }
void RegKey::Close() { m_impl.reset(); }

uint32_t RegKey::Open(uint32_t hRoot, const std::wstring& szPath, RegAccess access, RegKey& out) {
    out.Close();
    std::unique_ptr<Impl> impl;
    if (uint32_t err = OpenImpl(hRoot, szPath, access == RegAccess::Write, impl)) return err;
    if (!impl->hive.KeyExists(impl->path)) return ERROR_FILE_NOT_FOUND_;
    out.m_impl = std::move(impl);
    return 0;
}

uint32_t RegKey::Create(uint32_t hRoot, const std::wstring& szPath, RegKey& out) {
    out.Close();
    std::unique_ptr<Impl> impl;
    if (uint32_t err = OpenImpl(hRoot, szPath, true, impl)) return err;
    if (!impl->hive.Exec("BEGIN IMMEDIATE")) return ERROR_REGISTRY_IO_FAILED_;
    bool ok = true;
    for (std::string p = impl->path; ok && !p.empty(); p = ParentOf(p)) {
        Stmt s(impl->hive.db(), "INSERT OR IGNORE INTO reg_keys(path, parent, name) VALUES(?, ?, ?)");
        ok = s.ok() && s.Bind(1, p).Bind(2, ParentOf(p)).Bind(3, LeafOf(p)).Step() == SQLITE_DONE;
    }
    if (!ok || !impl->hive.Exec("COMMIT")) {
        impl->hive.Exec("ROLLBACK");
        return ERROR_REGISTRY_IO_FAILED_;
    }
    out.m_impl = std::move(impl);
    return 0;
}

uint32_t RegKey::DeleteTree(uint32_t hRoot, const std::wstring& szPath) {
    auto path = NormalizeKeyPath(szPath);
    if (!path) return ERROR_BAD_PATHNAME_;
    Hive hive;
    if (uint32_t err = hive.Open(hRoot, true)) return err;
    if (!hive.KeyExists(*path)) return ERROR_FILE_NOT_FOUND_;
    if (!hive.Exec("BEGIN IMMEDIATE")) return ERROR_REGISTRY_IO_FAILED_;
    const std::string below = path->empty() ? std::string() : *path + "\\";
    bool ok;
    {
        // Prefix match done by substr so that LIKE's wildcards in key names cannot widen it.
        Stmt v(hive.db(),
               "DELETE FROM reg_values WHERE key = ?1 OR (length(?2) > 0 AND substr(key, 1, length(?2)) = ?2 COLLATE NOCASE)"
               " OR length(?2) = 0");
        Stmt k(hive.db(),
               "DELETE FROM reg_keys WHERE (path = ?1 AND path <> '') OR (length(?2) > 0 AND substr(path, 1, length(?2)) = ?2 COLLATE NOCASE)"
               " OR (length(?2) = 0 AND path <> '')");
        ok = v.ok() && k.ok() && v.Bind(1, *path).Bind(2, below).Step() == SQLITE_DONE &&
             k.Bind(1, *path).Bind(2, below).Step() == SQLITE_DONE;
    }
    if (!ok || !hive.Exec("COMMIT")) {
        hive.Exec("ROLLBACK");
        return ERROR_REGISTRY_IO_FAILED_;
    }
    return 0;
}

uint32_t RegKey::QueryValue(const std::wstring& szName, RegValue& out) const {
    if (!m_impl) return ERROR_INVALID_HANDLE_;
    Stmt s(m_impl->hive.db(), "SELECT name, type, data FROM reg_values WHERE key = ? AND name = ?");
    if (!s.ok()) return ERROR_FILE_NOT_FOUND_;
    if (s.Bind(1, m_impl->path).Bind(2, ToUtf8(szName)).Step() != SQLITE_ROW) return ERROR_FILE_NOT_FOUND_;
    out.name = FromUtf8(s.Text(0));
    out.type = static_cast<uint32_t>(s.Int(1));
    out.data = s.Blob(2);
    return 0;
}

uint32_t RegKey::SetValue(const std::wstring& szName, uint32_t nType, std::span<const std::byte> data) {
    if (!m_impl) return ERROR_INVALID_HANDLE_;
    if (!m_impl->writable) return ERROR_ACCESS_DENIED_;
    // A value keeps the spelling it was created with, like the registry does.
    Stmt s(m_impl->hive.db(),
           "INSERT INTO reg_values(key, name, type, data) VALUES(?, ?, ?, ?)"
           " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!s.ok()) return ERROR_REGISTRY_IO_FAILED_;
    s.Bind(1, m_impl->path).Bind(2, ToUtf8(szName)).Bind(3, static_cast<int64_t>(nType)).BindBlob(4, data);
    return s.Step() == SQLITE_DONE ? 0 : ERROR_REGISTRY_IO_FAILED_;
}

uint32_t RegKey::DeleteValue(const std::wstring& szName) {
    if (!m_impl) return ERROR_INVALID_HANDLE_;
    if (!m_impl->writable) return ERROR_ACCESS_DENIED_;
    Stmt s(m_impl->hive.db(), "DELETE FROM reg_values WHERE key = ? AND name = ?");
    if (!s.ok() || s.Bind(1, m_impl->path).Bind(2, ToUtf8(szName)).Step() != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED_;
    return sqlite3_changes(m_impl->hive.db()) > 0 ? 0 : ERROR_FILE_NOT_FOUND_;
}

std::vector<std::wstring> RegKey::SubKeys() const {
    std::vector<std::wstring> out;
    if (!m_impl) return out;
    Stmt s(m_impl->hive.db(), "SELECT name FROM reg_keys WHERE parent = ? ORDER BY name COLLATE NOCASE");
    if (!s.ok()) return out;
    s.Bind(1, m_impl->path);
    while (s.Step() == SQLITE_ROW) out.push_back(FromUtf8(s.Text(0)));
    return out;
}

std::vector<RegValue> RegKey::Values() const {
    std::vector<RegValue> out;
    if (!m_impl) return out;
    Stmt s(m_impl->hive.db(), "SELECT name, type, data FROM reg_values WHERE key = ? ORDER BY name COLLATE NOCASE");
    if (!s.ok()) return out;
    s.Bind(1, m_impl->path);
    while (s.Step() == SQLITE_ROW) out.push_back({FromUtf8(s.Text(0)), static_cast<uint32_t>(s.Int(1)), s.Blob(2)});
    return out;
}

}  // namespace platform
