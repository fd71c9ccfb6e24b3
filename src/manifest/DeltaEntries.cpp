#include "manifest/DeltaEntry.h"
#include "manifest/ManifestXml.h"

namespace UpDater {

void ReadDeltaEntries(const XmlNode* pItem, DeltaList* pDeltas) {
    const XmlNode* section = FindChild(pItem, L"Deltas");
    if (section == nullptr) return;
    for (const XmlNode* node = section->first_node(); node != nullptr && pDeltas->size() < kMaxDeltasPerItem;
         node = node->next_sibling()) {
        if (node->type() != rapidxml::node_element) continue;
        DeltaEntry delta;
        delta.BaseFileHash = ChildText(node, L"BaseFileHash");
        delta.BaseSha256 = ChildText(node, L"BaseSha256");
        delta.DownloadUrl = ChildText(node, L"DownloadUrl");
        delta.Size = ParseInt64(ChildText(node, L"Size"));
        delta.Sha256 = ChildText(node, L"Sha256");
        // Without both hashes the base cannot be confirmed nor the delta checked.
        if (delta.DownloadUrl.empty() || delta.Size <= 0 || delta.BaseSha256.empty() || delta.Sha256.empty()) continue;
        pDeltas->push_back(std::move(delta));
    }
}

}  // namespace UpDater
