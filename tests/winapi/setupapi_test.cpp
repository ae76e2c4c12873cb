// The stand-in's INF calls of setupapi, which its printer class installer (printui) reads INFs with: lines and
// fields with strings substituted, INFs appended, directory ids, and a section's files and registry entries.
#include "machine.h"

#include <setupapi.h>

#include <filesystem>
#include <fstream>

namespace kqtest {
namespace {

class InfCallsTest : public MachineTest {
  protected:
    void SetUp() override {
        MachineTest::SetUp();
        Write("C:\\Media\\MAIN.INF", "[Version]\nSignature=\"$Windows NT$\"\nClass=Printer\n"
                                     "[Models]\nAlpha = ALPHA_SECTION, \"quoted, one field\"\nAlpha = SECOND\n"
                                     "Beta=%Beta%\n; a comment\nno key, here\n"
                                     "[Empty]\n"
                                     "[ALPHA_SECTION]\nCopyFiles=ALPHA_FILES\nAddReg=ALPHA_REG\nDelFiles=OLD_FILES\n"
                                     "[ALPHA_FILES]\nA.DLL\nB.DAT,SOURCE.DAT\n"
                                     "[OLD_FILES]\nOLD.DLL\n"
                                     "[ALPHA_REG]\nHKCU,Software\\Kit,Where,,%66000%\n"
                                     "[DestinationDirs]\nDefaultDestDir=66000\n"
                                     "[Strings]\nBeta=\"beta's section\"\n");
        Write("C:\\Media\\A.DLL", "a");
        Write("C:\\Media\\SOURCE.DAT", "data");
        Write("C:\\WINDOWS\\INF\\EXTRA.INF", "[Version]\nSignature=$Chicago$\n[Extra]\nFrom=extra\n");
    }

    static void Write(const std::string& windowsPath, const std::string& text) {
        const std::string host = control::HostPath(windowsPath);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::ofstream(host, std::ios::binary) << text;
    }

    static std::string Field(INFCONTEXT& line, DWORD index) {
        char buffer[256] = {};
        DWORD needed = 0;
        EXPECT_TRUE(SetupGetStringFieldA(&line, index, buffer, sizeof(buffer), &needed));
        return buffer;
    }
};

TEST_F(InfCallsTest, LinesAndFieldsReadAsTheInfSaysThem) {
    const HINF inf = SetupOpenInfFileA("C:\\Media\\MAIN.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupGetLineCountA(inf, "models"), 4) << "section names are case-insensitive";
    EXPECT_EQ(SetupGetLineCountA(inf, "Empty"), 0);
    EXPECT_EQ(SetupGetLineCountA(inf, "Missing"), -1);

    INFCONTEXT line;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "Models", "alpha", &line));
    EXPECT_EQ(SetupGetFieldCount(&line), 2u);
    EXPECT_EQ(Field(line, 0), "Alpha");
    EXPECT_EQ(Field(line, 1), "ALPHA_SECTION");
    EXPECT_EQ(Field(line, 2), "quoted, one field");
    ASSERT_TRUE(SetupFindNextMatchLineA(&line, "Alpha", &line));
    EXPECT_EQ(Field(line, 1), "SECOND");
    EXPECT_FALSE(SetupFindNextMatchLineA(&line, "Alpha", &line));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));

    // every line in order, strings substituted; a line without a key has an empty field 0
    std::vector<std::string> firstFields;
    for (bool more = SetupFindFirstLineA(inf, "Models", nullptr, &line); more; more = SetupFindNextLine(&line, &line)) {
        firstFields.push_back(Field(line, 0) + "|" + Field(line, 1));
    }
    EXPECT_EQ(firstFields, (std::vector<std::string>{"Alpha|ALPHA_SECTION", "Alpha|SECOND", "Beta|beta's section",
                                                    "|no key"}));

    // the size first, then the text
    ASSERT_TRUE(SetupFindFirstLineA(inf, "Models", "Beta", &line));
    DWORD needed = 0;
    EXPECT_TRUE(SetupGetStringFieldA(&line, 1, nullptr, 0, &needed));
    EXPECT_EQ(needed, sizeof("beta's section"));
    char small[4];
    EXPECT_FALSE(SetupGetStringFieldA(&line, 1, small, sizeof(small), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(SetupGetStringFieldA(&line, 2, small, sizeof(small), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_FALSE(SetupFindFirstLineA(inf, "Missing", nullptr, &line));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    EXPECT_FALSE(SetupFindFirstLineA(inf, "Extra", nullptr, &line));
    ASSERT_TRUE(SetupOpenAppendInfFileA("EXTRA.INF", inf, nullptr)) << "a bare name is a system INF";
    ASSERT_TRUE(SetupFindFirstLineA(inf, "Extra", "From", &line));
    EXPECT_EQ(Field(line, 1), "extra");
    SetupCloseInfFile(inf);
    EXPECT_EQ(SetupGetLineCountA(inf, "Models"), -1) << "a closed INF is gone";
}

TEST_F(InfCallsTest, OpeningRefusesWhatSetupapiRefuses) {
    Write("C:\\Media\\OLD.INF", "[Version]\nSignature=\"$Windows 3.1$\"\n");
    Write("C:\\Media\\BAD.INF", "[Version\nSignature=$Chicago$\n");
    const struct {
        const char* path;
        DWORD error;
    } cases[] = {{"C:\\Media\\NONE.INF", ERROR_FILE_NOT_FOUND},
                 {"C:\\Media\\OLD.INF", ERROR_WRONG_INF_STYLE},
                 {"C:\\Media\\BAD.INF", ERROR_BAD_SECTION_NAME_LINE}};
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(SetupOpenInfFileA(c.path, nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    const HINF inf = SetupOpenInfFileA("C:\\Media\\MAIN.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetupOpenAppendInfFileA("C:\\Media\\OLD.INF", inf, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
    SetupCloseInfFile(inf);
}

// A section's files go to the folders its directory ids name, deletions first, and the handler hears of each
// file put in place; its registry entries come with SPINST_REGISTRY only.
TEST_F(InfCallsTest, InstallingASectionPlacesItsFilesWhereItsDirectoryIdsSay) {
    Write("C:\\Drivers\\OLD.DLL", "old");
    const HINF inf = SetupOpenInfFileA("C:\\Media\\MAIN.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    std::vector<std::string> placed;
    const PSP_FILE_CALLBACK_A note = [](PVOID context, UINT notification, UINT_PTR paths, UINT_PTR) -> UINT {
        if (notification == SPFILENOTIFY_ENDCOPY) {
            const auto* p = reinterpret_cast<const FILEPATHS_A*>(paths);
            static_cast<std::vector<std::string>*>(context)->push_back(std::string(p->Source) + " > " + p->Target);
        }
        return FILEOP_DOIT;
    };
    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "ALPHA_SECTION", SPINST_FILES, nullptr, nullptr, 0, note,
                                             &placed, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "66000 is not set yet";

    ASSERT_TRUE(SetupSetDirectoryIdA(inf, DIRID_PRINTER, "C:\\Drivers"));
    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "ALPHA_SECTION", SPINST_FILES, nullptr, nullptr, 0, note,
                                            &placed, nullptr, nullptr));
    EXPECT_EQ(placed, (std::vector<std::string>{"C:\\Media\\A.DLL > C:\\Drivers\\A.DLL",
                                               "C:\\Media\\SOURCE.DAT > C:\\Drivers\\B.DAT"}));
    EXPECT_EQ(FileBytes(control::HostPath("C:\\Drivers\\B.DAT")), B("data"));
    EXPECT_EQ(GetFileAttributesA("C:\\Drivers\\OLD.DLL"), INVALID_FILE_ATTRIBUTES) << "DelFiles ran";
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kit", 0, KEY_READ, &key), ERROR_SUCCESS);

    ASSERT_TRUE(SetupInstallFromInfSectionA(nullptr, inf, "ALPHA_SECTION", SPINST_REGISTRY, nullptr, nullptr, 0,
                                            nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kit", 0, KEY_READ, &key), ERROR_SUCCESS);
    char where[64] = {};
    DWORD size = sizeof(where);
    EXPECT_EQ(RegQueryValueExA(key, "Where", nullptr, nullptr, reinterpret_cast<BYTE*>(where), &size), ERROR_SUCCESS);
    EXPECT_STREQ(where, "C:\\Drivers") << "a directory id in a value";
    RegCloseKey(key);

    EXPECT_FALSE(SetupInstallFromInfSectionA(nullptr, inf, "NOWHERE", SPINST_FILES, nullptr, nullptr, 0, nullptr,
                                             nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SECTION_NOT_FOUND));
    SetupCloseInfFile(inf);
}

} // namespace
} // namespace kqtest
