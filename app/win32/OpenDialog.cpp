// SPDX-License-Identifier: MIT
#include "OpenDialog.h"

#include "Exceptions.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>

namespace {

// One reference to a COM object, released by its owner.
template <class T>
class TComPtr {
public:
    TComPtr() = default;
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    ~TComPtr() {
        if (object)
            object->Release();
    }
    T** Put() { return &object; }
    void** PutVoid() { return reinterpret_cast<void**>(&object); }
    T* operator->() const { return object; }
    T* Get() const { return object; }

private:
    T* object = nullptr;
};

// COM for this thread while the dialog is open. A thread that runs COM multithreaded already
// cannot host the dialog's windows.
class TComApartment {
public:
    TComApartment() : result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    ~TComApartment() {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
    bool Usable() const { return SUCCEEDED(result); }

private:
    HRESULT result;
};

std::wstring WideFrom(const std::string& text, UINT codePage) {
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string NarrowTo(const std::wstring& text, UINT codePage) {
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

std::string HexResult(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void StartOn(IFileOpenDialog& dialog, const std::string& lastName) {
    const std::wstring name = WideFrom(lastName, CP_ACP);
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        TComPtr<IShellItem> folder;
        if (SUCCEEDED(SHCreateItemFromParsingName(name.substr(0, slash + 1).c_str(), nullptr, IID_IShellItem,
                                                  folder.PutVoid())))
            dialog.SetFolder(folder.Get());
    }
    dialog.SetFileName(slash == std::wstring::npos ? name.c_str() : name.c_str() + slash + 1);
}

void AddPlaces(IFileOpenDialog& dialog, const std::vector<std::string>& places) {
    for (const std::string& place : places) {
        std::wstring folder = WideFrom(place, CP_UTF8);
        std::replace(folder.begin(), folder.end(), L'/', L'\\');
        if (!IsFolder(folder))
            continue;
        TComPtr<IShellItem> item;
        // A place is a convenience: the dialog works without it.
        if (SUCCEEDED(SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_IShellItem, item.PutVoid())))
            dialog.AddPlace(item.Get(), FDAP_TOP);
    }
}

} // namespace

std::optional<std::string> AnsiFileName(const std::wstring& name) {
    // Converted back, the name must be the same: a character without an ANSI form comes out as
    // '?' or as a look-alike ("best fit"), and either names another file or none.
    std::string ansi = NarrowTo(name, CP_ACP);
    if (WideFrom(ansi, CP_ACP) != name)
        return std::nullopt;
    return ansi;
}

TOpenChoice ChooseFileToOpen(HWND owner, const std::string& lastName, const std::vector<std::string>& places) {
    const TComApartment apartment;
    TComPtr<IFileOpenDialog> dialog;
    if (!apartment.Usable() || FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                                       IID_IFileOpenDialog, dialog.PutVoid())))
        return {};
    const COMDLG_FILTERSPEC types[] = {{L"*.txt", L"*.txt"}, {L"All files", L"*.*"}};
    dialog->SetFileTypes(2, types);
    dialog->SetFileTypeIndex(1);
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions((options | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR | FOS_PATHMUSTEXIST) & ~FOS_FILEMUSTEXIST);
    if (!lastName.empty())
        StartOn(*dialog.Get(), lastName);
    AddPlaces(*dialog.Get(), places);

    const HRESULT shown = dialog->Show(owner);
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED))
        return {TOpenChoice::TOutcome::cancelled, {}};
    if (FAILED(shown))
        throw Exception("The file dialog failed (error " + HexResult(shown) + ")");
    TComPtr<IShellItem> item;
    PWSTR path = nullptr;
    HRESULT result = dialog->GetResult(item.Put());
    if (SUCCEEDED(result))
        result = item->GetDisplayName(SIGDN_FILESYSPATH, &path);
    if (FAILED(result))
        throw Exception("The file dialog gave no file name (error " + HexResult(result) + ")");
    const std::wstring wide = path;
    CoTaskMemFree(path);
    const std::optional<std::string> ansi = AnsiFileName(wide);
    if (!ansi)
        throw Exception("Cannot open file " + NarrowTo(wide, CP_ACP) +
                        ": its name has characters that this system's code page (" + std::to_string(GetACP()) +
                        ") cannot hold; rename the file or its folder");
    return {TOpenChoice::TOutcome::chosen, *ansi};
}
