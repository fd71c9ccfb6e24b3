// Reading a native skin: the layout file (XML, read with the manifest's parser) and the PNG
// images it names, all from one skin folder, checked before anything is drawn. A skin that
// fails any check is refused whole with a sentence naming the file and the fault; the window
// then shows the default skin, which is built into the updater.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/skin_layout.h"

namespace OrvoUi {

struct SkinLimits {
    static constexpr int kMaxImageSide = 4096;             // pixels, each way, also for 2x images
    static constexpr uint64_t kMaxSkinBytes = 16u << 20;   // layout and images together
    static constexpr uint64_t kMaxLayoutBytes = 256u << 10;
};

// One file of the skin by its plain name; nullopt (with *pszWhy) when it cannot be read or
// would pass nMaxBytes.
using SkinFileSource = std::function<std::optional<std::vector<uint8_t>>(const std::wstring& szName, uint64_t nMaxBytes, std::wstring* pszWhy)>;

std::optional<platform::SkinLayout> ReadSkinLayout(const SkinFileSource& files, const std::wstring& szLayoutName, std::wstring* pszWhy);

// The skin in a folder: only plain file names directly inside it are read.
std::optional<platform::SkinLayout> ReadSkinFolder(const std::wstring& szFolder, const std::wstring& szLayoutName, std::wstring* pszWhy);

// The default skin, built into the updater.
platform::SkinLayout DefaultSkinLayout();

// A skin shown by the web module rather than drawn natively.
bool IsWebSkinPath(const std::wstring& szPath);

// Width and height from a PNG's header; false when the bytes are not a PNG.
bool ReadPngSize(const std::vector<uint8_t>& png, int* pWidth, int* pHeight);

}  // namespace OrvoUi
