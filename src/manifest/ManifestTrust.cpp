// The downloaded manifest checked against the keys this updater trusts, before anything reads
// it, and a signed manifest's release order checked once it is parsed.
#include <chrono>

#include "http/HttpServerClient.h"
#include "manifest/FolderPaths.h"
#include "manifest/ReleaseCheck.h"
#include "manifest/VersionBuilder.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "trust/TrustedKeys.h"

namespace UpDater {

namespace {

// A signature file is four short lines; the trusted comment is the only free text in it.
constexpr uint64_t kMaxSignatureBytes = 16 * 1024;

}  // namespace

std::wstring CVersionBuilder::SignaturePath() const { return m_strTempXmlPath + L".sig"; }

bool CVersionBuilder::VerifyXmlFile(const std::wstring& szXmlPath, const std::wstring& szSigPath, std::wstring* pWhy) {
    m_bSignedXml = false;
    const trust::TrustedKeys keys = trust::LoadTrustedKeys(GetModuleFolder());
    if (!keys.Required()) return true;
    auto fail = [pWhy](std::wstring why) {
        if (pWhy != nullptr) *pWhy = std::move(why);
        return false;
    };
    if (!keys.problem.empty()) return fail(keys.problem);
    std::string sig, xml;
    if (trust::ReadBoundedFile(szSigPath, kMaxSignatureBytes, sig) != trust::ReadResult::Ok)
        return fail(L"no signature for the manifest");
    if (trust::ReadBoundedFile(szXmlPath, ManifestLimits::kMaxFileBytes, xml) != trust::ReadResult::Ok)
        return fail(L"the manifest cannot be read");
    std::wstring why;
    if (!trust::VerifyWithTrustedKeys({reinterpret_cast<const uint8_t*>(xml.data()), xml.size()}, sig, keys, &why))
        return fail(why);
    m_bSignedXml = true;
    return true;
}

bool CVersionBuilder::VerifyDownloadedXml() {
    m_bSignedXml = false;
    if (!trust::LoadTrustedKeys(GetModuleFolder()).Required()) return true;
    std::wstring why;
    const std::wstring sigUrl = m_strInitXmlUrl + L".sig";
    if (Kaver::CHttpServerClient::GetFileFromURL(sigUrl, SignaturePath(), kMaxSignatureBytes) != Kaver::CHttpServerClient::kDownloadOk) {
        platform::DeleteFileAt(SignaturePath());
        why = L"no signature at " + sigUrl;
    } else if (VerifyXmlFile(m_strTempXmlPath, SignaturePath(), &why)) {
        return true;
    }
    platform::OutputDebug(platform::FormatW(
        L"[OVUSVC] [Error %d line] CVersionBuilder::VerifyXml()  Manifest Refused: %s [%s]\n", 140, why, m_strInitXmlUrl));
    // Nothing may read a refused manifest later in the run.
    platform::DeleteFileAt(m_strTempXmlPath);
    return false;
}

uint64_t CVersionBuilder::AppliedSequence() const {
    if (m_strInstallXmlPath.empty() || !platform::PathExists(m_strInstallXmlPath)) return 0;
    static const ManifestLoadLines kLines{L"AppliedSequence", 150, 152, 156, 170};
    CManifestDocument doc;
    if (!doc.Load(m_strInstallXmlPath, kLines)) return 0;
    return ReadSequence(doc.Root()).value_or(0);
}

bool CVersionBuilder::CheckSignedRelease() {
    if (!m_bSignedXml) return true;
    const XmlNode* root = m_pInitDoc ? m_pInitDoc->Root() : nullptr;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::wstring why = root == nullptr ? L"no manifest document" : CheckReleaseOrder(root, AppliedSequence(), now);
    if (why.empty()) return true;
    platform::OutputDebug(platform::FormatW(
        L"[OVUSVC] [Error %d line] CVersionBuilder::VerifyXml()  Manifest Refused: %s [%s]\n", 210, why, m_strInitXmlUrl));
    platform::DeleteFileAt(m_strTempXmlPath);
    return false;
}

}  // namespace UpDater
