// The skin on Windows: a native skin layout drawn with GDI+ (see SkinPainter) in a child window
// of the dialog. No web engine runs here, so a page skin cannot be loaded: the dialog shows its
// default skin instead. The six script functions of a skin are built in; the close button sends
// the layout's command. With ORVO_SKIN_TRACE set, each call received is also reported as a
// "trace" command (function name and arguments, tab-separated), as on Linux.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui.h"
#include "platform/windows/skin_painter.h"

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
    bool LoadLayout(const SkinLayout& layout, DispatchError* pError) override;
    void CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                      std::function<void(bool bOk, const DispatchError& error)> done) override;
    bool HasWindow() const override { return m_hWnd != nullptr; }
    void Move(int x, int y, int nWidth, int nHeight) override;
    void Show(bool bShow) override;

    // Draws the skin over premultiplied BGRA pixels, top-down rows. Uncovered pixels get the
    // background colour, or are left as they are while the view is transparent. False when no
    // skin is loaded or GDI+ fails.
    bool Paint(uint8_t* pBits, int nWidth, int nHeight, int nStride) const;
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    bool OverClose(LPARAM lParam) const;
    void SetLook(ButtonLook look);
    void PaintScreen(HDC hDC);
    void Redraw();

    HWND m_hWnd = nullptr;
    CommandHandler m_onCommand;
    bool m_bTransparent = false;
    COLORREF m_color = RGB(0xFF, 0xFF, 0xFF);
    bool m_bTrace = false;
    std::unique_ptr<SkinPainter> m_painter;
    SkinState m_state;
    ButtonLook m_look = ButtonLook::Normal;
    bool m_bPressed = false;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

}  // namespace platform::wingui
