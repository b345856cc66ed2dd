// log.h - the host's log function.
//
// The host exports err; the driver imports it by name (from TOLVEX.DLL on
// Windows, from libtolvex.so on Linux, where a version on the reference keeps
// it from binding to the C library's err(3)). Every line is one call: a
// category and a printf-style format beginning "ZIROD> ". Texts from outside
// always go in through "%s".
#ifndef DAZARAZ_LOG_H
#define DAZARAZ_LOG_H

enum {
    LOG_OPERATION = 8,   // course of operation, communication failures
    LOG_REFUSED = 32,    // refused configuration, resources, internal errors
    LOG_INFO = 64        // the driver information call
};

#if defined(_WIN32)
#  define DAZARAZ_ERR_IMPORT __declspec(dllimport)
#  define DAZARAZ_ERR_CALL __cdecl
#else
#  define DAZARAZ_ERR_IMPORT
#  define DAZARAZ_ERR_CALL
#endif

extern "C" DAZARAZ_ERR_IMPORT void DAZARAZ_ERR_CALL err(int category, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

#endif
