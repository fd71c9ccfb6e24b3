#include "manifest/RegValue.h"

#include "platform/registry.h"
#include "platform/strings.h"

namespace UpDater {

CRegDwordValue::CRegDwordValue(const std::wstring& szPath, uint32_t dwDefault, bool bForce, uint32_t hBase)
    : m_hBase(hBase), m_dwDefault(dwDefault), m_bForce(bForce ? 1 : 0) {
    const std::wstring text = platform::TrimLeft(szPath, L"\\");
    // Trailing backslashes do not count as the split point: "Vendor\\App\\" names "App".
    const std::wstring body = platform::TrimRight(text, L"\\");
    const size_t sep = body.rfind(L'\\');
    if (sep == std::wstring::npos) {
        m_strName = body;
    } else {
        m_strKey = platform::TrimRight(text.substr(0, sep), L"\\");
        m_strName = platform::TrimRight(platform::TrimLeft(text.substr(sep + 1), L"\\"), L"\\");
    }
    Read();
}

uint32_t CRegDwordValue::Read() {
    platform::RegKey key;
    if (platform::RegKey::Open(m_hBase, m_strKey, platform::RegAccess::Read, key) != 0) return m_dwDefault;
    platform::RegValue value;
    if (key.QueryValue(m_strName, value) != 0) return m_dwDefault;
    // Text or longer data is not a number that happens to start there.
    auto number = value.type == platform::REG_DWORD_ && value.data.size() == 4 ? platform::DecodeRegDword(value.data) : std::nullopt;
    if (!number) {
        m_bOtherType = 1;
        return m_dwDefault;
    }
    m_bOtherType = 0;
    m_dwValue = *number;
    m_bRead = 1;
    return m_dwValue;
}

void CRegDwordValue::Write() {
    platform::RegKey key;
    if (platform::RegKey::Create(m_hBase, m_strKey, key) != 0) return;
    if (key.SetValue(m_strName, platform::REG_DWORD_, platform::EncodeRegDword(m_dwValue)) == 0) {
        m_bRead = 1;
        m_bOtherType = 0;
    }
}

CRegDwordValue& CRegDwordValue::operator=(uint32_t dwValue) {
    if (dwValue != m_dwValue || m_bForce || m_bOtherType) {
        m_dwValue = dwValue;
        Write();
    }
    return *this;
}

CRegStringValue::CRegStringValue(const std::wstring& szPath, const std::wstring& szDefault, bool bForce, uint32_t hBase)
    : m_hBase(hBase), m_strDefault(szDefault), m_bForce(bForce ? 1 : 0) {
    const size_t sep = szPath.rfind(L'\\');
    if (sep == std::wstring::npos) {
        m_strKey = szPath;
        m_strName = szPath;
    } else {
        m_strKey = szPath.substr(0, sep);
        m_strName = szPath.substr(sep + 1);
    }
    Read();
}

std::wstring CRegStringValue::Read() {
    platform::RegKey key;
    if (platform::RegKey::Open(m_hBase, m_strKey, platform::RegAccess::Read, key) != 0) return m_strDefault;
    platform::RegValue value;
    if (key.QueryValue(m_strName, value) != 0) return m_strDefault;
    // Text up to the first zero character, bounded by the stored data.
    m_strValue = platform::DecodeRegString(value.data);
    m_bRead = 1;
    return m_strValue;
}

void CRegStringValue::Write() {
    platform::RegKey key;
    if (platform::RegKey::Create(m_hBase, m_strKey, key) != 0) return;
    if (key.SetValue(m_strName, platform::REG_SZ_, platform::EncodeRegString(m_strValue)) == 0) m_bRead = 1;
}

CRegStringValue& CRegStringValue::operator=(const std::wstring& szValue) {
    if (szValue != m_strValue || m_bForce) {
        m_strValue = szValue;
        Write();
    }
    return *this;
}

}  // namespace UpDater
