// Helpers shared by the Windows backends only.
#pragma once

#include <string>

namespace platform::win {

// The path as the W functions take it: '/' turned into '\'.
std::wstring NativePath(const std::wstring& szPath);

// Releases a COM interface when it goes.
template <class T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p != nullptr) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

}  // namespace platform::win
