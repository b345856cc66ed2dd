/*
 * tolvex.h - the host side of the driver's log.
 *
 * The driver reports every line through err(category, format, ...), which it
 * imports by name from this library. A host registers a sink to receive the
 * lines (category and formatted text); without one they go to standard error
 * as "[category] text". A host program that defines and exports its own err
 * (linked with -rdynamic) receives the driver's lines there instead.
 */
#ifndef DAZARAZ_TOLVEX_H
#define DAZARAZ_TOLVEX_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  if defined(TOLVEX_BUILDING)
#    define TOLVEX_API __declspec(dllexport)
#  else
#    define TOLVEX_API __declspec(dllimport)
#  endif
#  define TOLVEX_CALL __cdecl
#else
#  define TOLVEX_API __attribute__((visibility("default")))
#  define TOLVEX_CALL
#endif

/* Receives one log line: the category (8, 32 or 64) and the formatted text. */
typedef void (*TolvexSink)(int category, const char *text, void *context);

/* Routes every later line to sink (null: back to standard error). */
TOLVEX_API void TOLVEX_CALL tolvex_set_sink(TolvexSink sink, void *context);

/* The log function that the driver calls. */
TOLVEX_API void TOLVEX_CALL err(int category, const char *format, ...);

#ifdef __cplusplus
}
#endif

#endif
