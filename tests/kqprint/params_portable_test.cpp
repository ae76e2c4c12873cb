// The lookup of numeric entries in a job's parameter string ("COPIES=n;").
#include "kqprint.h"

#include <gtest/gtest.h>

namespace {

using kqprint::LookupNumericParameter;

constexpr DWORD kUntouched = 0xA5A5A5A5;

struct LookupCase {
    const char* what;
    LPCWSTR parameters;
    bool found;
    DWORD value; // when found
};

const LookupCase kLookupCases[] = {
    {"plain entry", TEXT("COPIES=3;"), true, 3},
    {"key in lower case", TEXT("copies=3;"), true, 3},
    {"key in mixed case", TEXT("cOpIeS=3;"), true, 3},
    {"no closing semicolon", TEXT("COPIES=3"), false, 0},
    {"blank before the value", TEXT("COPIES= 3;"), true, 3},
    {"bad value, then a good entry", TEXT("COPIES=x;COPIES=2;"), true, 2},
    {"token that begins with the key", TEXT("COPIESX=4;"), true, 4},
    {"token that only ends with the key", TEXT("XCOPIES=4;"), false, 0},
    {"shorter token", TEXT("COPIE=4;"), false, 0},
    {"string ends inside the key", TEXT("COPIE"), false, 0},
    {"empty value", TEXT("COPIES=;"), false, 0},
    {"empty value, then a good entry", TEXT("COPIES=;COPIES=2;"), true, 2},
    {"blank value, then a good entry", TEXT("COPIES= ;COPIES=2;"), true, 2},
    {"negative value", TEXT("COPIES=-2;"), false, 0},
    {"signed value", TEXT("COPIES=+2;"), false, 0},
    {"zero", TEXT("COPIES=0;"), true, 0},
    {"leading zeros", TEXT("COPIES=007;"), true, 7},
    {"digits then letters", TEXT("COPIES=12ab;"), true, 12},
    {"non-ASCII digit", TEXT("COPIES=\uFF13;"), false, 0},
    {"empty string", TEXT(""), false, 0},
    {"only separators", TEXT(" ;\t;;"), false, 0},
    {"other key first", TEXT("PAPER=2;COPIES=5;"), true, 5},
    {"other key only", TEXT("PAPER=2;"), false, 0},
    {"first matching entry wins", TEXT("COPIES=3;COPIES=4;"), true, 3},
    {"separators and blanks before the key", TEXT(" ;\t;COPIES=9;"), true, 9},
    {"entry without key", TEXT("=1;COPIES=5;"), true, 5},
    {"entry without value or =", TEXT("COPIES;COPIES=8;"), true, 8},
    {"two = before the value", TEXT("COPIES==5;COPIES=6;"), true, 6},
    {"= inside the value", TEXT("COPIES=5=6;COPIES=7;"), true, 7},
    {"no semicolon after a skipped entry", TEXT("COPIES=x"), false, 0},
    // blanks that end the key or the value
    {"blank after the key", TEXT("COPIES =3;"), true, 3},
    {"tabs around everything", TEXT("COPIES\t=\t3\t;"), true, 3},
    {"blank after the value", TEXT("COPIES=3 ;"), true, 3},
    {"word after the key's blank", TEXT("COPIES X=4;"), false, 0},
    {"word after the key's blank, then a good entry", TEXT("COPIES X=4;COPIES=6;"), true, 6},
    {"second number after the value's blank", TEXT("COPIES=3 4;"), false, 0},
    {"second number, then a good entry", TEXT("COPIES=3 4;COPIES=5;"), true, 5},
    {"other blanks are not blanks", TEXT("COPIES=\n3;"), false, 0},
    // the value as a 32-bit unsigned number, saturating
    {"largest value", TEXT("COPIES=4294967295;"), true, 0xFFFFFFFF},
    {"one past the largest", TEXT("COPIES=4294967296;"), true, 0xFFFFFFFF},
    {"far too large", TEXT("COPIES=99999999999999999999999;"), true, 0xFFFFFFFF},
};

TEST(LookupNumericParameterTest, FindsTheFirstWholeEntryOfTheKey) {
    for (const LookupCase& c : kLookupCases) {
        SCOPED_TRACE(c.what);
        USHORT sizeWord = sizeof(DWORD);
        DWORD value = kUntouched;
        const DWORD error = LookupNumericParameter(c.parameters, TEXT("COPIES"), &sizeWord, &value);
        if (c.found) {
            EXPECT_EQ(error, 0u);
            EXPECT_EQ(sizeWord, sizeof(DWORD));
            EXPECT_EQ(value, c.value);
        } else {
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_DATA));
            EXPECT_EQ(sizeWord, 0);
        }
    }
}

TEST(LookupNumericParameterTest, ReportsMissingArgumentsAndSmallSizeWord) {
    const LPCWSTR text = TEXT("COPIES=3;");
    struct Case {
        const char* what;
        bool string, key, size, out;
        USHORT sizeIn;
        DWORD error;
    };
    const Case cases[] = {
        {"no string", false, true, true, true, 4, ERROR_INVALID_PARAMETER},
        {"no key", true, false, true, true, 4, ERROR_INVALID_PARAMETER},
        {"no size word", true, true, false, true, 4, ERROR_INVALID_PARAMETER},
        {"no out value", true, true, true, false, 4, ERROR_INVALID_PARAMETER},
        {"size word 3", true, true, true, true, 3, ERROR_INSUFFICIENT_BUFFER},
        {"size word 0", true, true, true, true, 0, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        USHORT sizeWord = c.sizeIn;
        DWORD value = kUntouched;
        EXPECT_EQ(LookupNumericParameter(c.string ? text : nullptr, c.key ? TEXT("COPIES") : nullptr,
                                         c.size ? &sizeWord : nullptr, c.out ? &value : nullptr),
                  c.error);
        if (c.size) {
            EXPECT_EQ(sizeWord, 0);
        }
        EXPECT_EQ(value, kUntouched);
    }

    // A size word above 4 is enough and stays as it was.
    USHORT sizeWord = 8;
    DWORD value = 0;
    EXPECT_EQ(LookupNumericParameter(text, TEXT("COPIES"), &sizeWord, &value), 0u);
    EXPECT_EQ(sizeWord, 8);
    EXPECT_EQ(value, 3u);
}

} // namespace
