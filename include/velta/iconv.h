/*
 * Velta as iconv(3): the POSIX conversion interface over Velta's converters.
 *
 * velta_iconv_open, velta_iconv and velta_iconv_close behave as POSIX iconv_open,
 * iconv and iconv_close (errno EINVAL, E2BIG, EILSEQ; the return value counts
 * irreversible conversions; a null inbuf writes the sequence that returns to the
 * initial state). Names read as glibc reads them; "//TRANSLIT" and "//IGNORE" may
 * follow the target name, and an empty name means the locale's character set.
 *
 * The drop-in library libvelta-iconv (Unix) exports the same calls as iconv_open,
 * iconv, iconv_close, libiconv_open, libiconv, libiconv_close, iconvctl and
 * iconvlist, declared below for programs that link it.
 * This header compiles as C and as C++.
 */
#ifndef VELTA_ICONV_H
#define VELTA_ICONV_H

#include <stddef.h>

#include "velta/export.h"

typedef void* velta_iconv_t;

/* The requests of iconvctl (GNU libiconv's numbers). */
enum {
    VELTA_ICONV_TRIVIALP = 0,          /* int*: 1 when the conversion copies its input */
    VELTA_ICONV_GET_TRANSLITERATE = 1, /* int*: 1 when characters the target lacks get stand-ins */
    VELTA_ICONV_SET_TRANSLITERATE = 2, /* const int* */
    VELTA_ICONV_GET_DISCARD_ILSEQ = 3, /* int*: 1 when invalid input and characters are left out */
    VELTA_ICONV_SET_DISCARD_ILSEQ = 4  /* const int* */
};

/* Called once for each encoding with its names; a non-zero answer stops the list. */
typedef int (*velta_iconvlist_visitor)(unsigned int count, const char* const* names, void* data);

VELTA_API velta_iconv_t velta_iconv_open(const char* tocode, const char* fromcode);
VELTA_API size_t velta_iconv(velta_iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
                             size_t* outbytesleft);
VELTA_API int velta_iconv_close(velta_iconv_t cd);
/* 0, or -1 with errno EINVAL for an unknown request or a null argument. */
VELTA_API int velta_iconvctl(velta_iconv_t cd, int request, void* argument);
VELTA_API void velta_iconvlist(velta_iconvlist_visitor visitor, void* data);

#if !defined(_WIN32)
/* libvelta-iconv: the same calls under the names programs use (link -lvelta-iconv,
 * or run a program with LD_PRELOAD=libvelta-iconv.so). iconv_open, iconv and
 * iconv_close are declared by <iconv.h>. */
#ifndef ICONV_TRIVIALP
#define ICONV_TRIVIALP VELTA_ICONV_TRIVIALP
#define ICONV_GET_TRANSLITERATE VELTA_ICONV_GET_TRANSLITERATE
#define ICONV_SET_TRANSLITERATE VELTA_ICONV_SET_TRANSLITERATE
#define ICONV_GET_DISCARD_ILSEQ VELTA_ICONV_GET_DISCARD_ILSEQ
#define ICONV_SET_DISCARD_ILSEQ VELTA_ICONV_SET_DISCARD_ILSEQ
#endif
#ifdef __cplusplus
extern "C" {
#endif
velta_iconv_t libiconv_open(const char* tocode, const char* fromcode);
size_t libiconv(velta_iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
                size_t* outbytesleft);
int libiconv_close(velta_iconv_t cd);
int iconvctl(velta_iconv_t cd, int request, void* argument);
void iconvlist(velta_iconvlist_visitor visitor, void* data);
#ifdef __cplusplus
}
#endif
#endif

#endif
