// The downloaded manifest checked against the keys this updater trusts, before anything reads
// it, and a signed manifest's release order checked once it is parsed.
#include <algorithm>
#include <chrono>

#include "http/HttpServerClient.h"
#include "manifest/FolderPaths.h"
#include "manifest/ReleaseCheck.h"
#include "manifest/ReleaseState.h"
#include "manifest/VersionBuilder.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "trust/Crypto.h"
#include "trust/TrustedKeys.h"

namespace UpDater {

namespace {

// A signature file is four short lines; the trusted comment is the only free text in it.
constexpr uint64_t kMaxSignatureBytes = 16 * 1024;

std::wstring Sha256Text(std::string_view bytes) {
    trust::crypto::Sha256 sha;
    sha.Update({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    return platform::FromUtf8(sha.FinalHex());
}

}  // namespace

std::wstring CVersionBuilder::SignaturePath() const { return m_strTempXmlPath + L".sig"; }

bool CVersionBuilder::VerifyXmlBytes(std::string_view xml, const std::wstring& szSigPath, std::wstring* pWhy) {
    m_bSignedXml = false;
    m_strSignerKeyId.clear();
    const trust::TrustedKeys keys = trust::LoadTrustedKeys(GetModuleFolder());
    if (!keys.Required()) return true;
    auto fail = [pWhy](std::wstring why) {
        if (pWhy != nullptr) *pWhy = std::move(why);
        return false;
    };
    if (!keys.problem.empty()) return fail(keys.problem);
    std::string sig;
    if (trust::ReadBoundedFile(szSigPath, kMaxSignatureBytes, sig) != trust::ReadResult::Ok)
        return fail(L"no signature for the manifest");
    std::wstring why;
    if (!trust::VerifyWithTrustedKeys({reinterpret_cast<const uint8_t*>(xml.data()), xml.size()}, sig, keys, &why))
        return fail(why);
    m_bSignedXml = true;
    if (const auto parsed = trust::ParseSignatureFile(sig, nullptr)) m_strSignerKeyId = platform::FromUtf8(trust::KeyIdText(parsed->id));
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
    } else if (const std::string* xml = DownloadedXml(); xml == nullptr) {
        why = L"the manifest cannot be read";
    } else if (VerifyXmlBytes(*xml, SignaturePath(), &why)) {
        return true;
    }
    platform::OutputDebug(platform::FormatW(
        L"[OVUSVC] [Error %d line] CVersionBuilder::VerifyXml()  Manifest Refused: %s [%s]\n", 140, why, m_strInitXmlUrl));
    // Nothing may read a refused manifest later in the run.
    platform::DeleteFileAt(m_strTempXmlPath);
    return false;
}

uint64_t CVersionBuilder::AppliedSequence() const {
    // The record is what counts: the installed copy sits in a folder the manifest names, which a
    // replayed old release may name differently. The copy still counts where it is higher (an
    // installation made before releases were recorded).
    uint64_t applied = LoadAppliedRelease(m_strInitXmlUrl).nSequence;
    if (m_strInstallXmlPath.empty() || !platform::PathExists(m_strInstallXmlPath)) return applied;
    static const ManifestLoadLines kLines{L"AppliedSequence", 150, 152, 156, 170};
    CManifestDocument doc;
    if (!doc.Load(m_strInstallXmlPath, kLines)) return applied;
    return std::max(applied, ReadSequence(doc.Root()).value_or(0));
}

void CVersionBuilder::RecordAppliedRelease() {
    if (!m_bSignedXml || !m_xmlBytes) return;
    StoreAppliedRelease(m_strInitXmlUrl, {m_nXmlSequence, m_strSignerKeyId, Sha256Text(*m_xmlBytes)});
}

bool CVersionBuilder::InstalledCopyIsVerified(std::string_view installed, bool bSameText) const {
    if (!m_bSignedXml || bSameText) return true;
    const std::wstring recorded = LoadAppliedRelease(m_strInitXmlUrl).szManifestSha256;
    if (!recorded.empty() && platform::EqualsNoCase(recorded, Sha256Text(installed))) return true;
    platform::OutputDebug(platform::FormatW(
        L"[OVUSVC] [Warning %d line] CVersionBuilder::CompareXml()  [%s] is not the copy this updater installed: everything is planned, nothing removed\n",
        180, m_strInstallXmlPath));
    return false;
}

bool CVersionBuilder::CheckSignedRelease() {
    if (!m_bSignedXml) return true;
    const XmlNode* root = m_pInitDoc ? m_pInitDoc->Root() : nullptr;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::wstring why = root == nullptr ? L"no manifest document" : CheckReleaseOrder(root, AppliedSequence(), now);
    if (why.empty()) {
        m_nXmlSequence = ReadSequence(root).value_or(0);
        return true;
    }
    platform::OutputDebug(platform::FormatW(
        L"[OVUSVC] [Error %d line] CVersionBuilder::VerifyXml()  Manifest Refused: %s [%s]\n", 210, why, m_strInitXmlUrl));
    platform::DeleteFileAt(m_strTempXmlPath);
    return false;
}

}  // namespace UpDater
