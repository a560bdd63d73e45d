/* The flat interface used from plain C: the header compiles as C, the
 * functions link by their exported names, and a conversion round-trips. */
#include <stdio.h>
#include <string.h>

#include "velta/nls.h"

#define CHECK(condition)                                                    \
    do {                                                                    \
        if (!(condition)) {                                                 \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
            return 1;                                                       \
        }                                                                   \
    } while (0)

int main(void) {
    const unsigned char text[] = "caf\xC3\xA9 \xE2\x82\xAC";
    unsigned char roman[64];
    unsigned char back[64];
    uint32_t romanLength = 0;
    uint32_t backLength = 0;
    EncodingConverter* object = NULL;
    EncondingConverterList* list = NULL;
    uint32_t count = 0;
    NLS_DetectedEncoding detected;

    CHECK(NLS_EncInitialize(NULL, NULL) == NLS_SUCCESS);
    CHECK(NLS_ConvertBuffer("UTF-8", "x-mac-roman", text, (uint32_t)strlen((const char*)text),
                            roman, sizeof roman, &romanLength) == NLS_SUCCESS);
    CHECK(romanLength == 6 && roman[3] == 0x8E);
    CHECK(NLS_NewEncodingConverter("x-mac-roman", "utf_8", &object) == NLS_SUCCESS);
    CHECK(NLS_ConvertStreamBuffer(object, roman, romanLength, back, sizeof back, &backLength) ==
          NLS_SUCCESS);
    CHECK(backLength == 7 && memcmp(back, "caf\xC3\xA9 ?", 7) == 0);
    CHECK(NLS_DeleteEncodingConverter(object) == NLS_SUCCESS);
    CHECK(NLS_NewEncodingConverterEnumeration(NULL, NULL, &list) == NLS_SUCCESS);
    CHECK(NLS_CountEncodingConverters(list, &count) == NLS_SUCCESS && count >= 14);
    CHECK(NLS_DeleteEncodingConverterEnumeration(list) == NLS_SUCCESS);
    CHECK(strcmp(NLS_GetNormalizedEncodingName("latin1"), "ISO_8859-1:1987") == 0);
    CHECK(NLS_EncodingConverterExists("UTF-7", "IMAP-UTF-7") == 1);
    CHECK(NLS_DetectEncodingForBuffer(text, 6, &detected, 1, &count) == NLS_SUCCESS);
    CHECK(strcmp(detected.encodingName, "UTF-8") == 0);
    CHECK(NLS_EncTerminate() == NLS_SUCCESS);
    printf("C interface: 1 passed, 0 failed\n");
    return 0;
}
