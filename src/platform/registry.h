// The registry: root keys, keys below them, REG_SZ and REG_DWORD values (other types are stored
// and returned as bytes). Results are Win32 error numbers: 0, 2 (missing key or value),
// 5 (access denied).
// Linux: one SQLite database per hive, the per-user hive under $XDG_CONFIG_HOME/orvo/registry,
// the machine hives under $ORVO_SYSROOT/var/lib/orvo/registry; key and value names compare
// without case (ASCII letters, as SQLite's NOCASE); every write is a transaction; opening a
// key that does not exist fails with 2; a write to a hive the user may not write fails with 5.
// Windows: the registry API in its 32-bit view (KEY_WOW64_32KEY) whatever the build's
// architecture, where 32-bit installs keep their values (names compare without case over all of
// Unicode; a handle opened for writing may also read; subkeys and values are sorted here, as on
// Linux).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform {

enum RootKey : uint32_t {
    RootClassesRoot = 0x80000000u,
    RootCurrentUser = 0x80000001u,
    RootLocalMachine = 0x80000002u,
    RootUsers = 0x80000003u,
    RootCurrentConfig = 0x80000005u,
};

inline constexpr uint32_t REG_NONE_ = 0;
inline constexpr uint32_t REG_SZ_ = 1;
inline constexpr uint32_t REG_EXPAND_SZ_ = 2;
inline constexpr uint32_t REG_BINARY_ = 3;
inline constexpr uint32_t REG_DWORD_ = 4;
inline constexpr uint32_t REG_MULTI_SZ_ = 7;

enum class RegAccess { Read, Write };

struct RegValue {
    std::wstring name;
    uint32_t type = REG_NONE_;
    std::vector<std::byte> data;
};

// An open key; closed by the destructor. Key paths use '\' between components.
class RegKey {
public:
    RegKey();
    ~RegKey();
    RegKey(RegKey&&) noexcept;
    RegKey& operator=(RegKey&&) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens an existing key (an empty path is the root key itself).
    static uint32_t Open(uint32_t hRoot, const std::wstring& szPath, RegAccess access, RegKey& out);
    // Opens the key, creating it and every missing parent.
    static uint32_t Create(uint32_t hRoot, const std::wstring& szPath, RegKey& out);
    // Removes a key with its subkeys and values.
    static uint32_t DeleteTree(uint32_t hRoot, const std::wstring& szPath);

    bool IsOpen() const;
    void Close();
    uint32_t QueryValue(const std::wstring& szName, RegValue& out) const;
    uint32_t SetValue(const std::wstring& szName, uint32_t nType, std::span<const std::byte> data);
    uint32_t DeleteValue(const std::wstring& szName);
    // The key's direct subkeys (their own spelling) and values, in name order.
    std::vector<std::wstring> SubKeys() const;
    std::vector<RegValue> Values() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// REG_SZ data as the registry stores it: UTF-16LE with a terminating zero.
std::vector<std::byte> EncodeRegString(const std::wstring& szText);
// The text up to the first zero character (or the end of the data).
std::wstring DecodeRegString(std::span<const std::byte> data);
std::vector<std::byte> EncodeRegDword(uint32_t nValue);
std::optional<uint32_t> DecodeRegDword(std::span<const std::byte> data);

// A key path without its trailing separators; nullopt (the backends answer 161) when it starts
// with a separator or has an empty component.
std::optional<std::wstring> NormalizeRegKeyPath(const std::wstring& szPath);

// "HKEY_LOCAL_MACHINE" etc.; "HKLM"/"HKEY_LOCAL_MACHINE" (any case) back to the root.
std::wstring RootKeyName(uint32_t hRoot);
std::optional<uint32_t> ParseRootKeyName(const std::wstring& szName);

}  // namespace platform
