// SPDX-License-Identifier: MIT
#pragma once

#include "TextLines.h"

#include <windows.h>

#include <optional>
#include <string>

// The read-only text view: a child window that draws only the lines in sight of a TTextLines,
// so that a whole day's session (tens of megabytes) is shown, appended to and replaced at the
// cost of what changed. The system's edit controls lay out their whole text again on every
// change, which takes minutes at that size. It offers what a read-only edit control does:
// scrolling by bars, wheel and keys, a caret, selecting with mouse and keys, Copy and Select
// All (keys and the context menu), tabs at stops every eight average character widths.
class TTextView {
public:
    TTextView(HWND parent, HINSTANCE instance);
    ~TTextView();
    TTextView(const TTextView&) = delete;
    TTextView& operator=(const TTextView&) = delete;

    HWND Handle() const { return window; }
    const TTextLines& Lines() const { return lines; }
    // Change the lines through this, then call Changed.
    TTextLines& EditLines() { return lines; }
    // After the lines changed: with toEnd, the caret goes after the last character and the view
    // to the bottom and the left edge, as after an appended group; otherwise the caret and
    // selection stay where they still can.
    void Changed(bool toEnd);

    // The font lines are drawn in (WM_SETFONT does the same); the view does not own it.
    void SetFont(HFONT font);
    HFONT Font() const { return font; }
    // The colour lines are drawn in; the system's text colour unless one is given.
    void SetTextColour(std::optional<COLORREF> colour);

    struct TPosition {
        int line = 0;
        int column = 0; // bytes into the line
        friend bool operator==(const TPosition&, const TPosition&) = default;
    };
    void Select(TPosition anchor, TPosition caret);
    void SelectAll();
    // The selected text, lines joined by CR LF.
    std::string SelectedText() const;
    // Puts the selected text on the clipboard; false when there is none or the clipboard is busy.
    bool CopySelection();
    int TopLine() const { return top; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void OnKeyDown(WPARAM key);
    void OnMouse(UINT message, int x, int y, WPARAM keys);
    void OnContextMenu(int x, int y);
    void OnScroll(int bar, int request);
    void ScrollTo(int line, int pixel);
    void UpdateScrollBars();
    void UpdateMetrics();
    void MoveCaret(TPosition to, bool extend);
    void ShowCaretAt();
    void EnsureCaretVisible();
    int Rows() const; // lines the text takes, with the empty one after a final line end
    int RowsInSight() const;
    int LineX(HDC dc, int line, int column) const;
    TPosition Hit(int x, int y) const;
    TPosition End() const;
    static bool Before(TPosition a, TPosition b);
    TPosition Clamp(TPosition position) const;
    // Draws one line; its width in pixels.
    int DrawLine(HDC dc, int line, int y, int clientWidth) const;

    HWND window = nullptr;
    HFONT font = nullptr;
    std::optional<COLORREF> textColour;
    TTextLines lines;
    int top = 0;  // first line in sight
    int left = 0; // pixels scrolled to the right
    int lineHeight = 16;
    int charWidth = 7;
    int tabWidth = 56;
    int width = 0, height = 0;
    int wheelRest = 0;
    int seenWidth = 0; // the widest line drawn since the text was emptied or the font changed
    TPosition anchor, caret;
    bool focused = false;
    bool dragging = false;
};
