/* A byte-scanning loop: counts one byte value in a 4 KiB buffer, 10,000
 * times (about 246 million guest instructions). The same source builds for
 * ridid and for Linux i386. */
static unsigned char buf[4096];

int main(int argc, char** argv) {
  (void)argv;
  unsigned n = 0;
  for (unsigned i = 0; i < sizeof buf; ++i) buf[i] = (unsigned char)(i * 7 + argc);
  for (unsigned r = 0; r < 10000; ++r) {
    const unsigned char want = (unsigned char)r;
    for (unsigned i = 0; i < sizeof buf; ++i) n += buf[i] == want;
  }
  return (int)(n & 0x7f);
}
