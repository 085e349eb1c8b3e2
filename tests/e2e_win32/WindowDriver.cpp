// SPDX-License-Identifier: MIT
// Drives a running tavro.exe from outside, as a user would, for the end-to-end check under
// Wine (scripts/windows-e2e-check). It reaches the window only through what any other program
// may use (finding windows, posting messages, filling a standard dialog), so tavro.exe has no
// path of its own for being tested.
//
//   tavro-window-driver wait SECONDS         until the main window is shown
//   tavro-window-driver boxes                every other window shown; fails if tavro.exe hangs
//   tavro-window-driver counter              the group counter's text
//   tavro-window-driver save-as PATH SECONDS fill the open Save as dialog with PATH and save
//   tavro-window-driver close SECONDS        WM_CLOSE to the main window, until it is gone
//
// Exit status 0 on success, 1 when the window or dialog did not do what was asked in time (with
// the reason on standard error), 2 for a wrong command line.
#include <windows.h>

#include <commctrl.h>
#include <dlgs.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char mainWindowClass[] = "TavroMainForm";
constexpr auto pollInterval = std::chrono::milliseconds(50);
// A window that does not answer within this long is hung, and so is tavro.exe.
constexpr UINT answerTimeoutMs = 5000;

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TitleOf(HWND window) {
    char title[512] = {};
    GetWindowTextA(window, title, sizeof title);
    return title;
}

// The message, unless the window's thread does not take it in time (it is hung, or stopped
// in a debugger): false then.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, answerTimeoutMs, &result) != 0;
}

std::string ControlText(HWND control) {
    char text[1024] = {};
    if (!Send(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)))
        return "(no answer)";
    return text;
}

HWND MainWindow() {
    HWND window = FindWindowA(mainWindowClass, nullptr);
    return window && IsWindowVisible(window) ? window : nullptr;
}

// Every shown top-level window but the main window itself: a message box, a standard dialog, a
// progress box of tavro.exe, and also a window of another program (Wine's crash dialog for
// tavro.exe is one). Tool tips come and go with the mouse and are no windows the user must
// answer.
std::vector<HWND> OtherWindows(HWND main) {
    struct Search {
        HWND main;
        std::vector<HWND> found;
    } search{main, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(parameter);
            if (window != s.main && IsWindowVisible(window) && ClassOf(window) != TOOLTIPS_CLASSA)
                s.found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool SameProcess(HWND a, HWND b) {
    DWORD first = 0, second = 0;
    GetWindowThreadProcessId(a, &first);
    GetWindowThreadProcessId(b, &second);
    return first == second;
}

HWND FirstDescendant(HWND parent, const std::string& className) {
    struct Search {
        const std::string& className;
        HWND found;
    } search{className, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM parameter) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(parameter);
            if (ClassOf(child) != s.className)
                return TRUE;
            s.found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename Condition>
bool WaitFor(double seconds, Condition condition) {
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pollInterval);
    }
    return true;
}

int Fail(const std::string& reason) {
    std::fprintf(stderr, "tavro-window-driver: %s\n", reason.c_str());
    return 1;
}

int Wait(double seconds) {
    return WaitFor(seconds, [] { return MainWindow() != nullptr; }) ? 0 : Fail("no Tavro window was shown");
}

int Boxes() {
    const HWND main = MainWindow();
    if (!main)
        return Fail("no Tavro window is shown");
    for (HWND window : OtherWindows(main))
        std::printf("%s%s\t%s\n", SameProcess(window, main) ? "" : "(another program) ", ClassOf(window).c_str(),
                    TitleOf(window).c_str());
    if (!Send(main, WM_NULL, 0, 0))
        return Fail("the Tavro window does not answer");
    return 0;
}

// The counter is the one text label of the window (on its tool bar).
int Counter() {
    const HWND main = MainWindow();
    if (!main)
        return Fail("no Tavro window is shown");
    const HWND label = FirstDescendant(main, "Static");
    if (!label)
        return Fail("the Tavro window has no counter label");
    std::printf("%s\n", ControlText(label).c_str());
    return 0;
}

// The standard file dialog owned by the main window (dialog class "#32770").
HWND FileDialog(HWND main) {
    for (HWND window : OtherWindows(main))
        if (SameProcess(window, main) && ClassOf(window) == "#32770" && GetWindow(window, GW_OWNER) == main &&
            GetDlgItem(window, IDOK))
            return window;
    return nullptr;
}

int SaveAs(const std::string& path, double seconds) {
    const HWND main = MainWindow();
    if (!main)
        return Fail("no Tavro window is shown");
    HWND dialog = nullptr;
    if (!WaitFor(seconds, [&] { return (dialog = FileDialog(main)) != nullptr; }))
        return Fail("no Save as dialog was shown");
    // The explorer-style dialog's file field is the edit field inside its combo box cmb13 (a
    // ComboBoxEx32 holding a ComboBox holding the Edit); the older dialog's is the edit edt1.
    HWND field = GetDlgItem(dialog, cmb13);
    if (field && ClassOf(field) != "Edit")
        field = FirstDescendant(field, "Edit");
    if (!field)
        field = GetDlgItem(dialog, edt1);
    if (!field)
        return Fail("the Save as dialog has no file name field");
    // SetWindowText does not reach a control of another program; the message does.
    Send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    if (ControlText(field) != path)
        return Fail("the Save as dialog's file name field did not take '" + path + "'");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    if (!WaitFor(seconds, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        return Fail("the Save as dialog did not close: '" + TitleOf(dialog) + "' is still shown");
    return 0;
}

int Close(double seconds) {
    const HWND main = MainWindow();
    if (!main)
        return Fail("no Tavro window is shown");
    PostMessageA(main, WM_CLOSE, 0, 0);
    return WaitFor(seconds, [&] { return !IsWindow(main); }) ? 0 : Fail("the Tavro window did not close");
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tavro-window-driver wait SECONDS | boxes | counter | save-as PATH SECONDS | close SECONDS\n");
    return 2;
}

bool Seconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && seconds > 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    double seconds = 0;
    if (args.size() == 2 && args[0] == "wait" && Seconds(argv[2], seconds))
        return Wait(seconds);
    if (args.size() == 1 && args[0] == "boxes")
        return Boxes();
    if (args.size() == 1 && args[0] == "counter")
        return Counter();
    if (args.size() == 3 && args[0] == "save-as" && Seconds(argv[3], seconds))
        return SaveAs(args[1], seconds);
    if (args.size() == 2 && args[0] == "close" && Seconds(argv[2], seconds))
        return Close(seconds);
    return Usage();
}
