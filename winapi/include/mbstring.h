// Stand-in C runtime multibyte strings, for the machine's code page (949): a lead byte 0x81-0xFE takes the
// next byte with it, so comparisons, searches and case changes never split a double-byte character.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

KQWIN_API int _mbscmp(const unsigned char* _Str1, const unsigned char* _Str2);
KQWIN_API unsigned char* _mbsstr(const unsigned char* _Str, const unsigned char* _Substr);
KQWIN_API unsigned char* _mbsupr(unsigned char* _String);

#ifdef __cplusplus
}
#endif
