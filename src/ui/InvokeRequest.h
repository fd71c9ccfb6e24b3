// The request text of a skin call: "<invoke name='F'><arguments><string>A</string>...
// </arguments></invoke>". Argument texts are escaped when the request is built and decoded when
// it is read, so a label holding markup characters reaches the skin as the same text and can
// never close the request or start another call.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace OrvoUi {

struct InvokeRequest {
    std::wstring strName;
    std::vector<std::wstring> args;
};

// "&", "<", ">", "'" and '"' as character entities; everything else as it stands.
std::wstring EscapeXmlText(const std::wstring& szText);

std::wstring BuildInvokeRequest(const std::wstring& szName, const std::vector<std::wstring>& args);

// The function name and its string arguments; nullopt for anything that is not exactly one
// well-formed request (unknown entities, other elements, trailing text, a name that is not an
// identifier).
std::optional<InvokeRequest> ParseInvokeRequest(const std::wstring& szRequest);

}  // namespace OrvoUi
