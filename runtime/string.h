/* Byte strings and memory blocks.
 *
 * A pointer below 4096 counts as an absent string for the length and
 * comparison functions, which never read through it. Bytes compare as
 * unsigned values; case folding maps only A-Z. No locale.
 */
#ifndef RIDID_STRING_H
#define RIDID_STRING_H

#include "ridid_abi.h"

RIDID_BEGIN_DECLS

size_t strlen(const char* s) RIDID_C_NAME(strlen);
size_t strnlen(const char* s, size_t max) RIDID_C_NAME(strnlen);
int strcmp(const char* a, const char* b) RIDID_C_NAME(strcmp);
int strncmp(const char* a, const char* b, size_t n) RIDID_C_NAME(strncmp);
char* strcpy(char* dst, const char* src) RIDID_C_NAME(strcpy);
char* strncpy(char* dst, const char* src, size_t n) RIDID_C_NAME(strncpy);
char* strcat(char* dst, const char* src) RIDID_C_NAME(strcat);
char* strncat(char* dst, const char* src, size_t n) RIDID_C_NAME(strncat);
char* strchr(const char* s, int c) RIDID_C_NAME(strchr);
char* strrchr(const char* s, int c) RIDID_C_NAME(strrchr);
char* strstr(const char* haystack, const char* needle) RIDID_C_NAME(strstr);
void* memcpy(void* dst, const void* src, size_t n) RIDID_C_NAME(memcpy);
void* memmove(void* dst, const void* src, size_t n) RIDID_C_NAME(memmove);
void* memset(void* dst, int value, size_t n) RIDID_C_NAME(memset);
int memcmp(const void* a, const void* b, size_t n) RIDID_C_NAME(memcmp);
char* strdup(const char* s) RIDID_C_NAME(strdup);
char* strndup(const char* s, size_t max) RIDID_C_NAME(strndup);
int strncasecmp(const char* a, const char* b, size_t n) RIDID_C_NAME(strncasecmp);
int strcasecmp(const char* a, const char* b) RIDID_C_NAME(strcasecmp);
char* strtok(char* s, const char* delims) RIDID_C_NAME(strtok);
/* Searches and bounded copies (string_search.cpp). */
void* memchr(const void* s, int c, size_t n) RIDID_C_NAME(memchr);
void* memrchr(const void* s, int c, size_t n) RIDID_C_NAME(memrchr);
size_t strspn(const char* s, const char* set) RIDID_C_NAME(strspn);
size_t strcspn(const char* s, const char* set) RIDID_C_NAME(strcspn);
char* strpbrk(const char* s, const char* set) RIDID_C_NAME(strpbrk);
size_t strlcpy(char* dst, const char* src, size_t size) RIDID_C_NAME(strlcpy);
size_t strlcat(char* dst, const char* src, size_t size) RIDID_C_NAME(strlcat);
/* Lives with errno (errno.cpp); declared here too, where C programs look for it. */
char* strerror(int code) RIDID_C_NAME(strerror);

RIDID_END_DECLS

#endif
