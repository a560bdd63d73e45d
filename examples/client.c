/* A client of the flat interface, built against the installed package:
 * converts a UTF-8 string to UTF-7 and back in one call each. */
#include <stdio.h>
#include <string.h>

#include <velta/nls.h>

int main(void) {
    const char* text =
        "Gr\xC3\xBC\xC3\x9F"
        "e, \xE2\x82\xAC 5";
    unsigned char utf7[128];
    unsigned char back[128];
    uint32_t utf7Length = 0;
    uint32_t backLength = 0;
    NLS_Status status;

    NLS_EncInitialize(NULL, NULL);
    status = NLS_ConvertBuffer("UTF-8", "UTF-7", (const unsigned char*)text, (uint32_t)strlen(text),
                               utf7, sizeof utf7, &utf7Length);
    if (status != NLS_SUCCESS) {
        fprintf(stderr, "conversion failed: %d\n", (int)status);
        return 1;
    }
    printf("UTF-7: %.*s\n", (int)utf7Length, (const char*)utf7);
    status = NLS_ConvertBuffer("UTF-7", "UTF-8", utf7, utf7Length, back, sizeof back, &backLength);
    NLS_EncTerminate();
    if (status != NLS_SUCCESS || backLength != strlen(text) ||
        memcmp(back, text, backLength) != 0) {
        fprintf(stderr, "the round trip failed\n");
        return 1;
    }
    printf("back: %.*s\n", (int)backLength, (const char*)back);
    return 0;
}
