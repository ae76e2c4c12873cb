// Starts KqtSetup on the Wine desktop this program runs on, waits until its main window with the Korean
// caption is shown, and reports through files (a program started through "explorer /desktop=NAME" has no
// way back to its caller): "found" or "missing" into <result>; once <result>.close exists it ends the
// installer as its cancel button would and writes "closed".
//
//   installer_window <KqtSetup.exe> <seconds> <result>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t kCaption[] = L"Velmora Systems KQT-50 프린터 인스톨러";

BOOL CALLBACK Match(HWND window, LPARAM found) {
    wchar_t text[256] = {};
    if (IsWindowVisible(window) && GetWindowTextW(window, text, 256) > 0 && std::wcscmp(text, kCaption) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void Report(const std::wstring& file, const char* text) {
    if (FILE* f = _wfopen(file.c_str(), L"wb")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: installer_window <KqtSetup.exe> <seconds> <result>\n", stderr);
        return 2;
    }
    const std::wstring result = argv[3];
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        Report(result, "missing\n");
        return 1;
    }
    HWND found = nullptr;
    for (int tenths = 0; tenths <= _wtoi(argv[2]) * 10 && !found; ++tenths) {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&found));
        if (!found) {
            Sleep(100);
        }
    }
    Report(result + L".tmp", found ? "found\n" : "missing\n");
    MoveFileW((result + L".tmp").c_str(), result.c_str());
    if (found) {
        while (GetFileAttributesW((result + L".close").c_str()) == INVALID_FILE_ATTRIBUTES) {
            Sleep(100);
        }
        PostMessageW(found, WM_COMMAND, IDCANCEL, 0);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (found) {
        Report(result, "closed\n");
    }
    return found ? 0 : 1;
}
