/* Byte classes and case mapping, in ASCII: no locale. Every function takes
 * EOF and every unsigned char value; any other int is in no class and maps
 * to itself. Functions, not macros, so that &isdigit works. */
#ifndef RIDID_CTYPE_H
#define RIDID_CTYPE_H

#include "ridid_abi.h"

RIDID_BEGIN_DECLS

int isalnum(int c) RIDID_C_NAME(isalnum);
int isalpha(int c) RIDID_C_NAME(isalpha);
int isblank(int c) RIDID_C_NAME(isblank);
int iscntrl(int c) RIDID_C_NAME(iscntrl);
int isdigit(int c) RIDID_C_NAME(isdigit);
int isgraph(int c) RIDID_C_NAME(isgraph);
int islower(int c) RIDID_C_NAME(islower);
int isprint(int c) RIDID_C_NAME(isprint);
int ispunct(int c) RIDID_C_NAME(ispunct);
int isspace(int c) RIDID_C_NAME(isspace);
int isupper(int c) RIDID_C_NAME(isupper);
int isxdigit(int c) RIDID_C_NAME(isxdigit);
int tolower(int c) RIDID_C_NAME(tolower);
int toupper(int c) RIDID_C_NAME(toupper);

RIDID_END_DECLS

#endif
