#include "support/skin_picture.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>

#include "platform/strings.h"
#include "support/test_env.h"

namespace orvo::test {

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1) out.push_back(s.substr(start, at - start));
    out.push_back(s.substr(start));
    return out;
}

bool Near(uint32_t a, uint32_t b) {
    for (int s = 0; s < 24; s += 8)
        if (std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)) > 6) return false;
    return true;
}

size_t CountNearColor(const std::vector<uint32_t>& px, uint32_t color) {
    // The screen may round colours a little.
    return static_cast<size_t>(std::count_if(px.begin(), px.end(), [&](uint32_t p) { return Near(p, color); }));
}

std::vector<uint8_t> PngAlpha(const std::string& path, int* pWidth, int* pHeight) {
    const std::string png = ReadFile(path);
    const auto be32 = [&](size_t at) {
        return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) | (uint32_t(uint8_t(png[at + 2])) << 8) |
               uint32_t(uint8_t(png[at + 3]));
    };
    if (png.size() < 33 || png[25] != 6 || png[24] != 8 || png[28] != 0) return {};
    const int w = static_cast<int>(be32(16)), h = static_cast<int>(be32(20));
    std::string idat;
    for (size_t at = 8; at + 8 <= png.size();) {
        const uint32_t len = be32(at);
        if (png.compare(at + 4, 4, "IDAT") == 0) idat += png.substr(at + 8, len);
        at += 12 + len;
    }
    const size_t stride = static_cast<size_t>(w) * 4;
    std::vector<uint8_t> raw((stride + 1) * h);
    uLongf rawLen = raw.size();
    if (uncompress(raw.data(), &rawLen, reinterpret_cast<const Bytef*>(idat.data()), idat.size()) != Z_OK) return {};
    std::vector<uint8_t> px(stride * h), alpha(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const uint8_t filter = raw[y * (stride + 1)];
        const uint8_t* in = &raw[y * (stride + 1) + 1];
        uint8_t* out = &px[y * stride];
        const uint8_t* up = y > 0 ? &px[(y - 1) * stride] : nullptr;
        for (size_t i = 0; i < stride; ++i) {
            const int a = i >= 4 ? out[i - 4] : 0, b = up ? up[i] : 0, c = (up && i >= 4) ? up[i - 4] : 0;
            int pred = 0;
            switch (filter) {
                case 1: pred = a; break;
                case 2: pred = b; break;
                case 3: pred = (a + b) / 2; break;
                case 4: {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                    break;
                }
                default: break;
            }
            out[i] = static_cast<uint8_t>(in[i] + pred);
        }
        for (int x = 0; x < w; ++x) alpha[static_cast<size_t>(y) * w + x] = out[x * 4 + 3];
    }
    *pWidth = w;
    *pHeight = h;
    return alpha;
}

int FilledPixels(const std::vector<uint32_t>& px, int w, int barY, uint32_t fill) {
    int n = 0;
    for (int x = 30; x < 30 + 396 && x < w; ++x) n += Near(px[static_cast<size_t>(barY + 7) * w + x], fill);
    return n;
}

std::vector<platform::SkinState> States(const std::vector<std::string>& trace) {
    std::vector<platform::SkinState> states(1);
    for (const auto& line : trace) {
        const auto parts = Split(line, '\t');
        std::vector<std::wstring> args;
        for (size_t i = 1; i < parts.size(); ++i) args.push_back(platform::FromUtf8(parts[i]));
        platform::SkinState next = states.back();
        next.Apply(platform::FromUtf8(parts[0]), args);
        states.push_back(next);
    }
    return states;
}

bool BarsMatchSomeState(const std::vector<uint32_t>& px, int w, const std::vector<platform::SkinState>& states, std::string* seen) {
    const int install = FilledPixels(px, w, 88, kDefaultInstallFill), step = FilledPixels(px, w, 142, kDefaultStatesFill);
    *seen = "install " + std::to_string(install) + " px, step " + std::to_string(step) + " px";
    for (const auto& st : states)
        if (std::abs(install - platform::FilledLength(396, st.install.nValue, st.install.nMax)) <= 2 &&
            std::abs(step - platform::FilledLength(396, st.states.nValue, st.states.nMax)) <= 2)
            return true;
    return false;
}

std::vector<uint8_t> ShapeMask(const std::vector<XRect>& shape, int w, int h) {
    std::vector<uint8_t> mask(static_cast<size_t>(std::max(w, 0)) * std::max(h, 0), 0);
    for (const auto& r : shape)
        for (int y = std::max(r.y, 0); y < r.y + r.h && y < h; ++y)
            for (int x = std::max(r.x, 0); x < r.x + r.w && x < w; ++x) mask[static_cast<size_t>(y) * w + x] = 1;
    return mask;
}

}  // namespace orvo::test
