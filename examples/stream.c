/* Converts standard input to standard output as a stream, in blocks of
 * 4 KiB cut anywhere:  stream FROM TO < input > output
 * NLS_ConvertStream joins what a block cuts (a character, a UTF-7 run), so
 * the output equals a conversion of the whole input at once. */
#include <stdio.h>

#include <velta/nls.h>

int main(int argc, char** argv) {
    unsigned char block[4096];
    unsigned char output[4096];
    EncodingConverter* converter = NULL;
    NLS_Status status;
    int last = 0;

    if (argc != 3) {
        fprintf(stderr, "usage: stream FROM TO < input > output\n");
        return 2;
    }
    status = NLS_NewEncodingConverter(argv[1], argv[2], &converter);
    if (status != NLS_SUCCESS) {
        fprintf(stderr, "no conversion from %s to %s (%d)\n", argv[1], argv[2], (int)status);
        return 1;
    }
    while (!last) {
        size_t length = fread(block, 1, sizeof block, stdin);
        size_t position = 0;
        last = length < sizeof block; /* a short read: the end of the input */
        do {
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(converter, block + position, (uint32_t)(length - position),
                                       output, sizeof output, last, &read, &written);
            fwrite(output, 1, written, stdout);
            position += read;
        } while (status == NLS_RESULT_TRUNCATED); /* output full: go on with the rest */
        if (status != NLS_SUCCESS) {
            fprintf(stderr, "conversion failed (%d)\n", (int)status);
            break;
        }
    }
    NLS_DeleteEncodingConverter(converter);
    NLS_EncTerminate();
    return status == NLS_SUCCESS ? 0 : 1;
}
