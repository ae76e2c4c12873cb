// The stand-in's kernel, files, registry and formatter behave as Windows does for the calls the kit makes.
#include "machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace kqtest {
namespace {

class KernelTest : public MachineTest {};

TEST_F(KernelTest, StaleAndForeignHandlesAreInvalid) {
    HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(ev, nullptr);
    ASSERT_TRUE(CloseHandle(ev));
    HANDLE again = CreateEventW(nullptr, TRUE, FALSE, nullptr); // may reuse the slot
    for (HANDLE h : {ev, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE,
                     reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x12345678))}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
        EXPECT_FALSE(CloseHandle(h));
    }
    // a handle of one kind is not a handle of another
    HANDLE printer = nullptr;
    EXPECT_FALSE(ClosePrinter(again));
    EXPECT_FALSE(ReadPrinter(again, &printer, 1, nullptr));
    EXPECT_TRUE(CloseHandle(again));
}

TEST_F(KernelTest, EventsResetManuallyOrOnWake) {
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    ResetEvent(manual);
    // a waiter blocks until another thread signals; the wait hook says when it is about to block
    std::atomic<bool> blocked{false};
    control::SetWaitHook([&](HANDLE) { blocked = true; });
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0); });
    while (!blocked) {
        std::this_thread::yield();
    }
    SetEvent(manual);
    waiter.join();
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST_F(KernelTest, FormatterWritesAtMost1024Bytes) {
    char out[4096];
    struct Case {
        std::string expected;
        int (*format)(char*);
    };
    const Case cases[] = {
        {"a 7 -3 4294967295 ff FF x", [](char* o) { return wsprintfA(o, "a %u %d %u %x %X %c", 7u, -3, 0xFFFFFFFFu, 255u, 255u, 'x'); }},
        {"[  ab|ab  |007|0x1f]", [](char* o) { return wsprintfA(o, "[%4s|%-4s|%03d|%#x]", "ab", "ab", 7, 31u); }},
        {"(null) wide", [](char* o) { return wsprintfA(o, "%s %ls", static_cast<const char*>(nullptr), u"wide"); }},
        {"100%", [](char* o) { return wsprintfA(o, "100%%"); }},
    };
    for (const Case& c : cases) {
        const int n = c.format(out);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(n, static_cast<int>(c.expected.size()));
    }
    const std::string longText(3000, 'q');
    std::memset(out, 'Z', sizeof(out));
    EXPECT_EQ(wsprintfA(out, "%s!", longText.c_str()), 1023);
    EXPECT_EQ(std::strlen(out), 1023u);
    EXPECT_EQ(out[1024], 'Z') << "wrote past the 1024-byte limit";
}

TEST_F(KernelTest, DriveLettersAreFoldersOfTheMachine) {
    EXPECT_EQ(control::HostPath("c:\\kqt50mon.dat"), Root() + "/c/kqt50mon.dat");
    EXPECT_EQ(control::HostPath("D:\\Some\\Dir\\File.TXT"), Root() + "/d/some/dir/file.txt");
    EXPECT_EQ(control::HostPath("/tmp/x"), "/tmp/x");
    HANDLE f = CreateFileA("C:\\Folder\\NEW.DAT", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(f, "abc", 3, &written, nullptr));
    EXPECT_TRUE(CloseHandle(f));
    std::ifstream in(Root() + "/c/folder/new.dat");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(DeleteFileA("c:\\folder\\new.dat"));
    EXPECT_FALSE(DeleteFileA("c:\\folder\\new.dat"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(KernelTest, SharingBetweenOpenersOfOneFile) {
    struct Case {
        DWORD access1, share1, access2, share2;
        bool second;
    };
    const Case cases[] = {
        {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false}, // would deny the writer
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_READ, true},
        {GENERIC_WRITE, 0, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
    };
    for (const Case& c : cases) {
        HANDLE a = CreateFileA("c:\\shared.dat", c.access1, c.share1, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(a, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        if (c.access1 & GENERIC_WRITE) {
            WriteFile(a, "keep", 4, &n, nullptr);
        }
        // a writer asks for the file emptied: a refused open must leave it as it was
        const DWORD disposition = (c.access2 & GENERIC_WRITE) ? CREATE_ALWAYS : OPEN_EXISTING;
        HANDLE b = CreateFileA("c:\\shared.dat", c.access2, c.share2, nullptr, disposition, 0, nullptr);
        EXPECT_EQ(b != INVALID_HANDLE_VALUE, c.second);
        if (b == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            struct stat st{};
            ASSERT_EQ(stat(control::HostPath("c:\\shared.dat").c_str(), &st), 0);
            EXPECT_EQ(st.st_size, (c.access1 & GENERIC_WRITE) ? 4 : 0) << "a refused open emptied the file";
        } else {
            CloseHandle(b);
        }
        CloseHandle(a);
        DeleteFileA("c:\\shared.dat");
    }
}

TEST_F(KernelTest, LinksAreOpenedAsThemselvesWhenAsked) {
    std::filesystem::create_directories(Root() + "/c");
    std::ofstream(Root() + "/c/target.txt") << "t";
    ASSERT_EQ(symlink((Root() + "/c/target.txt").c_str(), (Root() + "/c/link.txt").c_str()), 0);
    ASSERT_EQ(link((Root() + "/c/target.txt").c_str(), (Root() + "/c/second.txt").c_str()), 0);
    HANDLE h = CreateFileA("c:\\link.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    CloseHandle(h);
    h = CreateFileA("c:\\second.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.nNumberOfLinks, 2u);
    EXPECT_FALSE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    CloseHandle(h);
}

TEST_F(KernelTest, RegistryKeepsKeysAndValuesAcrossRestarts) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Deep", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const char text[] = "va=lue\n[x]%";
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)), 0);
    const DWORD number = 0x800;
    ASSERT_EQ(RegSetValueExA(key, "Attributes", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), 0);
    RegCloseKey(key);

    control::ResetMachine(Root()); // the same folder: a machine that starts again
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\test\\deep", 0, KEY_READ, &key), ERROR_SUCCESS);
    char buf[64];
    DWORD size = 4;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "name", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof(text));
    size = sizeof(buf);
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(buf, text);
    DWORD read = 0;
    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Attributes", nullptr, &type, reinterpret_cast<LPBYTE>(&read), &size), 0);
    EXPECT_EQ(read, number);
    RegCloseKey(key);

    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_READ, &parent), ERROR_SUCCESS);
    DWORD len = sizeof(buf);
    EXPECT_EQ(RegEnumKeyExA(parent, 0, buf, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "Deep");
    len = sizeof(buf);
    EXPECT_EQ(RegEnumKeyExA(parent, 1, buf, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_NE(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), ERROR_SUCCESS) << "a key with subkeys";
    EXPECT_EQ(RegDeleteKeyA(parent, "Deep"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Deep", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    RegCloseKey(parent);
}

TEST_F(KernelTest, RegistryFindsKeysInAnyCaseAmongNeighbours) {
    // '_' and '[' lie between the upper- and lower-case letters: an order of unlowered names would differ
    const char* const names[] = {"Order\\a_b", "Order\\A[B", "Order\\AB", "Order\\a", "Order\\Z", "Order\\zz"};
    for (DWORD i = 0; i < std::size(names); ++i) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, names[i], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, "Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4), 0);
        RegCloseKey(key);
    }
    for (DWORD i = 0; i < std::size(names); ++i) {
        std::string upper = names[i], lower = names[i];
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        for (const std::string& name : {upper, lower}) {
            SCOPED_TRACE(name);
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
            DWORD index = 99, size = 4, type = 0;
            EXPECT_EQ(RegQueryValueExA(key, "INDEX", nullptr, &type, reinterpret_cast<LPBYTE>(&index), &size), 0);
            EXPECT_EQ(index, i);
            RegCloseKey(key);
        }
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Order\\a_", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Order\\ab_", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// IsWow64Process is looked up at run time, as a program for Windows 2000 must: Windows 2000 and 98 lack it. It
// tells a 32-bit program (whose file is an x86 image) on 64-bit Windows; a program that is no PE image (the
// Linux build) counts as built for its machine.
TEST_F(KernelTest, Wow64IsLookedUpAndTellsA32BitProgramOn64BitWindows) {
    struct Case {
        const char* what;
        DWORD platform;
        DWORD major;
        DWORD minor;
        WORD architecture;
        WORD program; // the machine of the program's image; 0: no image
        bool found;
        BOOL wow64;
    };
    const DWORD nt = VER_PLATFORM_WIN32_NT;
    const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL;
    const WORD x64 = PROCESSOR_ARCHITECTURE_AMD64;
    const Case cases[] = {
        {"Windows 98 lacks it", VER_PLATFORM_WIN32_WINDOWS, 4, 10, x86, IMAGE_FILE_MACHINE_I386, false, FALSE},
        {"Windows 2000 lacks it", nt, 5, 0, x86, IMAGE_FILE_MACHINE_I386, false, FALSE},
        {"a 32-bit program on 32-bit Windows XP", nt, 5, 1, x86, IMAGE_FILE_MACHINE_I386, true, FALSE},
        {"a 32-bit program on 64-bit Windows", nt, 6, 1, x64, IMAGE_FILE_MACHINE_I386, true, TRUE},
        {"a 64-bit program on 64-bit Windows", nt, 6, 1, x64, IMAGE_FILE_MACHINE_AMD64, true, FALSE},
        {"a program that is no image on 64-bit Windows", nt, 6, 1, x64, 0, true, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        control::SetWindowsVersion(c.platform, c.major, c.minor, c.architecture);
        const std::string program = std::string("C:\\Setup\\") + (c.program ? "image" : "none") + ".exe";
        if (c.program) {
            WriteImageHeaders(program, c.program);
        }
        control::SetProgramPath(program);
        const HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
        ASSERT_NE(kernel, nullptr);
        EXPECT_EQ(GetModuleHandleA("kernel32"), kernel);
        using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
        const auto isWow64 =
            reinterpret_cast<IsWow64Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
        ASSERT_EQ(isWow64 != nullptr, c.found);
        if (!isWow64) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
            continue;
        }
        BOOL wow64 = 2;
        ASSERT_TRUE(isWow64(GetCurrentProcess(), &wow64));
        EXPECT_EQ(wow64, c.wow64);
    }
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("kernel32.dll"), "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

} // namespace
} // namespace kqtest
