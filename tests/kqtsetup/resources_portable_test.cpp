// The installer's compiled resources as the program reads them: both dialog templates, the items of the
// serial lists, the string table, the pictures and the version block, all Korean (0x0412). Runs on Linux
// against the stand-in and, as a Windows x64 program, under wine64 with code page 949.
#include "resource.h"

#include "kit_names.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Blob {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

Blob Resource(LPCSTR type, int id) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
    return found ? Blob{static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found))),
                        SizeofResource(nullptr, found)}
                 : Blob{};
}

std::string Utf8(const WCHAR* text, int length) {
    const int n = length ? WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr) : 0;
    std::string out(n, '\0');
    if (n) {
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    }
    return out;
}

// What an ANSI program gets (code page 949), in UTF-8.
std::string FromKorean(const char* bytes, int length) {
    const int n = length ? MultiByteToWideChar(949, 0, bytes, length, nullptr, 0) : 0;
    std::vector<WCHAR> wide(n + 1);
    MultiByteToWideChar(949, 0, bytes, length, wide.data(), n);
    return length && !n ? "<not CP949>" : Utf8(wide.data(), n);
}

// Little-endian reads from the start of a resource; a read past its end gives zeros and marks it bad.
class Reader {
  public:
    explicit Reader(Blob b) : b_(b) {}
    bool ok() const { return ok_; }
    size_t at() const { return at_; }
    bool AtEnd() const { return at_ == b_.size; }
    void Seek(size_t at) { at <= b_.size ? void(at_ = at) : void(ok_ = false); }
    void Align() { Seek((at_ + 3) & ~size_t(3)); }
    const BYTE* Bytes(size_t n) {
        ok_ = ok_ && n <= b_.size - at_;
        at_ += ok_ ? n : 0;
        return ok_ ? b_.data + at_ - n : nullptr;
    }
    DWORD Number(size_t n) {
        const BYTE* p = Bytes(n);
        DWORD v = 0;
        for (size_t i = 0; p && i < n; ++i) {
            v |= DWORD(p[i]) << (8 * i);
        }
        return v;
    }
    WORD Word() { return WORD(Number(2)); }
    DWORD Dword() { return Number(4); }
    std::string Text() { // NUL-terminated UTF-16
        std::vector<WCHAR> s;
        for (WORD c; ok_ && (c = Word()) != 0;) {
            s.push_back(WCHAR(c));
        }
        return Utf8(s.data(), int(s.size()));
    }
    std::string NameOrOrdinal() { // an ordinal as "#n"
        if (at_ + 2 > b_.size || b_.data[at_] != 0xFF || b_.data[at_ + 1] != 0xFF) {
            return Text();
        }
        Word();
        std::string ordinal(1, '#');
        return ordinal.append(std::to_string(Word()));
    }

  private:
    Blob b_;
    size_t at_ = 0;
    bool ok_ = true;
};

struct Control {
    int id;
    std::string cls; // lower case, the predefined classes by name
    DWORD style;
    int x, y, cx, cy;
    std::string text;
};

// Window styles that decide what a control is and does; the rest is the editor's business.
constexpr DWORD kCheckedStyles = 0xFFFF | WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | WS_VSCROLL | WS_BORDER;
constexpr DWORD kSerialList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;

std::string Describe(const Control& c) {
    char style[16];
    std::snprintf(style, sizeof(style), "%08lx", static_cast<unsigned long>(c.style & kCheckedStyles));
    return std::to_string(c.id) + " " + c.cls + " " + style + " " + std::to_string(c.x) + "," + std::to_string(c.y) +
           "," + std::to_string(c.cx) + "," + std::to_string(c.cy) + " \"" + c.text + "\"";
}

struct Dialog {
    DWORD style = 0, exStyle = 0;
    int cx = 0, cy = 0, points = 0;
    std::string caption, font;
    std::vector<std::string> controls; // as Describe() puts them
};

// DLGTEMPLATEEX or DLGTEMPLATE, whichever the resource holds.
Dialog ParseDialog(Blob b) {
    Reader r(b);
    Dialog d;
    const bool ex = b.size >= 4 && r.Word() == 1 && r.Word() == 0xFFFF;
    r.Seek(ex ? 8 : 0); // after the help id
    if (ex) {
        d.exStyle = r.Dword(), d.style = r.Dword();
    } else {
        d.style = r.Dword(), d.exStyle = r.Dword();
    }
    const int count = r.Word();
    r.Dword(); // x, y
    d.cx = short(r.Word()), d.cy = short(r.Word());
    r.NameOrOrdinal(); // menu
    r.NameOrOrdinal(); // window class
    d.caption = r.Text();
    if (d.style & DS_SETFONT) {
        d.points = r.Word();
        r.Bytes(ex ? 4 : 0); // weight, italic, character set
        d.font = r.Text();
    }
    static const char* const kPredefined[] = {"button", "edit", "static", "listbox", "scrollbar", "combobox"};
    for (int i = 0; i < count && r.ok(); ++i) {
        r.Align();
        Control c{};
        r.Bytes(ex ? 8 : 0); // help id, extended style
        c.style = r.Dword();
        r.Bytes(ex ? 0 : 4);
        c.x = short(r.Word()), c.y = short(r.Word()), c.cx = short(r.Word()), c.cy = short(r.Word());
        c.id = ex ? int(r.Dword()) : short(r.Word());
        c.cls = r.NameOrOrdinal();
        const int ordinal = c.cls[0] == '#' ? std::atoi(c.cls.c_str() + 1) : 0;
        c.cls = ordinal >= 0x80 && ordinal <= 0x85 ? kPredefined[ordinal - 0x80] : c.cls;
        for (char& ch : c.cls) {
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        }
        c.text = r.NameOrOrdinal();
        r.Bytes(r.Word()); // creation data
        d.controls.push_back(Describe(c));
    }
    EXPECT_TRUE(r.ok()) << "the template runs past its end";
    return d;
}

void ExpectControls(const Dialog& d, const std::vector<Control>& expected) {
    ASSERT_EQ(d.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        Control e = expected[i];
        e.style |= WS_CHILD | WS_VISIBLE;
        EXPECT_EQ(d.controls[i], Describe(e)) << "control " << i;
    }
}

TEST(KqtSetupResources, MainDialogHoldsItsControlsInTabOrder) {
    const Dialog d = ParseDialog(Resource(RT_DIALOG, IDD_SETUP_DIALOG));
    EXPECT_EQ(d.style, DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(d.exStyle, DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ((std::vector<int>{d.cx, d.cy, d.points}), (std::vector<int>{215, 225, 9}));
    EXPECT_EQ(d.caption, "Velmora Systems KQT-50 프린터 인스톨러");
    EXPECT_EQ(d.font, "굴림");
    ExpectControls(d, {
        {-1, "static", SS_BITMAP | SS_CENTERIMAGE | SS_SUNKEN, 7, 7, 201, 35, "#129"},
        {-1, "static", SS_LEFT, 7, 58, 43, 8, "포트 설정(&T):"},
        {IDC_PORT, "combobox", kSerialList | CBS_SORT, 52, 56, 105, 96, ""},
        {IDC_LABEL_BAUDRATE, "static", SS_LEFT, 61, 78, 38, 8, "비트/초(&B):"},
        {IDC_BAUDRATE, "combobox", kSerialList, 102, 74, 55, 154, ""},
        {IDC_LABEL_DATABITS, "static", SS_LEFT, 49, 94, 50, 8, "데이터 비트(&D):"},
        {IDC_DATABITS, "combobox", kSerialList, 102, 90, 55, 107, ""},
        {IDC_LABEL_PARITY, "static", SS_LEFT, 65, 112, 34, 8, "패리티(&P):"},
        {IDC_PARITY, "combobox", kSerialList, 102, 108, 55, 151, ""},
        {IDC_LABEL_STOPBITS, "static", SS_LEFT, 56, 128, 43, 8, "정지 비트(&S):"},
        {IDC_STOPBITS, "combobox", kSerialList, 102, 124, 55, 131, ""},
        {IDC_LABEL_FLOWCONTROL, "static", SS_LEFT, 59, 146, 40, 8, "흐름제어(&F):"},
        {IDC_FLOWCONTROL, "combobox", kSerialList, 102, 142, 55, 113, ""},
        {IDC_INSTALL, "button", BS_DEFPUSHBUTTON | WS_TABSTOP, 38, 204, 50, 14, "설치(&O)"},
        {IDC_REMOVE, "button", BS_DEFPUSHBUTTON | WS_TABSTOP, 98, 204, 50, 14, "제거(&R)"},
        {IDC_STATUS, "static", SS_LEFT, 33, 167, 168, 10, ""},
        {IDC_PROGRESS, "msctls_progress32", PBS_SMOOTH, 32, 181, 168, 14, ""},
        {-1, "static", SS_ICON, 10, 166, 20, 21, "#135"},
        {-1, "button", BS_GROUPBOX, 7, 157, 201, 42, ""},
        {IDCANCEL, "button", BS_PUSHBUTTON | WS_TABSTOP, 158, 204, 50, 14, "취소(&C)"},
    });
}

TEST(KqtSetupResources, AboutBoxShowsBannerVersionAndNotice) {
    const Dialog d = ParseDialog(Resource(RT_DIALOG, IDD_ABOUTBOX));
    EXPECT_EQ(d.style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ((std::vector<int>{d.cx, d.cy, d.points}), (std::vector<int>{175, 104, 9}));
    EXPECT_EQ(d.caption, "KqtSetup 정보");
    EXPECT_EQ(d.font, "굴림");
    const char notice[] = "Copyright (C) 2004 Velmora Systems";
    ExpectControls(d, {
        {-1, "static", SS_BITMAP | SS_CENTERIMAGE | SS_SUNKEN, 7, 5, 161, 35, "#129"},
        {-1, "static", SS_CENTER, 7, 47, 161, 18, "KQT-50 프린터 인스톨러 버전1.0\nWindows 2000/XP 용"},
        {-1, "static", SS_CENTER, 7, 67, 161, 8, notice},
        {IDOK, "button", BS_DEFPUSHBUTTON | WS_TABSTOP, 63, 83, 50, 14, "확인"},
    });
}

TEST(KqtSetupResources, SerialListsAreFilledInOrderWithCodePage949Items) {
    const std::vector<std::pair<int, std::vector<const char*>>> lists = {
        {IDC_BAUDRATE, {"110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200", "230400",
                        "460800", "921600"}},
        {IDC_DATABITS, {"4", "5", "6", "7", "8"}},
        {IDC_PARITY, {"없음", "홀수", "짝수", "표시", "공백"}},
        {IDC_STOPBITS, {"1", "1.5", "2"}},
        {IDC_FLOWCONTROL, {"Xon / Xoff", "하드웨어", "없음"}},
    };
    std::vector<std::string> expected, items;
    for (const auto& [id, texts] : lists) {
        for (const char* text : texts) {
            expected.push_back(std::to_string(id) + " " + text);
        }
    }
    // per item: control id, CB_ADDSTRING as MFC records it, byte count, the text with its NUL
    Reader r(Resource(MAKEINTRESOURCEA(240), IDD_SETUP_DIALOG));
    for (WORD id; (id = r.Word()) != 0 && r.ok();) {
        EXPECT_EQ(r.Word(), 0x0403) << "item " << items.size();
        const DWORD count = r.Dword();
        const char* text = reinterpret_cast<const char*>(r.Bytes(count));
        ASSERT_TRUE(r.ok() && count > 0) << "item " << items.size();
        const void* nul = std::memchr(text, 0, count);
        EXPECT_EQ(nul, text + count - 1) << "item " << items.size() << ": the NUL is not its last byte";
        items.push_back(std::to_string(id) + " " + FromKorean(text, int(count - 1)));
    }
    EXPECT_TRUE(r.ok() && r.AtEnd()) << "no closing 0 word, or bytes after it";
    EXPECT_EQ(items, expected);
}

TEST(KqtSetupResources, StringTableLoadsAsKoreanText) {
    const char* const strings[] = { // 101 to 124
        "정보(&A)...",
        "포트를 선택하세요.",
        "장치 파일을 찾을 수 없습니다.\n장치파일은 Windows 2000이나 XP 등 NT계열은 현재 디렉토리 밑의 NT 디렉토리에 "
        "있어야 합니다.\nWindows 98/ME의 경우는 현재 디렉토리 밑의 Chicago 디렉토리에 있어야 합니다.",
        "KQT-50 Receipt",
        "시스템 오류입니다. 다시 시도해 보세요.",
        "성공적으로 설치했습니다.",
        "KQT-50 Receipt를 열 수 없습니다.\n프린터를 제거하고 다시 설치하세요.",
        "메모리가 부족합니다.\n프린터를 제거하고 다시 설치하세요.",
        "KQT-50 Receipt 속성을 설정하는 데 오류가 발생했습니다.\n프린터를 제거하고 다시 설치하세요.",
        "지원하는 포트를 찾을 수 없습니다.\nCOM, FILE, LPT 포트가 설치되어 있는지 확인한 다음,\n다시 설치하세요.",
        "KQT-50 Receipt를 제거할 수 없습니다.\n프린팅 중이거나 기타 작업 중에는 제거할 수 없습니다.",
        "KQT-50 Receipt를 성공적으로 제거했습니다.",
        "설치 버튼을 클릭하세요.",
        "제거 버튼을 클릭하세요.",
        "파일을 복사 중 입니다.",
        "프린터 속성을 설정 중 입니다.",
        "완료 했습니다.",
        "프린터를 제거 중 입니다.",
        "프린터 프로세서를 제거 중 입니다.",
        "프린터 모니터를 제거 중 입니다.",
        "제거 했습니다.",
        "실패 했습니다.",
        "포트 설정 중 입니다.",
        "64비트 Windows에서는 64비트 설치 프로그램(KqtSetup64.exe)으로 설치해야 합니다.\nKqtSetup64.exe를 찾거나 "
        "실행할 수 없습니다.\n설치 폴더 전체를 복사한 다음, 다시 설치하세요.",
    };
    static_assert(sizeof(strings) / sizeof(strings[0]) == IDS_NO_64BIT_SETUP - IDS_ABOUTBOX + 1);
    char buffer[1024];
    for (UINT id = IDS_ABOUTBOX; id <= IDS_NO_64BIT_SETUP; ++id) {
        const int n = LoadStringA(nullptr, id, buffer, sizeof(buffer));
        EXPECT_EQ(FromKorean(buffer, n), strings[id - IDS_ABOUTBOX]) << "string " << id;
    }
    for (UINT unused : {IDS_ABOUTBOX - 1, IDS_NO_64BIT_SETUP + 1}) { // in the same blocks of 16, without text
        EXPECT_EQ(LoadStringA(nullptr, unused, buffer, sizeof(buffer)), 0) << "string " << unused;
    }
    // The name the installer gives the printer and driver is the one that removal and kqspool use.
    ASSERT_GT(LoadStringA(nullptr, IDS_PRINTER_NAME, buffer, sizeof(buffer)), 0);
    EXPECT_STREQ(buffer, kqkit::kPrinterName);
}

TEST(KqtSetupResources, IconsHaveBothSizesAndTheBannerFitsItsBox) {
    for (int group : {IDR_MAINFRAME, IDI_PRINTER}) {
        Reader r(Resource(RT_GROUP_ICON, group));
        EXPECT_EQ(r.Dword(), 0x00010000u) << "icon group " << group; // reserved 0, type 1 (icon)
        std::set<int> sizes;
        for (int i = r.Word(); i > 0 && r.ok(); --i) {
            const WORD dims = r.Word(); // width, height
            r.Bytes(6);                 // colours, reserved, planes, bit count
            const DWORD bytes = r.Dword();
            const Blob image = Resource(RT_ICON, r.Word());
            Reader header(image); // BITMAPINFOHEADER: its size, the width, the height of image and mask
            EXPECT_EQ((std::vector<DWORD>{image.size, header.Dword(), header.Dword(), header.Dword()}),
                      (std::vector<DWORD>{bytes, 40, DWORD(dims & 0xFF), 2u * (dims >> 8)}))
                << "icon group " << group;
            sizes.insert(dims & 0xFF);
        }
        EXPECT_TRUE(r.ok() && r.AtEnd()) << "icon group " << group;
        EXPECT_EQ(sizes, (std::set<int>{16, 32})) << "icon group " << group;
    }
    // Its box is 201x35 units: 302x53 pixels at the 6x12 base units of 9-point Gulim, less the sunken edge.
    Reader banner(Resource(RT_BITMAP, IDB_BANNER));
    EXPECT_EQ(banner.Dword(), 40u); // BITMAPINFOHEADER
    const LONG width = LONG(banner.Dword()), height = LONG(banner.Dword());
    EXPECT_TRUE(banner.ok() && width >= 240 && width <= 300 && height >= 40 && height <= 51) << width << "x" << height;
}

// The version block's entries by path: text in UTF-8, other values as their bytes.
void ReadVersionNode(Reader& r, const std::string& parent, std::map<std::string, std::string>* out) {
    const size_t start = r.at();
    const WORD length = r.Word(), valueLength = r.Word(), type = r.Word();
    const std::string path = parent + "/" + r.Text();
    r.Align();
    if (valueLength && type == 1) {
        (*out)[path] = r.Text();
    } else if (const BYTE* v = valueLength ? r.Bytes(valueLength) : nullptr) {
        (*out)[path] = std::string(reinterpret_cast<const char*>(v), valueLength);
    }
    for (r.Align(); r.ok() && r.at() < start + length && !(valueLength && type == 1); r.Align()) {
        ReadVersionNode(r, path, out);
    }
    r.Seek(start + length);
}

TEST(KqtSetupResources, VersionBlockNamesTheProgram) {
    Reader r(Resource(RT_VERSION, 1));
    std::map<std::string, std::string> values;
    ReadVersionNode(r, "", &values);
    ASSERT_TRUE(r.ok());
    // VS_FIXEDFILEINFO: signature, structure version, then file and product version 1.0.0.1
    const std::string fixed = values["/VS_VERSION_INFO"];
    EXPECT_EQ(fixed.substr(0, 4) + fixed.substr(8, 16),
              std::string("\xbd\x04\xef\xfe" "\0\0\1\0" "\1\0\0\0" "\0\0\1\0" "\1\0\0\0", 20));

    const std::string table = "/VS_VERSION_INFO/StringFileInfo/041203b5/";
    EXPECT_EQ(values[table + "FileDescription"], "KqtSetup MFC 응용 프로그램");
    EXPECT_EQ(values[table + "FileVersion"], "1, 0, 0, 1");
    EXPECT_EQ(values[table + "InternalName"], "KqtSetup");
    EXPECT_EQ(values[table + "OriginalFilename"], "KqtSetup.EXE");
    EXPECT_EQ(values[table + "ProductName"], "KqtSetup 응용 프로그램");
    EXPECT_EQ(values[table + "ProductVersion"], "1, 0, 0, 1");
    EXPECT_EQ(values["/VS_VERSION_INFO/VarFileInfo/Translation"], std::string("\x12\x04\xb5\x03", 4)); // 0x412, 949
}

// Windows picks resources by language; the stand-in keeps one language and has no FindResourceExA, and it
// gets the very .res that windres makes for the Windows builds.
#ifdef _WIN32
TEST(KqtSetupResources, EveryResourceIsKoreanOnly) {
    const std::vector<std::pair<LPCSTR, int>> resources = {
        {RT_DIALOG, IDD_ABOUTBOX}, {RT_DIALOG, IDD_SETUP_DIALOG}, {MAKEINTRESOURCEA(240), IDD_SETUP_DIALOG},
        {RT_STRING, IDS_ABOUTBOX / 16 + 1}, {RT_STRING, IDS_STEP_PORT / 16 + 1}, {RT_GROUP_ICON, IDR_MAINFRAME},
        {RT_GROUP_ICON, IDI_PRINTER}, {RT_BITMAP, IDB_BANNER}, {RT_VERSION, 1},
    };
    for (const auto& [type, id] : resources) {
        const LPCSTR name = MAKEINTRESOURCEA(id);
        EXPECT_NE(FindResourceExA(nullptr, type, name, MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT)), nullptr) << id;
        EXPECT_EQ(FindResourceExA(nullptr, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), nullptr) << id;
    }
}
#endif

} // namespace
