// Streams against the recording kernel: the output path, opening, the store
// at fclose, reads, positions and fscanf's token per call, with the kernel's
// odd answers (short and failed writes, errors, odd counts) and the heap's
// limits. Each scenario runs in a fresh process: its results, then its trace.
#include "runtime_test.h"

namespace ridid {
namespace {

char* g_buf;
size_t g_len;
FILE memory() { return FILE{FILE_MEM, 0, nullptr, nullptr, 0, 0, &g_buf, &g_len}; }  // as open_memstream makes it
int fail(const kdouble::Trap&) { return -1; }

void answer_writes(std::vector<int32_t> counts) {  // with these counts, in turn
  kdouble::script([counts, i = std::make_shared<size_t>(0)](const kdouble::Trap& t) { return t.nr == SYS_WRITE ? counts.at((*i)++) : 0; });
}

const Scenario kOutput[] = {
    ROW([] { FILE m = memory(), f0{FILE_FD, 0}, f2{FILE_FD, 2}, fn{FILE_FD, -1};  // only descriptor 1 takes output
             return R{file_write_bytes(nullptr, "a", 1), file_write_bytes(stdout, nullptr, 0), file_write_bytes(&m, nullptr, 0),
                      file_write_bytes(stdout, "a", 0), file_write_bytes(&m, "a", 0), m.buf == nullptr, g_heap_used,
                      file_write_bytes(&f0, "x", 1), file_write_bytes(&f2, "x", 1), file_write_bytes(&fn, "x", 1), fputc('A', stdin),
                      fputc('x', nullptr), fputs("err", stderr), fputs("out", stdout), g_stdout.pos + g_stderr.pos}; },
        "-1 -1 -1 0 0 1 0 -1 -1 -1 -1 -1 3 3 0", "w(err) w(out)"),
    ROW([] { return answer_writes({3, 5, 2}), R{file_write_bytes(stdout, "0123456789", 10)}; }, "0", "w(0123456789) w(3456789) w(89)"),
    ROW([] { return answer_writes({4, 0}), R{file_write_bytes(stdout, "0123456789", 10)}; }, "-1", "w(0123456789) w(456789)"),
    ROW([] { return answer_writes({4, -5}), R{file_write_bytes(stdout, "0123456789", 10)}; }, "-1", "w(0123456789) w(456789)"),
    ROW([] { return R{file_write_bytes(stdout, low(0x20000), 0x80000005u), kdouble::traps().at(1).ecx - 0x20000}; },
        "0 2147483647", "w(2147483647 bytes) w(?)"),  // in pieces of at most 2^31 - 1
    ROW([] { FILE m = memory(), fresh{FILE_MEM};  // to 2^19 on a fresh heap; the write that needs more fails and changes nothing
             static std::string data(1 << 19, 'm');
             for (size_t chunk = 255; m.len + 1 < (1u << 19); chunk = m.cap) file_write_bytes(&m, data.data(), chunk);
             char* held = m.buf;
             return R{errno, fputc('z', &m), errno, m.len, m.cap, m.buf == held && g_buf == held && g_len == m.len, held[m.len],
                      file_write_bytes(&fresh, low(16), 0xffffffffu), fresh.buf == nullptr}; },  // a need past 32 bits
        "0 -1 12 524287 524288 1 0 -1 1", ""),
    ROW([] { FILE w{FILE_WRITE, 0, nullptr, nullptr, 0, 0, &g_buf, &g_len}, half{FILE_MEM, 0, nullptr, nullptr, 0, 0, &g_buf}, m = memory();
             std::string more(300, 'q');  // write streams and half-made memory streams publish nothing; failed growth changes nothing
             return R{(g_buf = nullptr, fputs("data", &w)), fputs("x", &half), bytes(w.buf, 5) == bytes("data", 5), g_buf == nullptr,
                      fputs("held", &m), (g_heap_used = HEAP_SIZE - 256, fputs(more.c_str(), &m)), fwrite(more.data(), 1, 300, &m),
                      fputc('q', &m), m.cap, g_buf == m.buf, g_len, m.buf}; },
        "4 1 1 1 4 -1 0 113 256 1 5 heldq", ""),
    ROW([] { return R{fputc(0x141, stdout), putchar(-0xbe), fputs("", stdout), fputs("abc", stdout), fputs(low(16), stdout),
                      fputs(nullptr, stdout), fputs("", nullptr), fwrite("0123456789AB", 4, 3, stdout), fwrite("a", 0x10000, 0x10000, stdout),
                      fwrite("a", 0, 3, stdout), fwrite("a", 3, 0, stdout), fwrite(nullptr, 1, 1, stdout), fwrite("a", 1, 1, nullptr),
                      puts("hi"), puts(""), puts(low(16)), puts(nullptr)}; },
        "321 -190 0 3 0 -1 -1 3 0 0 0 0 0 0 0 0 -1", "w(A) w(B) w(abc) w(0123456789AB) w(hi) w(\\x0a)*3"),
    ROW([] { return answer_writes({5, -1}), R{fwrite("0123456789AB", 4, 3, stdout)}; }, "0", "w(0123456789AB) w(56789AB)"),
    ROW([] { return kdouble::refuse_writes_from(1), R{fputs("abc", stdout), putchar('a'), puts("x")}; }, "-1 -1 -1", "w(abc) w(a) w(x)"),
    ROW([] { return answer_writes({5, 0}), R{puts("hello")}; }, "-1", "w(hello) w(\\x0a)"),
    ROW([] { static FILE m;  // stdout is read again for each write
             int a = (m = memory(), stdout = &m, puts("hi")), b = putchar('!');
             stdout = &g_stdout, kdouble::script([](const kdouble::Trap&) { return stdout = &m, 3; });
             return R{a, b, puts("abc"), g_buf}; },
        "0 33 0 hi\n!\n", "w(abc)"),
};

TEST(StdioTest, OutputPath) { run_scenarios(kOutput); }

const Scenario kFiles[] = {
    ROW([] { FILE other{};
             return R{fopen("-", "r") == stdin, fopen(nullptr, "wb") == stdout, !fopen("-", "a"), !fopen("f", "a"), !fopen("f", ""),
                      !fopen("f", "+r"), !fopen("f", nullptr), g_heap_used, (stdin = &other, fopen(nullptr, "r") == &other)}; },
        "1 1 1 1 1 1 1 0 1", ""),
    ROW([] { FILE *r = (kdouble::serve(7, ""), fopen("in.txt", "r+")), *w = fopen("out/new.txt", "w+");  // w touches no file
             return R{r->kind, r->fd, r->path == nullptr, r->pos + r->eof + r->err, w->kind, w->path, w->buf == nullptr, w->len + w->cap,
                      (kdouble::script(fail), !fopen("missing", "rb"))}; },
        "1 7 1 0 3 out/new.txt 1 0 1", "open(in.txt,0,0) open(missing,0,0)"),
    ROW([] { char* p = low(1);  // out of memory: a descriptor already opened is closed again
             size_t n = 5;
             return R{(kdouble::serve(9, ""), g_heap_used = HEAP_SIZE - 40, !fopen("in", "r")), errno,
                      (g_heap_used = HEAP_SIZE - 56, !fopen("a-long-path", "w")), !open_memstream(&p, &n), p == low(1), n}; },
        "1 12 1 1 1 5", "open(in,0,0) close(9,0,0)"),
    ROW([] { char *p = low(1), b;  // a memory stream publishes after each write; no reads, no positions
             size_t n = 99;
             FILE* f = nullptr;
             return R{!open_memstream(nullptr, &n), !open_memstream(&p, nullptr), p == low(1), n, (f = open_memstream(&p, &n))->kind,
                      p == nullptr, n, fputs("hi", f), n, (f->eof = f->err = 1, rewind(f), feof(f) + ferror(f)), fputs("!", f),
                      fread(&b, 1, 1, f), fgetc(f), fseek(f, 0, SEEK_SET), ftell(f), feof(f), fclose(f), n, p,
                      fclose(open_memstream(&p, &n)), p == nullptr, n}; },
        "1 1 1 99 2 1 0 2 2 0 1 0 -1 -1 -1 0 0 3 hi! 0 1 0", ""),
    ROW([] { FILE *f = fopen("out.txt", "w"), *e = fopen("empty.txt", "w"), *g = fopen("no/dir/f", "w"), *h = fopen("p", "w");
             return R{fputs("ab", f), fputc('c', f), kdouble::traps().size(), fclose(f), fclose(e), fputs("x", g),  // stored at fclose only
                      (kdouble::script([](const kdouble::Trap&) { return INT32_MIN; }), fclose(g)),  // a refused store, a lost path: -1
                      (kdouble::script(fail), fclose(fopen("f", "w"))), (h->path = nullptr, fclose(h))}; },
        "2 99 0 0 0 1 -1 -1 -1", "store(out.txt,abc) store(empty.txt,) store(no/dir/f,x) store(f,)"),
    ROW([] { char* p;  // the standard streams, whatever they hold, stay open
             size_t n;
             FILE* m = open_memstream(&p, &n);
             return R{(stdout = m, fclose(stdin)), fclose(stdout), fclose(stderr), fclose(nullptr), puts("still"), p, g_stderr.fd}; },
        "0 0 0 -1 0 still\n 1", ""),
    ROW([] { std::string r;  // descriptors 0 to 2 are never closed, others with the kernel's answer; a negative one is no stream
             FILE* f;
             for (int fd : {0, 1, 2, 3}) r += (kdouble::serve(fd, ""), f = fopen("in", "r"), kdouble::script(fail), R{fclose(f)}.s);
             return R{r, (kdouble::serve(-4, ""), fopen("odd", "r") == nullptr)}; },
        "000-1 1", "open(in,0,0)*4 close(3,0,0) open(odd,0,0)"),
    ROW([] { kdouble::serve(4, "01234\xff" "6789");  // one read per call: a short one is the end, and counts whole items
             FILE* f = fopen("ten", "r");
             char b[16] = {};
             return R{fgetc(f), fread(b, 2, 2, f), feof(f), fgetc(f), fread(b, 4, 3, f), b, feof(f), f->pos, ftell(f), fgetc(f),
                      ferror(f), fread(b, 0, 1, f), fread(b, 1, 0, f), fread(b, 0x10000, 0x10000, f), fread(b, 0x80000000u, 2, f),
                      fread(nullptr, 1, 1, f), fread(b, 1, 1, nullptr), fgetc(nullptr), (kdouble::serve(0, "k"), getchar()),
                      (stdin = f, getchar()), (stdin = nullptr, getchar())}; },  // getchar reads the stream stdin points to now
        "48 2 0 255 1 6789 1 10 10 -1 0 0 0 0 0 0 0 -1 107 -1 -1", "open(ten,0,0) r4:1 r4:4 r4:1 r4:12 r4:1 r0:1 r4:1"),
    ROW([] { FILE* f = fopen("x", "r");  // an error reads as the end
             char b[4];
             return kdouble::script(fail), R{fread(b, 1, 4, f), feof(f), ferror(f), f->pos}; },
        "0 1 0 0", "open(x,0,0) r0:4"),
    ROW([] { FILE* f = (kdouble::serve(3, "0123456789"), fopen("t", "r"));  // the position: the kernel's answer, or the bytes read
             return R{(f->eof = 1, fseek(f, 4, SEEK_CUR)), f->pos, feof(f), fgetc(f), ftell(f), fseek(f, 0, SEEK_SET), f->pos,
                      (f->pos = 100, f->eof = f->err = 1, kdouble::script(fail), fseek(f, -3, 77)), feof(f), f->pos, (rewind(f), f->pos),
                      f->eof + f->err, (kdouble::serve(3, "z"), rewind(f), f->pos), (f->pos = INT32_MAX, fgetc(f)), ftell(f)}; },  // refusals
        "0 4 0 52 5 0 0 -1 1 100 100 0 0 122 -2147483648", "open(t,0,0) seek(3,4,1) r3:1 seek(3,0,0) seek(3,-3,77) seek(3,0,0)*2 r3:1"),
    ROW([] { std::string r;  // descriptors 0 to 2 and write streams have no position
             for (FILE* s : {stdin, stdout, stderr, (kdouble::serve(2, ""), fopen("two", "r")), fopen("w", "w")}) {
               r += R{(s->eof = s->err = 1, rewind(s), s->eof + s->err), fseek(s, 0, 0), ftell(s)}.s + " ";
             }
             return R{r, fseek(nullptr, 0, 0), ftell(nullptr), feof(nullptr), ferror(nullptr), (rewind(nullptr), 0)}; },
        "0 -1 -1 0 -1 -1 0 -1 -1 0 -1 -1 0 -1 -1  -1 -1 1 1 0", "open(two,0,0)"),
    ROW([] { FILE* f = (kdouble::serve(5, "42\n1,2 3 \r\nabc\rdef"), fopen("in", "r"));  // fscanf: a byte per read, a token per call
             int a = 0, b = -1;
             char w[8];
             return R{fscanf(f, "%d", &a), a, f->pos, fscanf(f, "%d,%d %d", &a, &b, &b), b, fscanf(f, "%d %d", &a, &b), a, f->pos,
                      fscanf(f, "%s", w), std::string(w), feof(f), fscanf(f, "%s", w), std::string(w), feof(f), fscanf(f, "%s", w)}; },
        "1 42 3 2 2 1 3 9 1 abc 0 1 def 1 -1", "open(in,0,0) r5:1*20"),
    ROW([] { static char w[300];  // a token starting with NUL scans as empty; 255 bytes are kept and the rest is lost
             int v = 0;
             kdouble::serve(0, std::string("\0abc ", 5) + std::string(300, 'x') + "\n9 " + std::string(255, 'y'));
             return R{fscanf(stdin, "%s", std::strcpy(w, "unset")), std::string(w), fscanf(stdin, "%s", w), std::strlen(w),
                      g_stdin.pos, fscanf(stdin, "%d", &v), v, fscanf(stdin, "%s", w), std::strlen(w), w[0]}; },
        "0 unset 1 255 306 1 9 1 255 121", "r0:1*564"),
    ROW([] { int v, n = 0;  // an error, a byte then an error, a count other than 1; only descriptor streams are read
             char* b;
             FILE f{FILE_FD, 0}, g{FILE_FD, 0}, h{FILE_FD, 0}, m{FILE_MEM, 0, nullptr, nullptr, 0, 0, &b, &g_len}, w{FILE_WRITE}, odd{7};
             std::string r = (kdouble::script(fail), R{fscanf(&f, "%d", &v), f.eof, f.pos});
             kdouble::script([&n](const kdouble::Trap& t) { return *low(t.ecx) = '8', n++ == 0 ? 1 : -1; });
             r += " " + R{fscanf(&g, "%d", &v), v, g.eof, g.pos}.s;
             return kdouble::script([](const kdouble::Trap&) { return 3; }),
                    R{r, fscanf(&h, "%d", &v), h.pos, h.eof, fscanf(&m, "%d", &v), fscanf(&w, "%d", &v), fscanf(&odd, "%d", &v),
                      fscanf(nullptr, "%d", &v), fscanf(stdin, nullptr), m.eof + w.eof + odd.eof + g_stdin.eof}; },
        "-1 1 0 1 8 1 1 -1 3 0 -1 -1 -1 -1 -1 0", "r0:1*4"),
    ROW([] { kdouble::serve(6, "ab\ncd\nlast");  // one byte back, taken first by every kind of read; fseek and rewind drop it
             FILE *f = fopen("lines", "r"), m = memory();
             char b[4], l[8];
             int v = 0;
             auto text = [](const char* p) { return std::string(p ? p : "(null)"); };  // taken as the call returns
             return R{getc(f), ungetc('X', f), ungetc('Y', f), ftell(f), fgetc(f), ftell(f), ungetc(EOF, f), ungetc(0x161, f),
                      fread(b, 1, 3, f), bytes(b, 3), text(fgets(l, 8, f)), (ungetc('Q', f), text(fgets(l, 3, f))), text(fgets(l, 8, f)),
                      feof(f), fgets(l, 8, f) == nullptr, text(l), (ungetc('z', f), feof(f)), fgets(l, 1, f) == l, l[0], (fseek(f, 0, SEEK_SET), fgetc(f)),
                      (ungetc('k', f), rewind(f), fgetc(f)), (ungetc('7', f), fscanf(f, "%d", &v)), v, f->pos, ungetc('a', &m),
                      fgets(l, 8, &m) == nullptr, fgets(nullptr, 8, f) == fgets(l, 0, f), putc(0x121, stdout)}; },
        "97 88 -1 0 88 1 -1 97 3 ab\n cd\n Ql ast 1 1 ast 0 1 0 97 97 1 7 3 -1 1 1 289",
        "open(lines,0,0) r6:1 r6:2 r6:1*9 seek(6,0,0) r6:1 seek(6,0,0) r6:1*3 w(!)"),
    ROW([] { kdouble::serve(6, std::string("a\0b\ncd", 6));  // a NUL byte is read and pushed back like any other:
             FILE* f = fopen("nul", "r");                         // fgets goes on past it, fread takes it first, and
             char l[8] = "-------", b[2] = {'-', '-'}, c = '-';   // fscanf's token starts with it (so it is empty)
             return R{fgets(l, 8, f) == l, l[0], l[1], l[2], l[3], l[4], (ungetc(0, f), fread(b, 1, 2, f)), b[0], b[1],
                      (ungetc(0, f), fscanf(f, "%c", &c)), c}; },
        "1 97 0 98 10 0 2 0 99 0 45", "open(nul,0,0) r6:1*7"),
};

int print(const char* format, ...) {
  __builtin_va_list args;
  __builtin_va_start(args, format);
  int n = vprintf(format, args);
  __builtin_va_end(args);
  return n;
}

TEST(StdioTest, Files) { run_scenarios(kFiles); }

const Scenario kMessages[] = {  // vprintf is vfprintf on stdout; perror writes on stderr, the console
    ROW([] { return R{print("%d-%s", 5, "x"), (errno = ENOENT, perror("open"), 0), (errno = 34, perror(nullptr), perror(""), 0)}; },
        "3 0 0", "w(5) w(-) w(x) w(open) w(: no such file\\x0a) w(error\\x0a)*2"),
};

TEST(StdioTest, Messages) { run_scenarios(kMessages); }

}  // namespace
}  // namespace ridid
