/*
 * Opening a file by a UTF-8 name on Windows, for libxlsxwriter. Built with
 * mingw, the library opens the .xlsx and its temporary files with fopen,
 * _open and stat, which take a name in the ANSI code page, so that a name
 * outside it (a folder "Отчёты" in a Western code page) cannot be opened.
 * The Windows build forces this header into each of the library's sources
 * with QSOFLAT_UTF8_NAMES_REDIRECT defined, which sends those calls here.
 * C, since the library is.
 */
#ifndef QSOFLAT_UTF8_NAMES_H
#define QSOFLAT_UTF8_NAMES_H

/* Each header that declares a call below comes first, so that the macros
   rename the library's calls and not the declarations. */
#include <stdio.h>
#include <sys/types.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <fcntl.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* As fopen, _open and stat, with the name taken as UTF-8. A name that is
   not valid UTF-8 is passed on as it is, in the ANSI code page, as the
   library's own calls would take it. */
FILE *qsoflat_fopen(const char *name, const char *mode);
int qsoflat_open(const char *name, int flags, int mode);
int qsoflat_stat(const char *name, struct stat *status);

#ifdef __cplusplus
}
#endif

#ifdef QSOFLAT_UTF8_NAMES_REDIRECT
#define fopen(name, mode) qsoflat_fopen(name, mode)
#define fopen64(name, mode) qsoflat_fopen(name, mode)
#define _open(name, flags, mode) qsoflat_open(name, flags, mode)
#define stat(name, status) qsoflat_stat(name, status)
#endif

#endif
