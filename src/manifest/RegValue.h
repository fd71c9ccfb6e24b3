// One registry value named by a root key and a path text that holds both the key path and the
// value name. Read on construction; written on assignment when the value changes (or always
// with force). No handle is kept open between operations; no operation reports an error.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

// REG_DWORD value. The path text loses leading backslashes; the last backslash splits key and
// name ("\Software\Vendor\Count" is "Count" under "Software\Vendor"). Only four bytes stored as
// REG_DWORD are a number: any other data under the name reads as missing and is replaced by the
// number on assignment.
class CRegDwordValue {
public:
    CRegDwordValue(const std::wstring& szPath, uint32_t dwDefault, bool bForce, uint32_t hBase);
    uint32_t Read();
    void Write();
    CRegDwordValue& operator=(uint32_t dwValue);
    operator uint32_t() const { return m_dwValue; }
    bool IsRead() const { return m_bRead != 0; }
    const std::wstring& Key() const { return m_strKey; }
    const std::wstring& Name() const { return m_strName; }

private:
    uint32_t m_hBase;
    std::wstring m_strName;
    std::wstring m_strKey;
    uint32_t m_dwValue = 0;
    uint32_t m_dwDefault;
    int32_t m_bRead = 0;
    int32_t m_bForce;
    // The name holds data that is not a REG_DWORD: read as missing, written over on assignment.
    int32_t m_bOtherType = 0;
};

// REG_SZ value. The last backslash splits key and name; a trailing backslash addresses the
// key's default value; without a backslash the whole text is both key and name.
class CRegStringValue {
public:
    CRegStringValue(const std::wstring& szPath, const std::wstring& szDefault, bool bForce, uint32_t hBase);
    std::wstring Read();
    void Write();
    CRegStringValue& operator=(const std::wstring& szValue);
    operator const std::wstring&() const { return m_strValue; }
    const std::wstring& Value() const { return m_strValue; }
    bool IsRead() const { return m_bRead != 0; }
    const std::wstring& Key() const { return m_strKey; }
    const std::wstring& Name() const { return m_strName; }

private:
    uint32_t m_hBase;
    std::wstring m_strName;
    std::wstring m_strKey;
    std::wstring m_strValue;
    std::wstring m_strDefault;
    int32_t m_bRead = 0;
    int32_t m_bForce;
};

}  // namespace UpDater
