/* Export macros of the Velta library (libvelta3230.so / VELTA3230.dll). */
#ifndef VELTA_EXPORT_H
#define VELTA_EXPORT_H

#if defined(_WIN32)
#if defined(VELTA_BUILDING_LIBRARY)
#define VELTA_EXPORT __declspec(dllexport)
#elif defined(VELTA_STATIC)
#define VELTA_EXPORT
#else
#define VELTA_EXPORT __declspec(dllimport)
#endif
#else
#define VELTA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define VELTA_EXTERN_C extern "C"
#else
#define VELTA_EXTERN_C
#endif

#define VELTA_API VELTA_EXTERN_C VELTA_EXPORT

#endif
