// The package record read by the package tools: magic, version 1, the
// package name, its second text and the closing empty text. 15 bytes.
extern "C" __attribute__((section(".ridid.pkgmeta"), used, aligned(4)))
const char g_pkgmeta_0[15] =
    "KPKG"
    "\x01\x00\x00\x00"
    "run\0"
    "2\0";  // the literal's own NUL closes the texts
