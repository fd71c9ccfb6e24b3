// Splits a path ('\' or '/' separated) into prefix, drive, folder, title and extension.
#pragma once

#include <optional>
#include <string>

class CZipPathComponent {
public:
    CZipPathComponent() = default;
    explicit CZipPathComponent(const std::wstring& szFullPath) { SetFullPath(szFullPath); }

    // Recognises a leading "\\", "\\?\" or "\\?\unc\" prefix and a drive "X:"; the folder part
    // loses its leading and trailing separators.
    void SetFullPath(const std::wstring& szFullPath);

    const std::wstring& GetPrefix() const { return m_szPrefix; }
    const std::wstring& GetDrive() const { return m_szDrive; }
    const std::wstring& GetFilePath() const { return m_szDirectory; }
    const std::wstring& GetFileTitle() const { return m_szFileTitle; }
    const std::wstring& GetFileExt() const { return m_szFileExt; }  // without the dot
    // Title plus extension.
    const std::wstring& GetFileName() const { return m_szFileName; }
    // Folder, "\" and file name: the path with prefix and drive removed.
    std::wstring GetNoDrive() const;

    static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
    static std::wstring RemoveSeparators(const std::wstring& szPath);  // trailing ones
    static std::wstring RemoveSeparatorsLeft(const std::wstring& szPath);

    // The name an entry may safely take inside a target folder: prefix and drive removed,
    // components joined by '\', "." and empty components dropped. nullopt when a component
    // could leave the folder or alias another file on either platform: "..", control
    // characters (NUL included), ':' (drive or stream syntax), wildcard or reserved
    // characters, trailing dots or spaces, device names. Empty when the name is only
    // separators and dots, i.e. the folder itself.
    static std::optional<std::wstring> MakeSafeRelative(const std::wstring& szName);

private:
    std::wstring m_szPrefix;
    std::wstring m_szDrive;
    std::wstring m_szDirectory;
    std::wstring m_szFileTitle;
    std::wstring m_szFileExt;
    std::wstring m_szFileName;
};
