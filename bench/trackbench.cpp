// Times trackdec and trackenc against the plain stdio baselines, od and cat,
// on one random track, in alternating rounds; prints medians, peak memory and
// the ratios that matter, and checks that the outputs agree.
//
//   trackbench [--size BYTES[K|M|G]] [--rounds N] [--dir DIR]
#include <algorithm>
#include <cerrno>
#include <chrono>
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

// Runs argv in dir with standard output to `out` (when given); exits the
// benchmark if the program fails.
timing run(const std::vector<std::string> &argv, const fs::path &dir, const fs::path &out = {})
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
    fs::path dir;
    fs::path out;  // standard output, for od and cat
    std::vector<double> seconds;
    long peak_kib = 0;
};

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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0)
            size = parse_size(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = argv[i + 1];
    }
    size -= size % 16;
    if (size <= 0 || rounds < 1) {
        (void)std::fprintf(stderr, "usage: trackbench [--size BYTES[K|M|G]] [--rounds N] [--dir DIR]\n");
        return 2;
    }

    std::string pattern = (base / "trackbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("trackbench: mkdtemp");
        return 2;
    }
    fs::path root = pattern;
    const char *dirs[] = {"master", "dec", "dec-literal", "od", "enc", "enc-literal", "cat", "small"};
    for (const char *d : dirs)
        fs::create_directory(root / d);

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
    records = {};
    run({BENCH_LITERAL_DEC}, root / "master");
    for (const char *d : {"dec", "dec-literal", "od"})
        fs::create_hard_link(root / "master" / "talvor.vrd", root / d / "talvor.vrd");
    for (const char *d : {"enc", "enc-literal", "cat"})
        fs::create_hard_link(root / "master" / "piste1.txt", root / d / "piste1.txt");
    const std::size_t text_size = fs::file_size(root / "master" / "piste1.txt");

    std::vector<contender> all = {
        {"trackdec", {BENCH_TRACKDEC}, root / "dec", {}, {}, 0},
        {"literal decoder", {BENCH_LITERAL_DEC}, root / "dec-literal", {}, {}, 0},
        {"od -An -v -tu1 -w16",
         {"od", "-An", "-v", "-tu1", "-w16", "talvor.vrd"},
         root / "od",
         root / "od" / "out.txt",
         {},
         0},
        {"trackenc", {BENCH_TRACKENC}, root / "enc", {}, {}, 0},
        {"literal encoder", {BENCH_LITERAL_ENC}, root / "enc-literal", {}, {}, 0},
        {"cat of the text", {"cat", "piste1.txt"}, root / "cat", root / "cat" / "out.txt", {}, 0},
    };
    std::printf("track of %lld bytes (%lld records), text form %zu bytes, in %s; %d rounds\n", size, size / 16,
                text_size, root.c_str(), rounds);
    for (int r = 0; r < rounds; ++r) {
        for (contender &c : all) {
            warm_free_memory(2 * text_size);
            timing t = run(c.argv, c.dir, c.out);
            c.seconds.push_back(t.seconds);
            c.peak_kib = std::max(c.peak_kib, t.peak_kib);
        }
    }

    // The literal decoder's output is in master; the rest must agree with it.
    bool same = slurp(root / "dec" / "piste1.txt") == slurp(root / "dec-literal" / "piste1.txt") &&
                slurp(root / "dec" / "piste1.txt") == slurp(root / "master" / "piste1.txt");
    same = same && slurp(root / "enc" / "talvor.vrd") == slurp(root / "master" / "talvor.vrd") &&
           slurp(root / "enc-literal" / "talvor.vrd") == slurp(root / "master" / "talvor.vrd");

    // Memory must not grow with the track: the same programs on 1 KiB.
    long small_dec = run({BENCH_TRACKDEC}, root / "small").peak_kib;
    long small_enc = run({BENCH_TRACKENC}, root / "small").peak_kib;

    std::printf("\n| program | median s | min s | max s | peak memory KiB |\n|---|---|---|---|---|\n");
    for (const contender &c : all)
        std::printf("| %s | %.3f | %.3f | %.3f | %ld |\n", c.name, median(c.seconds),
                    *std::min_element(c.seconds.begin(), c.seconds.end()),
                    *std::max_element(c.seconds.begin(), c.seconds.end()), c.peak_kib);
    std::printf("| trackdec, 1 KiB track | | | | %ld |\n| trackenc, 1 KiB track | | | | %ld |\n", small_dec, small_enc);

    auto m = [&](int i) { return median(all[static_cast<std::size_t>(i)].seconds); };
    const struct ratio {
        const char *name;
        double value;
        double target;
        bool at_least;
    } ratios[] = {
        {"literal decoder / trackdec", m(1) / m(0), 12, true},   {"od / trackdec", m(2) / m(0), 30, true},
        {"trackdec / cat of the text", m(0) / m(5), 1.1, false}, {"literal encoder / trackenc", m(4) / m(3), 15, true},
        {"trackenc / cat of the text", m(3) / m(5), 1.5, false},
    };
    std::printf("\n| ratio | measured | target | |\n|---|---|---|---|\n");
    for (const ratio &r : ratios) {
        bool met = r.at_least ? r.value >= r.target : r.value <= r.target;
        std::printf("| %s | %.2f | %s %.1f | %s |\n", r.name, r.value, r.at_least ? "at least" : "at most", r.target,
                    met ? "met" : "MISSED");
    }
    long peak = std::max({all[0].peak_kib, all[3].peak_kib, small_dec, small_enc});
    std::printf("| peak memory of trackdec and trackenc | %ld KiB | at most 4096 KiB | %s |\n", peak,
                peak <= 4096 ? "met" : "MISSED");
    std::printf("\noutputs of trackdec, trackenc and the baselines: %s\n", same ? "identical" : "DIFFERENT");

    fs::remove_all(root);
    return same ? 0 : 1;
}
