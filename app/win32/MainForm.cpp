// SPDX-License-Identifier: MIT
#include "MainForm.h"

#include "ApplicationWin32.h"
#include "Exceptions.h"
#include "OpenDialog.h"
#include "Resource.h"
#include "SaveReplacing.h"
#include "TaskDialog.h"
#include "UiThread.h"
#include "WindowObject.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

constexpr char windowClassName[] = "TavroMainForm";
constexpr char progressClassName[] = "TavroProgress";
constexpr int statusPanelWidth = 320;
constexpr int toolButtonSize = 39;
// Room for "   99999 group(s) received data" in the label's 20 px font.
constexpr int counterLabelWidth = 320;
constexpr UINT_PTR counterLabelId = 50;

struct TToolButton {
    int command;
    int icon;
    const char* hint;
    bool hidden;
};

// As on Linux: the help button belongs to the tool bar but is hidden, and a gap of 63 pixels
// stands before "Clear".
constexpr TToolButton toolButtons[] = {
    {ID_FILE_OPEN, IDI_TOOL_OPEN, "Open file", false}, {ID_FILE_SAVEAS, IDI_TOOL_SAVE, "Save as", false},
    {ID_FILE_PRINT, IDI_TOOL_PRINT, "Print", false},   {ID_SET_FONT, IDI_TOOL_FONT, "Select font", false},
    {ID_HELP_BUTTON, IDI_TOOL_HELP, "Help", true},     {0, -1, nullptr, false},
    {ID_CLEAR, IDI_TOOL_CLEAR, "Clear", false},
};

// The window's sizes are pixels of a 96 dpi screen, scaled to the screen it is on.
constexpr int designDpi = 96;

// Windows 10 (1607) and later tell each window its monitor's resolution; before, every window
// has the system's.
int WindowDpi(HWND window);

int ScreenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    const auto getDpi = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    const int dpi = getDpi ? static_cast<int>(getDpi(window)) : 0;
    return dpi > 0 ? dpi : ScreenDpi();
}

std::string WindowText(HWND control) {
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

// Progress of long work: shown only once the work has taken half a second, with Cancel.
class TWin32Work : public TViewWork {
public:
    TWin32Work(TWin32Application& application, HWND owner, std::string text, int maximum)
        : application(application), owner(owner), text(std::move(text)), maximum(maximum),
          started(std::chrono::steady_clock::now()) {}
    ~TWin32Work() override {
        if (dialog) {
            EnableWindow(owner, TRUE);
            DestroyWindow(dialog);
        }
    }
    TWin32Work(const TWin32Work&) = delete;
    TWin32Work& operator=(const TWin32Work&) = delete;

    bool Step(int value) override {
        if (!dialog && std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(500))
            Show();
        if (progress)
            SendMessageA(progress, PBM_SETPOS, static_cast<WPARAM>(value), 0);
        // Runs the receivers' calls and the Cancel button's click.
        application.ProcessMessages();
        return !cancelled;
    }
    void SetMaximum(int value) override {
        maximum = value;
        if (progress)
            SendMessageA(progress, PBM_SETRANGE32, 0, maximum);
    }
    void SetText(const std::string& value) override {
        text = value;
        if (label)
            SetWindowTextA(label, text.c_str());
    }

private:
    static LRESULT CALLBACK ProgressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TWin32Work*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE)) {
            self->cancelled = true;
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }

    void Show() {
        const HINSTANCE instance = GetModuleHandleA(nullptr);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = ProgressProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = progressClassName;
        RegisterClassExA(&windowClass); // a second time fails harmlessly: the class is there
        RECT ownerRect{};
        GetWindowRect(owner, &ownerRect);
        dialog = CreateWindowExA(WS_EX_DLGMODALFRAME, progressClassName, "Tavro", WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                 ownerRect.left + 60, ownerRect.top + 120, 400, 140, owner, nullptr, instance, nullptr);
        if (!dialog)
            return; // the work goes on without progress rather than failing
        SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        label = CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 12, 10, 370, 20, dialog, nullptr,
                                instance, nullptr);
        progress = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 12, 36, 370, 18, dialog, nullptr,
                                   instance, nullptr);
        SendMessageA(progress, PBM_SETRANGE32, 0, maximum);
        CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 290, 64, 90, 26, dialog,
                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDCANCEL)), instance, nullptr);
        EnableWindow(owner, FALSE);
        ShowWindow(dialog, SW_SHOW);
    }

    TWin32Application& application;
    HWND owner;
    std::string text;
    int maximum;
    std::chrono::steady_clock::time_point started;
    HWND dialog = nullptr, label = nullptr, progress = nullptr;
    bool cancelled = false;
};

// The port settings dialog's state while it is open.
struct TSettingsDialog {
    std::string portName;
    std::string baudRate;
    bool rateChosen = false;
};

const char* const portNames[] = {"COM1", "COM2", "COM3", "COM4"};
const char* const baudRates[] = {"110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",  "14400",
                                 "19200", "38400", "56000", "57600", "115200", "128000", "256000"};

void SelectText(HWND box, const std::string& text) {
    const LRESULT index =
        SendMessageA(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(box, CB_SETCURSEL, index == CB_ERR ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(index), 0);
}

std::string SelectedText(HWND box) {
    const LRESULT index = SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return {};
    const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    std::string text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, '\0');
    SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::strlen(text.c_str()));
    return text;
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TSettingsDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<TSettingsDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        HWND portBox = GetDlgItem(dialog, IDC_PORTBOX), baudBox = GetDlgItem(dialog, IDC_BAUDBOX);
        for (const char* name : portNames)
            SendMessageA(portBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        for (const char* rate : baudRates)
            SendMessageA(baudBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
        SelectText(portBox, state->portName);
        SelectText(baudBox, state->baudRate);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: // the "Ok" button, and Enter wherever the focus is but on "Cancel" or "Default"
            if (HWND focus = GetFocus(); focus == GetDlgItem(dialog, IDCANCEL)) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            } else if (focus == GetDlgItem(dialog, IDC_DEFAULT)) {
                SendMessageA(dialog, WM_COMMAND, IDC_DEFAULT, 0);
                return TRUE;
            }
            state->portName = SelectedText(GetDlgItem(dialog, IDC_PORTBOX));
            state->baudRate = SelectedText(GetDlgItem(dialog, IDC_BAUDBOX));
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_DEFAULT:
            SelectText(GetDlgItem(dialog, IDC_PORTBOX), "COM1");
            SelectText(GetDlgItem(dialog, IDC_BAUDBOX), "9600");
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

TMainForm::TMainForm(TWin32Application& application) : application(application) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TAVRO));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    windowClass.lpszClassName = windowClassName;
    if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the main window (error " + std::to_string(GetLastError()) + ")");
    accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    // Outer size 577 x 550 at 229, 106, as the window was drawn.
    window = CreateWindowExA(0, windowClassName, "Tavro", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 229, 106, 577, 550,
                             nullptr, nullptr, instance, this);
    if (!window)
        throw Exception("Cannot create the main window (error " + std::to_string(GetLastError()) + ")");
    // Its controls are made at its monitor's resolution already; so is its size.
    if (dpi != designDpi)
        SetWindowPos(window, nullptr, 0, 0, Scaled(577), Scaled(550), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    application.MainWindow = window;
}

TMainForm::~TMainForm() {
    // The behaviour's threads end before the controls they draw on go.
    commands.reset();
    *alive = false;
    if (application.MainWindow == window)
        application.MainWindow = nullptr;
    if (window)
        DestroyWindow(window);
    if (toolImages)
        ImageList_Destroy(toolImages);
    for (HFONT font : {memoFont, counterFont})
        if (font)
            DeleteObject(font);
}

void TMainForm::Attach(std::unique_ptr<TMainFormCommands> behaviour) {
    commands = std::move(behaviour);
    // The first connect's retry box comes before the window shows, owned by it still hidden;
    // its Cancel ends the program without the window ever showing.
    commands->Start();
    UpdateStates();
    if (!application.Terminated()) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        SetFocus(memo->Handle());
    }
}

void TMainForm::Run() {
    MSG message;
    while (!application.Terminated()) {
        if (updatePending && !PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            // The queue is empty: the burst is over.
            updatePending = false;
            UpdateStates();
            continue;
        }
        if (GetMessageA(&message, nullptr, 0, 0) <= 0)
            break;
        updatePending = true;
        if (window && TranslateAcceleratorA(window, accelerators, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void TMainForm::UpdateStates() {
    if (!window)
        return;
    const HMENU menu = GetMenu(window);
    auto enable = [this, menu](int command, bool enabled) {
        EnableMenuItem(menu, static_cast<UINT>(command), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
        SendMessageA(toolBar, TB_ENABLEBUTTON, static_cast<WPARAM>(command), MAKELPARAM(enabled ? TRUE : FALSE, 0));
    };
    const bool attached = commands != nullptr;
    enable(ID_COM_CONNECT, attached && commands->ConnectEnabled());
    enable(ID_COM_DISCONNECT, attached && commands->DisconnectEnabled());
    enable(ID_CLEAR, attached && commands->ClearEnabled());
    if (attached) {
        const std::array<std::string, 2> panels = commands->StatusPanels();
        for (std::size_t i = 0; i < panels.size(); ++i)
            if (StatusText(static_cast<int>(i)) != panels[i])
                SendMessageA(statusBar, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(panels[i].c_str()));
    }
}

std::string TMainForm::StatusText(int panel) const {
    const LRESULT length = SendMessageA(statusBar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(panel), 0);
    std::string text(LOWORD(length) + 1u, '\0');
    SendMessageA(statusBar, SB_GETTEXTA, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::string TMainForm::CounterText() const {
    return WindowText(counterLabel);
}

std::string TMainForm::Text() const {
    return memo->Lines().Text();
}

// ---- Window procedure ----

LRESULT CALLBACK TMainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowObject(hwnd, message, lParam, &TMainForm::window);
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // An error escaping a handler would cross the system's frames: shown here instead.
        self->application.ShowException(std::current_exception());
        return 0;
    }
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {Scaled(300), Scaled(300)};
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_SETFOCUS:
        // Back to the window, the keys go to the text view again.
        if (memo)
            SetFocus(memo->Handle());
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        window = nullptr;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void TMainForm::OnCreate() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    // The hidden menus stay in the resource, and their commands in the accelerators and the
    // window procedure; only the bar does not show them.
    const HMENU menu = GetMenu(window);
    while (GetMenuItemCount(menu) > 1)
        DeleteMenu(menu, 1, MF_BYPOSITION);
    DrawMenuBar(window);

    dpi = WindowDpi(window);
    CreateToolBar();

    memo = std::make_unique<TTextView>(window, instance);
    LOGFONTA font{};
    font.lfHeight = -Scaled(15);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(font.lfFaceName, "Arial");
    SetMemoFont(font);

    statusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window,
                                nullptr, instance, nullptr);
    SetStatusPanels();
}

int TMainForm::Scaled(int designPixels) const {
    return MulDiv(designPixels, dpi, designDpi);
}

void TMainForm::SetStatusPanels() {
    const int edges[] = {Scaled(statusPanelWidth), -1};
    SendMessageA(statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
}

void TMainForm::OnDpiChanged(int newDpi, const RECT& suggested) {
    if (newDpi <= 0)
        return;
    LOGFONTA font = memoLogFont;
    font.lfHeight = MulDiv(font.lfHeight, newDpi, dpi);
    font.lfWidth = MulDiv(font.lfWidth, newDpi, dpi);
    dpi = newDpi;
    SetMemoFont(font);
    // The tool bar is made again at the new size, its images drawn from the icons' own sizes.
    const std::string counter = CounterText();
    DestroyWindow(toolBar);
    ImageList_Destroy(toolImages);
    DeleteObject(counterFont);
    CreateToolBar();
    SetCounterText(counter);
    SetStatusPanels();
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(window, &client);
    OnSize(client.right, client.bottom);
    UpdateStates();
}

void TMainForm::CreateToolBar() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    toolBar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                              WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP | CCS_NODIVIDER, 0, 0,
                              0, 0, window, nullptr, instance, nullptr);
    SendMessageA(toolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const int imageSize = Scaled(32);
    toolImages = ImageList_Create(imageSize, imageSize, ILC_COLOR32 | ILC_MASK, 6, 0);
    std::vector<TBBUTTON> buttons;
    for (const TToolButton& tool : toolButtons) {
        TBBUTTON button{};
        if (tool.command == 0) {
            button.iBitmap = Scaled(63 - 8); // the gap before "Clear"
            button.fsStyle = BTNS_SEP;
        } else {
            auto icon = static_cast<HICON>(
                LoadImageA(instance, MAKEINTRESOURCEA(tool.icon), IMAGE_ICON, imageSize, imageSize, 0));
            button.iBitmap = icon ? ImageList_AddIcon(toolImages, icon) : I_IMAGENONE;
            if (icon)
                DestroyIcon(icon);
            button.idCommand = tool.command;
            button.fsState = static_cast<BYTE>(TBSTATE_ENABLED | (tool.hidden ? TBSTATE_HIDDEN : 0));
            button.fsStyle = BTNS_BUTTON;
        }
        buttons.push_back(button);
    }
    SendMessageA(toolBar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolImages));
    SendMessageA(toolBar, TB_SETBUTTONSIZE, 0, MAKELPARAM(Scaled(toolButtonSize), Scaled(38)));
    SendMessageA(toolBar, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageA(toolBar, TB_AUTOSIZE, 0, 0);

    // The group counter, right of the last button, in a large font.
    RECT last{};
    SendMessageA(toolBar, TB_GETITEMRECT, buttons.size() - 1, reinterpret_cast<LPARAM>(&last));
    counterLabel = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE,
                                   last.right + Scaled(4), 0, Scaled(counterLabelWidth), Scaled(38), toolBar,
                                   reinterpret_cast<HMENU>(counterLabelId), instance, nullptr);
    counterFont = CreateFontA(-Scaled(20), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
    SendMessageA(counterLabel, WM_SETFONT, reinterpret_cast<WPARAM>(counterFont), FALSE);
}

void TMainForm::OnSize(int width, int height) {
    SendMessageA(toolBar, TB_AUTOSIZE, 0, 0);
    SendMessageA(statusBar, WM_SIZE, 0, 0);
    RECT toolRect{}, statusRect{};
    GetWindowRect(toolBar, &toolRect);
    GetWindowRect(statusBar, &statusRect);
    const int top = toolRect.bottom - toolRect.top;
    const int bottom = statusRect.bottom - statusRect.top;
    MoveWindow(memo->Handle(), 0, top, width, std::max(0, height - top - bottom), TRUE);
}

void TMainForm::RunCommand(void (TMainFormCommands::*command)()) {
    if (commands)
        (commands.get()->*command)();
}

void TMainForm::OnCommand(int id) {
    switch (id) {
    case ID_FILE_OPEN:
        RunCommand(&TMainFormCommands::FileOpen);
        break;
    case ID_FILE_SAVEAS:
        RunCommand(&TMainFormCommands::FileSaveAs);
        break;
    case ID_FILE_PRINT:
        RunCommand(&TMainFormCommands::Print);
        break;
    case ID_FILE_EXIT:
        OnClose();
        break;
    case ID_COM_CONNECT:
        RunCommand(&TMainFormCommands::Connect);
        break;
    case ID_COM_DISCONNECT:
        RunCommand(&TMainFormCommands::Disconnect);
        break;
    case ID_COM_SETTING:
        RunCommand(&TMainFormCommands::Setting);
        break;
    case ID_CLEAR:
        RunCommand(&TMainFormCommands::Clear);
        break;
    case ID_SET_FONT:
        actSetFontExecute();
        break;
    default:
        // The language and help items, and the hidden help button: as on Linux, nothing yet.
        break;
    }
}

LRESULT TMainForm::OnNotify(NMHDR& header) {
    if (header.code == TTN_GETDISPINFOA) {
        auto& info = reinterpret_cast<NMTTDISPINFOA&>(header);
        for (const TToolButton& tool : toolButtons)
            if (tool.command != 0 && static_cast<UINT_PTR>(tool.command) == header.idFrom)
                info.lpszText = const_cast<char*>(tool.hint);
    }
    return 0;
}

void TMainForm::OnClose() {
    application.Terminate();
}

// ---- The view the behaviour draws on ----

void TMainForm::AppendLines(const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    memo->EditLines().Append(lines);
    memo->Changed(true);
}

void TMainForm::ClearText() {
    memo->EditLines().Clear();
    memo->Changed(true);
}

int TMainForm::LineCount() const {
    return memo->Lines().Count();
}

bool TMainForm::EndsWithLineEnd() const {
    return memo->Lines().EndsWithLineEnd();
}

std::string TMainForm::LineText(int line) const {
    return std::string(memo->Lines().Line(line));
}

void TMainForm::SetCounterText(const std::string& text) {
    SetWindowTextA(counterLabel, text.c_str());
}

TViewAnswer TMainForm::ShowMessage(const TViewMessage& message) {
    UINT type = message.icon == TViewIcon::warning ? MB_ICONWARNING : MB_ICONQUESTION;
    switch (message.buttons) {
    case TViewButtons::ok:
        type |= MB_OK;
        break;
    case TViewButtons::okCancel:
        type |= MB_OKCANCEL | (message.defaultAnswer == TViewAnswer::cancel ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
        break;
    case TViewButtons::retryCancel:
        type |= MB_RETRYCANCEL | (message.defaultAnswer == TViewAnswer::cancel ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
        break;
    }
    const std::string caption = message.caption.empty() ? application.Title : message.caption;
    std::optional<int> button;
    if (!message.detail.empty())
        button = ShowTaskDialog(window, message, caption);
    if (!button) {
        std::string text = message.text;
        if (!message.detail.empty())
            text += "\n\n" + message.detail;
        button = MessageBoxA(window, text.c_str(), caption.c_str(), type);
    }
    switch (*button) {
    case IDOK:
        return TViewAnswer::ok;
    case IDRETRY:
        return TViewAnswer::retry;
    default:
        return TViewAnswer::cancel;
    }
}

std::optional<TPortSettings> TMainForm::AskPortSettings(const std::string& portName, std::int32_t baudRate) {
    TSettingsDialog state{portName, std::to_string(baudRate)};
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_COMMSETTINGS), window,
                                           SettingsProc, reinterpret_cast<LPARAM>(&state));
    if (result == -1)
        throw Exception("Cannot show the port settings (error " + std::to_string(GetLastError()) + ")");
    if (result != IDOK)
        return std::nullopt;
    if (state.baudRate.empty())
        throw EConvertError("'' is not a valid integer value");
    return TPortSettings{state.portName, std::stoi(state.baudRate)};
}

void TMainForm::AddOpenPlace(const std::string& folder) {
    openPlaces.push_back(folder);
}

std::optional<std::string> TMainForm::ChooseFile(TFileDialog dialog) {
    // Each dialog offers the name chosen last in it, as the open and save dialogs of the
    // window keep theirs; only "Save as" adds ".txt" to a name without an extension.
    const bool open = dialog == TFileDialog::open;
    std::string& lastName = open ? lastOpenName : lastSaveName;
    if (open) {
        const TOpenChoice choice = ChooseFileToOpen(window, lastName, openPlaces);
        if (choice.outcome == TOpenChoice::TOutcome::cancelled)
            return std::nullopt;
        if (choice.outcome == TOpenChoice::TOutcome::chosen) {
            lastName = choice.fileName;
            return lastName;
        }
    }
    char name[MAX_PATH * 4] = {};
    const std::size_t copied = lastName.copy(name, sizeof name - 1);
    name[copied] = '\0';
    OPENFILENAMEA box{};
    box.lStructSize = sizeof box;
    box.hwndOwner = window;
    box.lpstrFilter = "*.txt\0*.txt\0All files\0*.*\0";
    box.lpstrFile = name;
    box.nMaxFile = sizeof name;
    box.lpstrDefExt = open ? nullptr : "txt";
    box.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | (open ? OFN_PATHMUSTEXIST : OFN_OVERWRITEPROMPT);
    const BOOL chosen = open ? GetOpenFileNameA(&box) : GetSaveFileNameA(&box);
    if (!chosen) {
        if (const DWORD error = CommDlgExtendedError())
            throw Exception("The file dialog failed (error " + std::to_string(error) + ")");
        return std::nullopt;
    }
    lastName = name;
    return lastName;
}

std::unique_ptr<TViewWork> TMainForm::BeginLongWork(const std::string& text, int maximum) {
    return std::make_unique<TWin32Work>(application, window, text, maximum);
}

bool TMainForm::WalkLines(int lines, TViewWork& work, int progressBase,
                          const std::function<void(const std::string& line)>& take) {
    constexpr int linesPerStep = 4096;
    for (int line = 0; line < lines; ++line) {
        take(LineText(line));
        if ((line + 1) % linesPerStep == 0 && !work.Step(progressBase + line + 1))
            return false;
    }
    return work.Step(progressBase + lines);
}

void TMainForm::ReplaceText(std::string text, int oldLines, bool oldEndsWithLineEnd, TViewWork& work,
                            int progressBase) {
    // The new text is split into lines in pieces, with the receivers' calls between them; the
    // view keeps the old text (and the groups that arrive) until the new one is whole, so a
    // cancel leaves it as it was.
    static_cast<void>(oldEndsWithLineEnd);
    constexpr std::size_t piece = 1 << 20;
    TTextLines replacement;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        replacement.AppendText(std::string_view(text).substr(at, piece));
        if (!work.Step(progressBase))
            return;
    }
    text = {};
    // Groups that arrived while the command ran follow the new text: appending after an
    // unended last line starts a new line, so they begin at line oldLines either way.
    const TTextLines& shown = memo->Lines();
    std::vector<std::string> arrived;
    for (int line = oldLines; line < shown.Count(); ++line)
        arrived.emplace_back(shown.Line(line));
    replacement.Append(arrived);
    memo->EditLines().Swap(replacement);
    memo->Changed(true);
}

TWriteResult TMainForm::WriteFileReplacing(const std::string& name, const std::string& bytes, TViewWork& work,
                                           int progressBase) {
    if (!work.Step(progressBase))
        return TWriteResult::cancelled;
    // Written on a thread of its own so that the receivers stay answered meanwhile. Once the
    // write has begun it runs to its end: the old file is replaced only by a whole new one.
    std::atomic<bool> done{false};
    bool saved = false;
    {
        const std::jthread writer([&] {
            try {
                SaveFileReplacing(std::filesystem::path(name), bytes);
                saved = true;
            } catch (...) {
                saved = false;
            }
            done = true;
            WakeUiThread();
        });
        while (!done) {
            work.Step(progressBase);
            if (!done)
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    return saved ? TWriteResult::written : TWriteResult::failed;
}

std::unique_ptr<TViewPrintJob> TMainForm::BeginPrint() {
    TPrintDialog::TChoice choice = PrintDialog1.Execute(window);
    if (!choice.printer)
        return nullptr;
    return PrintOn(std::move(choice.printer), choice.output);
}

std::unique_ptr<TViewPrintJob> TMainForm::PrintOn(TPrinterDC printer, const std::string& output) {
    const TPrintFont font{memoLogFont, dpi, fontColour.value_or(RGB(0, 0, 0))};
    return BeginGdiPrintJob(
        std::move(printer), font, [this](int line) { return LineText(line); },
        [this](const std::string& message) { application.ShowException(std::make_exception_ptr(EPrinter(message))); },
        output);
}

// ---- Font ----

void TMainForm::actSetFontExecute() {
    // The dialog measures heights in pixels of the system's resolution, the view in its monitor's.
    LOGFONTA font = memoLogFont;
    font.lfHeight = MulDiv(font.lfHeight, ScreenDpi(), dpi);
    CHOOSEFONTA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpLogFont = &font;
    dialog.Flags = CF_INITTOLOGFONTSTRUCT | CF_SCREENFONTS | CF_EFFECTS;
    const COLORREF shownColour = fontColour.value_or(RGB(0, 0, 0));
    dialog.rgbColors = shownColour;
    if (!ChooseFontA(&dialog)) {
        if (const DWORD error = CommDlgExtendedError())
            throw Exception("The font dialog failed (error " + std::to_string(error) + ")");
        return;
    }
    if (dialog.rgbColors != shownColour) {
        fontColour = dialog.rgbColors;
        memo->SetTextColour(fontColour);
    }
    font.lfHeight = MulDiv(font.lfHeight, dpi, ScreenDpi());
    SetMemoFont(font);
}

void TMainForm::SetMemoFont(const LOGFONTA& font) {
    const HFONT made = CreateFontIndirectA(&font);
    if (!made)
        throw Exception("Cannot make the font " + std::string(font.lfFaceName) + " (error " +
                        std::to_string(GetLastError()) + ")");
    memo->SetFont(made);
    if (memoFont)
        DeleteObject(memoFont);
    memoFont = made;
    memoLogFont = font;
}

void TMainForm::PostToWindow(std::function<void()> call) {
    std::weak_ptr<bool> windowAlive = alive;
    PostToUiThread([this, windowAlive, call = std::move(call)] {
        if (windowAlive.expired() || !commands)
            return;
        call();
        // What it changed may show in the commands' states or the status line.
        updatePending = true;
    });
}

void TMainForm::Terminate() {
    application.Terminate();
}

bool TMainForm::Terminating() const {
    return application.Terminated();
}
