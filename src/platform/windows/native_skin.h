// The skin on Windows: no web engine runs here, so the dialog's skin is drawn natively with
// GDI: a card with a title, two labelled progress bars, the overall percentage and a round close
// button, laid out as the default HTML skin is. The skin file the dialog loads is checked to be
// there (a missing skin fails as it does on Linux) but its page is not interpreted. The six
// script functions of a skin are built in; the close button posts "btnClose".
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/gui.h"

namespace platform::wingui {

class NativeSkin : public ISkinView {
public:
    using CommandHandler = std::function<void(const std::wstring&, const std::wstring&)>;
    // A child window of the dialog with this control id; hidden until shown.
    NativeSkin(HWND hDialog, int nId, CommandHandler onCommand);
    ~NativeSkin() override;
    NativeSkin(const NativeSkin&) = delete;
    NativeSkin& operator=(const NativeSkin&) = delete;

    bool SetWMode(const std::wstring& szMode, DispatchError* pError) override;
    bool SetBackgroundColor(int32_t nColor, DispatchError* pError) override;
    bool LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) override;
    // The layout is taken, but its images are not drawn here yet: the built-in picture (laid
    // out as the default skin) stands in for every native skin.
    bool LoadLayout(const SkinLayout& layout, DispatchError* pError) override;
    void CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                      std::function<void(bool bOk, const DispatchError& error)> done) override;
    bool HasWindow() const override { return m_hWnd != nullptr; }
    void Move(int x, int y, int nWidth, int nHeight) override;
    void Show(bool bShow) override;

    // Draws the skin into the device context at the view's size. Uncovered pixels get the
    // background colour, or are left as they are while the view is transparent (bPicture) or
    // show the dialog's face (on screen).
    void Paint(HDC hDC, bool bPicture) const;
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    struct Bar {
        int nMax = 0;
        int nValue = 0;
        std::wstring strLabel;
    };
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    bool OverClose(LPARAM lParam) const;
    void Redraw();

    HWND m_hWnd = nullptr;
    CommandHandler m_onCommand;
    bool m_bTransparent = false;
    COLORREF m_color = RGB(0xFF, 0xFF, 0xFF);
    bool m_bLoaded = false;
    Bar m_install;
    Bar m_states;
    bool m_bHot = false;
    bool m_bPressed = false;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

}  // namespace platform::wingui
