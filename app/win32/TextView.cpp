// SPDX-License-Identifier: MIT
#include "TextView.h"

#include "PrintLayout.h"
#include "WindowObject.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr char viewClassName[] = "TavroTextView";
constexpr int margin = 2;
constexpr UINT copyCommand = 1;
constexpr UINT selectAllCommand = 2;

// Selects the view's font into a device context for as long as it lives.
class TFontDc {
public:
    TFontDc(HWND window, HFONT font) : window(window), dc(GetDC(window)) {
        if (dc && font)
            old = SelectObject(dc, font);
    }
    ~TFontDc() {
        if (dc) {
            if (old)
                SelectObject(dc, old);
            ReleaseDC(window, dc);
        }
    }
    TFontDc(const TFontDc&) = delete;
    TFontDc& operator=(const TFontDc&) = delete;
    operator HDC() const { return dc; }

private:
    HWND window;
    HDC dc;
    HGDIOBJ old = nullptr;
};

int TextWidth(HDC dc, std::string_view text) {
    SIZE size{};
    if (text.empty() || !GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size))
        return 0;
    return size.cx;
}

int NextTabStop(int x, int tabWidth) {
    return (x / tabWidth + 1) * tabWidth;
}

} // namespace

TTextView::TTextView(HWND parent, HINSTANCE instance) {
    WNDCLASSEXA viewClass{};
    viewClass.cbSize = sizeof viewClass;
    viewClass.style = CS_DBLCLKS;
    viewClass.lpfnWndProc = WindowProc;
    viewClass.hInstance = instance;
    viewClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32513)); // the I-beam
    viewClass.lpszClassName = viewClassName;
    RegisterClassExA(&viewClass); // a second time fails harmlessly: the class is there
    window = CreateWindowExA(WS_EX_CLIENTEDGE, viewClassName, "",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, 0, 0, 0, 0, parent, nullptr,
                             instance, this);
    UpdateMetrics();
    UpdateScrollBars();
}

TTextView::~TTextView() {
    if (window) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
}

void TTextView::SetFont(HFONT newFont) {
    font = newFont;
    seenWidth = 0; // measured again as lines are drawn
    UpdateMetrics();
    UpdateScrollBars();
    if (focused)
        ShowCaretAt();
    InvalidateRect(window, nullptr, FALSE);
}

void TTextView::SetTextColour(std::optional<COLORREF> colour) {
    textColour = colour;
    InvalidateRect(window, nullptr, FALSE);
}

void TTextView::UpdateMetrics() {
    if (!window)
        return;
    const TFontDc dc(window, font);
    TEXTMETRICA metrics{};
    if (dc && GetTextMetricsA(dc, &metrics)) {
        lineHeight = std::max<int>(1, metrics.tmHeight);
        charWidth = std::max<int>(1, metrics.tmAveCharWidth);
    }
    tabWidth = TPrintLayout::tabStopChars * charWidth;
    if (focused) {
        DestroyCaret();
        CreateCaret(window, nullptr, 1, lineHeight);
        ShowCaret(window);
    }
}

void TTextView::Changed(bool toEnd) {
    if (lines.Count() == 0)
        seenWidth = 0;
    if (toEnd) {
        caret = anchor = End();
        top = std::max(0, Rows() - RowsInSight());
        left = 0;
    } else {
        caret = Clamp(caret);
        anchor = Clamp(anchor);
        top = std::clamp(top, 0, std::max(0, Rows() - 1));
    }
    UpdateScrollBars();
    if (focused)
        ShowCaretAt();
    InvalidateRect(window, nullptr, FALSE);
}

int TTextView::Rows() const {
    return std::max(1, lines.Count() + (lines.EndsWithLineEnd() ? 1 : 0));
}

int TTextView::RowsInSight() const {
    return std::max(1, height / lineHeight);
}

TTextView::TPosition TTextView::End() const {
    if (lines.Count() == 0)
        return {};
    if (lines.EndsWithLineEnd())
        return {lines.Count(), 0};
    const int last = lines.Count() - 1;
    return {last, static_cast<int>(lines.Line(last).size())};
}

TTextView::TPosition TTextView::Clamp(TPosition position) const {
    const TPosition end = End();
    if (position.line >= end.line)
        return position.line == end.line ? TPosition{end.line, std::min(position.column, end.column)} : end;
    const int length = static_cast<int>(lines.Line(std::max(position.line, 0)).size());
    return {std::max(position.line, 0), std::clamp(position.column, 0, length)};
}

void TTextView::Select(TPosition newAnchor, TPosition newCaret) {
    anchor = Clamp(newAnchor);
    caret = Clamp(newCaret);
    EnsureCaretVisible();
    InvalidateRect(window, nullptr, FALSE);
}

void TTextView::SelectAll() {
    Select({}, End());
}

bool TTextView::Before(TPosition a, TPosition b) {
    return a.line < b.line || (a.line == b.line && a.column < b.column);
}

std::string TTextView::SelectedText() const {
    const TPosition from = Before(caret, anchor) ? caret : anchor;
    const TPosition to = Before(caret, anchor) ? anchor : caret;
    std::string text;
    for (int line = from.line; line <= to.line && line < lines.Count(); ++line) {
        const std::string_view whole = lines.Line(line);
        const std::size_t begin = line == from.line ? static_cast<std::size_t>(from.column) : 0;
        const std::size_t end = line == to.line ? static_cast<std::size_t>(to.column) : whole.size();
        if (begin < end)
            text += whole.substr(begin, end - begin);
        if (line < to.line)
            text += "\r\n";
    }
    return text;
}

bool TTextView::CopySelection() {
    const std::string text = SelectedText();
    if (text.empty() || !OpenClipboard(window))
        return false;
    bool copied = false;
    EmptyClipboard();
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
        if (void* data = GlobalLock(memory)) {
            std::memcpy(data, text.c_str(), text.size() + 1);
            GlobalUnlock(memory);
            copied = SetClipboardData(CF_TEXT, memory) != nullptr;
        }
        if (!copied)
            GlobalFree(memory);
    }
    CloseClipboard();
    return copied;
}

// ---- Scrolling ----

void TTextView::UpdateScrollBars() {
    if (!window)
        return;
    SCROLLINFO vertical{sizeof vertical,
                        SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL,
                        0,
                        Rows() - 1,
                        static_cast<UINT>(RowsInSight()),
                        top,
                        0};
    SetScrollInfo(window, SB_VERT, &vertical, TRUE);
    // As wide as the widest line drawn so far: measuring every line of a large text would cost
    // what the view is there to save.
    const int textWidth = seenWidth + 2 * margin + charWidth;
    SCROLLINFO horizontal{sizeof horizontal,
                          SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL,
                          0,
                          textWidth - 1,
                          static_cast<UINT>(std::max(width, 1)),
                          left,
                          0};
    SetScrollInfo(window, SB_HORZ, &horizontal, TRUE);
}

void TTextView::ScrollTo(int line, int pixel) {
    const int newTop = std::clamp(line, 0, std::max(0, Rows() - RowsInSight()));
    SCROLLINFO horizontal{sizeof horizontal, SIF_RANGE | SIF_PAGE, 0, 0, 0, 0, 0};
    GetScrollInfo(window, SB_HORZ, &horizontal);
    const int maxLeft = std::max(0, horizontal.nMax - static_cast<int>(horizontal.nPage) + 1);
    const int newLeft = std::clamp(pixel, 0, std::max(maxLeft, left));
    if (newTop == top && newLeft == left)
        return;
    top = newTop;
    left = newLeft;
    UpdateScrollBars();
    if (focused)
        ShowCaretAt();
    InvalidateRect(window, nullptr, FALSE);
}

void TTextView::OnScroll(int bar, int request) {
    SCROLLINFO info{sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(window, bar, &info);
    const int page = static_cast<int>(info.nPage);
    const int step = bar == SB_VERT ? 1 : charWidth;
    int position = info.nPos;
    switch (request) {
    case SB_LINEUP:
        position -= step;
        break;
    case SB_LINEDOWN:
        position += step;
        break;
    case SB_PAGEUP:
        position -= std::max(page - step, step);
        break;
    case SB_PAGEDOWN:
        position += std::max(page - step, step);
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        position = info.nTrackPos;
        break; // 32 bits, unlike the message's
    case SB_TOP:
        position = 0;
        break;
    case SB_BOTTOM:
        position = info.nMax;
        break;
    default:
        return;
    }
    if (bar == SB_VERT)
        ScrollTo(position, left);
    else
        ScrollTo(top, position);
}

void TTextView::EnsureCaretVisible() {
    int newTop = top;
    if (caret.line < top)
        newTop = caret.line;
    else if (caret.line >= top + RowsInSight())
        newTop = caret.line - RowsInSight() + 1;
    int newLeft = left;
    const TFontDc dc(window, font);
    const int x = LineX(dc, caret.line, caret.column);
    if (x < margin)
        newLeft = std::max(0, left + x - margin - width / 4);
    else if (x > width - margin - 1)
        newLeft = left + x - width + width / 4;
    ScrollTo(newTop, newLeft);
    if (focused)
        ShowCaretAt();
}

// ---- Geometry ----

// The x of a column in client pixels: tabs advance to the next stop, as they are drawn.
int TTextView::LineX(HDC dc, int line, int column) const {
    const std::string_view text = lines.Line(line).substr(0, static_cast<std::size_t>(std::max(column, 0)));
    int x = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t tab = std::min(text.find('\t', at), text.size());
        x += TextWidth(dc, text.substr(at, tab - at));
        if (tab == text.size())
            break;
        x = NextTabStop(x, tabWidth);
        at = tab + 1;
    }
    return margin - left + x;
}

TTextView::TPosition TTextView::Hit(int x, int y) const {
    const int line = std::clamp(top + (y < 0 ? (y - lineHeight + 1) / lineHeight : y / lineHeight), 0, Rows() - 1);
    const std::string_view text = lines.Line(line);
    const TFontDc dc(window, font);
    // The column whose left edge is nearest: runs between tabs are measured a character at a
    // time by the system in one call.
    int runX = margin - left;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t tab = std::min(text.find('\t', at), text.size());
        const std::string_view run = text.substr(at, tab - at);
        std::vector<int> ends(run.size());
        SIZE size{};
        if (!run.empty())
            GetTextExtentExPointA(dc, run.data(), static_cast<int>(run.size()), 0, nullptr, ends.data(), &size);
        int previous = 0;
        for (std::size_t i = 0; i < run.size(); ++i) {
            if (x < runX + (previous + ends[i]) / 2)
                return Clamp({line, static_cast<int>(at + i)});
            previous = ends[i];
        }
        runX += run.empty() ? 0 : ends.back();
        if (tab == text.size())
            break;
        const int stop = margin - left + NextTabStop(runX - (margin - left), tabWidth);
        if (x < (runX + stop) / 2)
            return Clamp({line, static_cast<int>(tab)});
        runX = stop;
        at = tab + 1;
    }
    return Clamp({line, static_cast<int>(text.size())});
}

// ---- Drawing ----

int TTextView::DrawLine(HDC dc, int line, int y, int clientWidth) const {
    const std::string_view text = lines.Line(line);
    int x = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t tab = std::min(text.find('\t', at), text.size());
        const std::string_view run = text.substr(at, tab - at);
        const int runWidth = TextWidth(dc, run);
        // Only what can be in sight: long lines scrolled far to the left cost nothing.
        if (margin - left + x < clientWidth && margin - left + x + runWidth > 0)
            TextOutA(dc, margin - left + x, y, run.data(), static_cast<int>(run.size()));
        x += runWidth;
        if (tab == text.size())
            break;
        x = NextTabStop(x, tabWidth);
        at = tab + 1;
    }
    return x;
}

void TTextView::OnPaint() {
    PAINTSTRUCT paint;
    const HDC screen = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    // Drawn off screen and copied at once, so scrolling and appending do not flicker.
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap =
        CreateCompatibleBitmap(screen, std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1));
    const HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    const HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);

    const TPosition from = Before(caret, anchor) ? caret : anchor;
    const TPosition to = Before(caret, anchor) ? anchor : caret;
    const int rows = RowsInSight() + 1;
    int widest = seenWidth;
    for (int row = 0; row < rows; ++row) {
        const int line = top + row;
        if (line >= lines.Count())
            break;
        const int y = row * lineHeight;
        SetTextColor(dc, textColour.value_or(GetSysColor(COLOR_WINDOWTEXT)));
        widest = std::max(widest, DrawLine(dc, line, y, client.right));
        if (line < from.line || line > to.line || from == to)
            continue;
        // The selected part again, in the selection's colours, clipped to it; a selected line
        // end shows as one character's width.
        const int startX = line == from.line ? LineX(dc, line, from.column) : margin - left;
        int endX = LineX(dc, line, line == to.line ? to.column : static_cast<int>(lines.Line(line).size()));
        if (line < to.line)
            endX += charWidth;
        if (endX <= startX)
            continue;
        const RECT selected{startX, y, endX, y + lineHeight};
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, selected.left, selected.top, selected.right, selected.bottom);
        FillRect(dc, &selected, GetSysColorBrush(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE));
        SetTextColor(dc,
                     focused ? GetSysColor(COLOR_HIGHLIGHTTEXT) : textColour.value_or(GetSysColor(COLOR_WINDOWTEXT)));
        DrawLine(dc, line, y, client.right);
        RestoreDC(dc, saved);
    }
    BitBlt(screen, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    if (oldFont)
        SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(window, &paint);
    if (widest > seenWidth) {
        seenWidth = widest;
        UpdateScrollBars();
    }
}

void TTextView::ShowCaretAt() {
    const TFontDc dc(window, font);
    SetCaretPos(LineX(dc, caret.line, caret.column), (caret.line - top) * lineHeight);
}

// ---- Input ----

void TTextView::MoveCaret(TPosition to, bool extend) {
    caret = Clamp(to);
    if (!extend)
        anchor = caret;
    EnsureCaretVisible();
    InvalidateRect(window, nullptr, FALSE);
}

void TTextView::OnKeyDown(WPARAM key) {
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const auto length = [this](int line) { return static_cast<int>(lines.Line(line).size()); };
    TPosition to = caret;
    switch (key) {
    case VK_LEFT:
        to = caret.column > 0 ? TPosition{caret.line, caret.column - 1}
             : caret.line > 0 ? TPosition{caret.line - 1, length(caret.line - 1)}
                              : caret;
        break;
    case VK_RIGHT:
        to = caret.column < length(caret.line) ? TPosition{caret.line, caret.column + 1} : TPosition{caret.line + 1, 0};
        break;
    case VK_UP:
        to = {caret.line - 1, caret.column};
        break;
    case VK_DOWN:
        to = {caret.line + 1, caret.column};
        break;
    case VK_PRIOR:
        to = {caret.line - RowsInSight(), caret.column};
        break;
    case VK_NEXT:
        to = {caret.line + RowsInSight(), caret.column};
        break;
    case VK_HOME:
        to = control ? TPosition{} : TPosition{caret.line, 0};
        break;
    case VK_END:
        to = control ? End() : TPosition{caret.line, length(caret.line)};
        break;
    case 'A':
        if (control)
            SelectAll();
        return;
    case 'C':
    case VK_INSERT:
        if (control)
            CopySelection();
        return;
    default:
        return;
    }
    if (to.line < 0)
        to = {};
    MoveCaret(to, shift);
}

void TTextView::OnMouse(UINT message, int x, int y, WPARAM keys) {
    switch (message) {
    case WM_LBUTTONDOWN:
        SetFocus(window);
        SetCapture(window);
        dragging = true;
        MoveCaret(Hit(x, y), (keys & MK_SHIFT) != 0);
        break;
    case WM_MOUSEMOVE:
        if (dragging)
            MoveCaret(Hit(x, y), true);
        break;
    case WM_LBUTTONUP:
        if (dragging) {
            dragging = false;
            ReleaseCapture();
        }
        break;
    case WM_LBUTTONDBLCLK: {
        // The word under the pointer, as an edit control selects it.
        const TPosition at = Hit(x, y);
        const std::string_view text = lines.Line(at.line);
        const auto space = [](char c) { return c == ' ' || c == '\t'; };
        int from = at.column, to = at.column;
        while (from > 0 && !space(text[static_cast<std::size_t>(from - 1)]))
            --from;
        while (to < static_cast<int>(text.size()) && !space(text[static_cast<std::size_t>(to)]))
            ++to;
        Select({at.line, from}, {at.line, to});
        break;
    }
    }
}

void TTextView::OnContextMenu(int x, int y) {
    const HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    AppendMenuA(menu, MF_STRING | (anchor == caret ? MF_GRAYED : 0), copyCommand, "&Copy\tCtrl+C");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (lines.Count() == 0 ? MF_GRAYED : 0), selectAllCommand, "Select &All\tCtrl+A");
    if (x == -1 && y == -1) { // from the keyboard: at the caret
        const TFontDc dc(window, font);
        POINT at{LineX(dc, caret.line, caret.column), (caret.line - top + 1) * lineHeight};
        ClientToScreen(window, &at);
        x = at.x;
        y = at.y;
    }
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, window, nullptr));
    DestroyMenu(menu);
    if (chosen == copyCommand)
        CopySelection();
    else if (chosen == selectAllCommand)
        SelectAll();
}

// ---- Window procedure ----

LRESULT CALLBACK TTextView::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowObject(hwnd, message, lParam, &TTextView::window);
    return self ? self->HandleMessage(message, wParam, lParam) : DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT TTextView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_NCDESTROY:
        window = nullptr; // gone with its parent
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint covers everything
    case WM_SIZE:
        width = LOWORD(lParam);
        height = HIWORD(lParam);
        UpdateScrollBars();
        ScrollTo(top, left);
        return 0;
    case WM_VSCROLL:
        OnScroll(SB_VERT, LOWORD(wParam));
        return 0;
    case WM_HSCROLL:
        OnScroll(SB_HORZ, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL: {
        UINT perNotch = 3;
        SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &perNotch, 0);
        wheelRest += GET_WHEEL_DELTA_WPARAM(wParam);
        const int notches = wheelRest / WHEEL_DELTA;
        wheelRest -= notches * WHEEL_DELTA;
        const int rows = perNotch == WHEEL_PAGESCROLL ? RowsInSight() : static_cast<int>(perNotch);
        ScrollTo(top - notches * rows, left);
        return 0;
    }
    case WM_KEYDOWN:
        OnKeyDown(wParam);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDBLCLK:
        OnMouse(message, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), wParam);
        return 0;
    case WM_CAPTURECHANGED:
        dragging = false;
        return 0;
    case WM_CONTEXTMENU:
        OnContextMenu(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_SETFOCUS:
        focused = true;
        CreateCaret(window, nullptr, 1, lineHeight);
        ShowCaretAt();
        ShowCaret(window);
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_KILLFOCUS:
        focused = false;
        DestroyCaret();
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_SETFONT:
        SetFont(reinterpret_cast<HFONT>(wParam));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font);
    case WM_COPY:
        CopySelection();
        return 0;
    // The text for whoever asks the window for it (screen readers, other programs' tools).
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(std::min<std::int64_t>(lines.Bytes(), 0x7FFFFFFF));
    case WM_GETTEXT: {
        if (wParam == 0)
            return 0;
        const std::string text = lines.Text();
        const std::size_t copied = std::min<std::size_t>(text.size(), static_cast<std::size_t>(wParam) - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), text.data(), copied);
        reinterpret_cast<char*>(lParam)[copied] = '\0';
        return static_cast<LRESULT>(copied);
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
