// Times trackdec and trackenc against their I/O floors, the plain stdio
// baselines, od and cat, on one random track, in alternating rounds; times
// trackenc on the same track in the text forms that people and tools make;
// times trackenc with and without its reading thread; prints medians, peak
// memory and the ratios that matter, and checks that the outputs agree.
// --portable names a second build folder, made with -DTRACK_SIMD=OFF, whose
// programs are timed too; --build another build folder whose programs stand
// in for this one's (an older version, say).
//
//   trackbench [--size BYTES[K|M|G]] [--rounds N] [--dir DIR] [--portable BUILD] [--build BUILD]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct timing {
    double seconds;
    long peak_kib;
};

// Runs argv in dir with standard output to `out` (when given), and with
// no_thread loaded into it where asked; exits the benchmark if the program
// fails.
timing run(const std::vector<std::string> &argv, const fs::path &dir, const fs::path &out = {}, bool no_thread = false)
{
    const fs::path peak_file = dir.string() + ".peak";
    std::vector<std::string> words = {BENCH_PEAK, peak_file.string()};
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<char *> args;
    args.reserve(words.size() + 1);
    for (const std::string &a : words)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        if (!out.empty()) {
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0)
                _exit(127);
        }
        if (no_thread && setenv("LD_PRELOAD", BENCH_NO_THREAD, 1) != 0)
            _exit(127);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    auto stop = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        (void)std::fprintf(stderr, "trackbench: %s failed in %s\n", argv[0].c_str(), dir.c_str());
        std::exit(2);
    }
    long peak = 0;
    std::ifstream(peak_file) >> peak;
    return {std::chrono::duration<double>(stop - start).count(), peak};
}

// Touches and frees `size` bytes of memory. On a virtual machine whose host
// takes back idle free pages, a program that needs fresh pages (as any
// program writing a new file on tmpfs does) pays for the host giving them
// back; warming free memory before every timed run gives each program the
// same start.
void warm_free_memory(std::size_t size)
{
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return;
    std::memset(p, 1, size);
    munmap(p, size);
}

// Reads a file through, untimed. A virtual machine's host may also take back
// memory that the guest has not touched for a while, its page cache
// included; then the first program of a round to read an input pays for
// getting it back, and the next one, its floor perhaps, does not. Reading
// each input just before its run gives every program the same start. Only
// an aid: an input that cannot be read here fails in the run itself.
void warm_input(const fs::path &path)
{
    static char buffer[1 << 20];
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    (void)close(fd);
}

std::string slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

long long parse_size(const char *text)
{
    char *end = nullptr;
    long long n = std::strtoll(text, &end, 10);
    switch (*end) {
    case 'K':
    case 'k':
        n <<= 10;
        break;
    case 'M':
    case 'm':
        n <<= 20;
        break;
    case 'G':
    case 'g':
        n <<= 30;
        break;
    default:
        break;
    }
    return n;
}

struct contender {
    const char *name;
    std::vector<std::string> argv;
    std::string dir;  // its own folder, named for what it does
    bool to_stdout;   // od and cat write to standard output
    std::vector<double> seconds;
    long peak_kib = 0;
    bool no_thread = false;  // trackenc without its reading thread
};

// The file a contender reads in its folder: decoders (and od) read the
// record file, the others the text, in its canonical form or another.
const char *input_of(const contender &c)
{
    return c.dir.rfind("dec", 0) == 0 || c.dir == "od" ? "talvor.vrd" : "piste1.txt";
}

// The same records as text in another form: each number padded to width
// with pad, then separator, the last of each line ending with line_end
// instead; a record's first line holds first_line of its numbers.
struct text_form {
    const char *name;
    const char *dir;
    std::size_t width;
    char pad;
    const char *separator, *line_end;
    // Throughput relative to canonical text before the reader took every
    // form at speed (trackconv 1.0.0, 32 MiB track, 5 rounds, on the machine
    // of README's figures); 0 for a form not timed then.
    double before, before_portable;
    std::size_t first_line = 16;
};

constexpr text_form forms[] = {
    {"CR LF line ends", "crlf", 0, ' ', " ", "\r\n", 0.49, 0.71},
    {"od -An -v -tu1 -w16 columns", "od-columns", 4, ' ', "", "\n", 0.17, 0.15},
    {"two blanks between numbers", "two-blanks", 0, ' ', "  ", "\n", 0.10, 0.10},
    {"tab-separated", "tabs", 0, ' ', "\t", "\n", 0.08, 0.17},
    {"zero-padded (000 017 255)", "zero-padded", 3, '0', " ", "\n", 1.13, 1.30},
    {"8 + 8 numbers per record", "8-and-8", 0, ' ', " ", "\n", 0, 0, 8},
    {"10 + 6 numbers per record", "10-and-6", 0, ' ', " ", "\n", 0, 0, 10},
};

// The text forms that trackenc is timed in without its thread too.
constexpr const char *thread_forms[] = {"", "-form-8-and-8", "-form-10-and-6"};

std::string make_form(const std::string &records, const text_form &f)
{
    std::string numbers[256];
    for (unsigned v = 0; v < 256; ++v) {
        numbers[v] = std::to_string(v);
        if (numbers[v].size() < f.width)
            numbers[v].insert(0, f.width - numbers[v].size(), f.pad);
    }
    std::string out;
    out.reserve(records.size() * 5);
    for (std::size_t i = 0; i < records.size(); ++i) {
        out += numbers[static_cast<unsigned char>(records[i])];
        out += i % 16 == 15 || i % 16 == f.first_line - 1 ? f.line_end : f.separator;
    }
    return out;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    long long size = 64ll << 20;
    int rounds = 5;
    fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path portable;  // a second build folder, made with -DTRACK_SIMD=OFF
    std::string trackenc = BENCH_TRACKENC, trackdec = BENCH_TRACKDEC;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0)
            size = parse_size(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = argv[i + 1];
        else if (std::strcmp(argv[i], "--portable") == 0)
            portable = fs::absolute(argv[i + 1]);
        else if (std::strcmp(argv[i], "--build") == 0) {
            trackenc = (fs::absolute(argv[i + 1]) / "trackenc/trackenc").string();
            trackdec = (fs::absolute(argv[i + 1]) / "trackdec/trackdec").string();
        }
    }
    size -= size % 16;
    if (size <= 0 || rounds < 1 || argc % 2 == 0) {
        (void)std::fprintf(stderr,
                           "usage: trackbench [--size BYTES[K|M|G]] [--rounds N] [--dir DIR] [--portable BUILD] "
                           "[--build BUILD]\n");
        return 2;
    }
    // A short run shows that everything works; its times mean little.
    const bool judged = rounds >= 3 && size >= (16ll << 20);

    std::string pattern = (base / "trackbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("trackbench: mkdtemp");
        return 2;
    }
    fs::path root = pattern;
    fs::create_directory(root / "master");
    fs::create_directory(root / "small");

    std::string records(static_cast<std::size_t>(size), '\0');
    std::mt19937_64 random(42);
    for (std::size_t i = 0; i < records.size(); i += 8) {
        std::uint64_t r = random();
        std::memcpy(&records[i], &r, 8);
    }
    // The inputs are links to one master copy of each form, so that the
    // runs share one set of input pages. The text form is made by the
    // baseline decoder.
    spit(root / "master" / "talvor.vrd", records);
    spit(root / "small" / "talvor.vrd", records.substr(0, 1024));
    for (const text_form &f : forms) {
        fs::create_directory(root / (std::string("master-") + f.dir));
        spit(root / (std::string("master-") + f.dir) / "piste1.txt", make_form(records, f));
    }
    records = {};
    run({BENCH_LITERAL_DEC}, root / "master");
    const auto text_size = static_cast<std::size_t>(fs::file_size(root / "master" / "piste1.txt"));

    std::vector<contender> all = {
        {"trackdec", {trackdec}, "dec", false, {}, 0},
        {"trackdec I/O floor", {BENCH_FLOOR, "dec", std::to_string(text_size)}, "dec-floor", false, {}, 0},
        {"literal decoder", {BENCH_LITERAL_DEC}, "dec-literal", false, {}, 0},
        {"od -An -v -tu1 -w16", {"od", "-An", "-v", "-tu1", "-w16", "talvor.vrd"}, "od", true, {}, 0},
        {"trackenc", {trackenc}, "enc", false, {}, 0},
        {"trackenc I/O floor", {BENCH_FLOOR, "enc", std::to_string(size)}, "enc-floor", false, {}, 0},
        {"literal encoder", {BENCH_LITERAL_ENC}, "enc-literal", false, {}, 0},
        {"cat of the text", {"cat", "piste1.txt"}, "cat", true, {}, 0},
    };
    const std::string portable_enc = (portable / "trackenc/trackenc").string();
    if (!portable.empty()) {
        all.push_back({"portable trackdec", {(portable / "trackdec/trackdec").string()}, "dec-portable", false, {}, 0});
        all.push_back({"portable trackenc", {portable_enc}, "enc-portable", false, {}, 0});
    }
    for (const text_form &f : forms) {
        all.push_back({f.name, {trackenc}, std::string("enc-form-") + f.dir, false, {}, 0});
        if (!portable.empty())
            all.push_back({f.name, {portable_enc}, std::string("enc-portable-form-") + f.dir, false, {}, 0});
    }
    // Without the thread: canonical text, and 8 + 8 and 10 + 6 numbers per
    // record.
    for (const char *form : thread_forms) {
        all.push_back(
            {"trackenc without its thread", {trackenc}, std::string("enc-nothread") + form, false, {}, 0, true});
        if (!portable.empty())
            all.push_back({"portable trackenc without its thread",
                           {portable_enc},
                           std::string("enc-portable-nothread") + form,
                           false,
                           {},
                           0,
                           true});
    }
    for (const contender &c : all) {
        fs::create_directory(root / c.dir);
        const char *input = input_of(c);
        const std::size_t form = c.dir.find("-form-");
        const fs::path master =
            form == std::string::npos ? root / "master" : root / ("master-" + c.dir.substr(form + 6));
        fs::create_hard_link(master / input, root / c.dir / input);
    }
    std::printf("track of %lld bytes (%lld records), text form %zu bytes, in %s; %d rounds\n", size, size / 16,
                text_size, root.c_str(), rounds);
    for (int r = 0; r < rounds; ++r) {
        for (contender &c : all) {
            warm_free_memory(2 * text_size);
            warm_input(root / c.dir / input_of(c));
            timing t = run(c.argv, root / c.dir, c.to_stdout ? root / c.dir / "out.txt" : fs::path{}, c.no_thread);
            c.seconds.push_back(t.seconds);
            c.peak_kib = std::max(c.peak_kib, t.peak_kib);
        }
    }

    // The literal decoder's output is in master; the rest must agree with it.
    const std::string text = slurp(root / "master" / "piste1.txt");
    const std::string bytes = slurp(root / "master" / "talvor.vrd");
    bool same = true;
    for (const contender &c : all) {
        if (c.dir == "dec" || c.dir == "dec-literal" || c.dir == "dec-portable")
            same = same && slurp(root / c.dir / "piste1.txt") == text;
        if (c.dir.rfind("enc", 0) == 0 && c.dir != "enc-floor")
            same = same && slurp(root / c.dir / "talvor.vrd") == bytes;
    }

    // Memory must not grow with the track: the same programs on 1 KiB.
    long small_dec = run({trackdec}, root / "small").peak_kib;
    long small_enc = run({trackenc}, root / "small").peak_kib;

    std::printf("\n| program | median s | min s | max s | peak memory KiB |\n|---|---|---|---|---|\n");
    for (const contender &c : all)
        if (c.dir.find("-form-") == std::string::npos)
            std::printf("| %s | %.3f | %.3f | %.3f | %ld |\n", c.name, median(c.seconds),
                        *std::min_element(c.seconds.begin(), c.seconds.end()),
                        *std::max_element(c.seconds.begin(), c.seconds.end()), c.peak_kib);
    std::printf("| trackdec, 1 KiB track | | | | %ld |\n| trackenc, 1 KiB track | | | | %ld |\n", small_dec, small_enc);

    // Each ratio is the median of the per-round ratios, so that a slow round
    // of the machine weighs on both sides alike.
    auto find = [&](const char *dir) -> const contender * {
        for (const contender &c : all) {
            if (c.dir == dir)
                return &c;
        }
        return nullptr;
    };
    const struct ratio {
        const char *name;
        const char *top, *bottom;
        double target;
        bool at_least;
    } ratios[] = {
        {"trackdec / its I/O floor", "dec", "dec-floor", 1.1, false},
        {"trackenc / its I/O floor", "enc", "enc-floor", 1.35, false},
        {"portable trackdec / its I/O floor", "dec-portable", "dec-floor", 1.4, false},
        {"portable trackenc / its I/O floor", "enc-portable", "enc-floor", 2.5, false},
        {"literal decoder / trackdec", "dec-literal", "dec", 12, true},
        {"od / trackdec", "od", "dec", 30, true},
        {"trackdec / cat of the text", "dec", "cat", 1.1, false},
        {"literal encoder / trackenc", "enc-literal", "enc", 15, true},
        {"trackenc / cat of the text", "enc", "cat", 1.5, false},
    };
    auto verdict = [&](bool met) { return !judged ? "not judged" : met ? "met" : "MISSED"; };
    std::printf("\n| ratio | measured | target | |\n|---|---|---|---|\n");
    for (const ratio &r : ratios) {
        const contender *top = find(r.top);
        const contender *bottom = find(r.bottom);
        if (top == nullptr || bottom == nullptr)
            continue;
        std::vector<double> each;
        for (std::size_t i = 0; i < top->seconds.size(); ++i)
            each.push_back(top->seconds[i] / bottom->seconds[i]);
        const double value = median(each);
        std::printf("| %s | %.2f | %s %.2f | %s |\n", r.name, value, r.at_least ? "at least" : "at most", r.target,
                    verdict(r.at_least ? value >= r.target : value <= r.target));
    }
    long peak = std::max({find("dec")->peak_kib, find("enc")->peak_kib, small_dec, small_enc});
    std::printf("| peak memory of trackdec and trackenc | %ld KiB | at most 4096 KiB | %s |\n", peak,
                verdict(peak <= 4096));

    // Throughput per byte of text in each form, against canonical text's,
    // for each build that was timed; the medians of the per-round ratios.
    auto form_row = [&](const char *prefix, const contender &canonical, const text_form *f, double &ratio) {
        const contender *c = f == nullptr ? &canonical : find((std::string(prefix) + "-form-" + f->dir).c_str());
        const std::size_t form_bytes =
            f == nullptr
                ? text_size
                : static_cast<std::size_t>(fs::file_size(root / (std::string("master-") + f->dir) / "piste1.txt"));
        std::vector<double> each;
        for (std::size_t i = 0; i < c->seconds.size(); ++i)
            each.push_back(static_cast<double>(form_bytes) / c->seconds[i] /
                           (static_cast<double>(text_size) / canonical.seconds[i]));
        ratio = median(each);
        const double before = f == nullptr ? 1.0 : prefix[3] == '\0' ? f->before : f->before_portable;
        std::printf(" %.0f | %.2f |", static_cast<double>(form_bytes) / median(c->seconds) / 1e6, ratio);
        if (before != 0)
            std::printf(" %.2f |", before);
        else
            std::printf(" |");
    };
    const contender *canonical = find("enc");
    const contender *canonical_portable = find("enc-portable");
    std::printf("\n| text form | trackenc MB/s | ratio to canonical | before | portable MB/s | ratio | before | "
                "ratios at least 0.70 |\n|---|---|---|---|---|---|---|---|\n");
    for (std::size_t i = 0; i <= std::size(forms); ++i) {
        const text_form *f = i == 0 ? nullptr : &forms[i - 1];
        double ratio = 1, portable_ratio = 1;
        std::printf("| %s |", f == nullptr ? "canonical" : f->name);
        form_row("enc", *canonical, f, ratio);
        if (canonical_portable != nullptr)
            form_row("enc-portable", *canonical_portable, f, portable_ratio);
        else
            std::printf(" | | |");
        std::printf(" %s |\n", f == nullptr ? "" : verdict(ratio >= 0.7 && portable_ratio >= 0.7));
    }
    // The reading thread: each build's trackenc with it and without it.
    std::printf("\n| text | build | with the thread ms | without ms | ratio |\n|---|---|---|---|---|\n");
    for (const char *form : thread_forms) {
        for (const char *build : {"enc", "enc-portable"}) {
            const contender *with = find((build + std::string(form)).c_str());
            const contender *without = find((build + std::string("-nothread") + form).c_str());
            if (with == nullptr || without == nullptr)
                continue;
            std::vector<double> each;
            for (std::size_t i = 0; i < with->seconds.size(); ++i)
                each.push_back(with->seconds[i] / without->seconds[i]);
            std::printf("| %s | %s | %.1f | %.1f | %.2f |\n", form[0] == '\0' ? "canonical" : form + 6,
                        build[3] == '\0' ? "default" : "portable", 1e3 * median(with->seconds),
                        1e3 * median(without->seconds), median(each));
        }
    }

    std::printf("\noutputs of trackdec, trackenc and the baselines: %s\n", same ? "identical" : "DIFFERENT");

    fs::remove_all(root);
    return same ? 0 : 1;
}
