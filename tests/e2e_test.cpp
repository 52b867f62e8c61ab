// Both programs end to end: the real binaries, each run in a directory of
// its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <ios>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "run.h"

namespace fs = std::filesystem;
using namespace track_test;

namespace {

struct program {
    std::string path;
    std::string input;
    std::string output;
    int failure_status;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

const program enc{TRACKENC_PATH, "piste1.txt", "talvor.vrd", 1};
const program dec{TRACKDEC_PATH, "talvor.vrd", "piste1.txt", 255};
const std::string old_output = "what the output file held before the run\n";
const std::string rising = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";
const std::string all_255 = "255 255 255 255 255 255 255 255 255 255 255 255 255 255 255 255\n";

std::string byte_run(int from, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i)
        s.push_back(static_cast<char>(from + i));
    return s;
}

std::string random_bytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char &c : s)
        c = static_cast<char>(random() & 0xff);
    return s;
}

TEST(Programs, ConvertOrAnswerTheirOptions)
{
    // Every successful run: the output replaced, or, for --help and
    // --version, every file as it was. Other arguments are ignored, and so is
    // everything after "--".
    const std::vector<std::string> ignored = {"ignored", "-x", "--", "--help"};
    struct valid_case {
        const program &p;
        std::string input;
        std::string output;
        std::string err;
        std::vector<std::string> args;
        std::string out = "";        // the start of standard output
        bool stderr_closed = false;  // a warning nobody can read changes nothing else
    } const cases[] = {
        {enc, "", "", "", ignored},  // an existing record file is emptied
        {enc, repeat(rising, 3), repeat(byte_run(0, 16), 3), "", ignored},
        // A number lost by hand on line 2, one added on line 4: the same
        // bytes, and a warning. A byte order mark at the start is skipped.
        {enc, "\xef\xbb\xbf" + rising + "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n" + rising + "9 " + rising + rising,
         byte_run(0, 16) + byte_run(1, 15) + '\0' + byte_run(1, 15) + '\x09' + byte_run(0, 16) + byte_run(0, 16),
         "trackenc: piste1.txt:2: warning: line 2 holds 15 numbers where the layout has 16, and line 4 holds 17 where "
         "it has 16: the records of lines 2 to 4 are shifted\n",
         ignored},
        {dec, "", "", "", ignored},
        {dec, byte_run(0, 16) + std::string(16, '\x80') + std::string(16, '\xff'),
         rising + "128 128 128 128 128 128 128 128 128 128 128 128 128 128 128 128\n" + all_255, "", ignored},
        {dec, byte_run(0, 17), rising,
         "trackdec: talvor.vrd: ignored 1 trailing byte that does not make a whole record\n", ignored},
        {dec, byte_run(0, 31), rising,
         "trackdec: talvor.vrd: ignored 15 trailing bytes that do not make a whole record\n", ignored},
        {dec, byte_run(0, 17), rising, "", ignored, "", true},
        {enc, "not a track", old_output, "", {"x", "--help"}, "Usage: trackenc\n"},
        {dec, "", old_output, "", {"-h"}, "Usage: trackdec\n"},
        {enc, "", old_output, "", {"--version"}, "trackenc (trackconv) " TRACK_VERSION "\n"},
        {dec, "", old_output, "", {"--version", "--help"}, "trackdec (trackconv) " TRACK_VERSION "\n"},
    };
    for (const valid_case &c : cases) {
        scratch s;
        write_file(s / c.p.input, c.input);
        write_file(s / c.p.output, old_output);
        outcome o = run(c.p.path, s.dir, {.args = c.args, .stderr_closed = c.stderr_closed});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(o.out.empty(), c.out.empty());
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(read_file(s / c.p.output), c.output) << c.p.path << " on " << testing::PrintToString(c.input);
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

// Both ways of making the new file: unnamed, and named where the filesystem
// has no unnamed files (every FUSE filesystem); the second only where the
// programs can be made to see such a filesystem.
std::vector<bool> both_ways()
{
    if (no_tmpfile[0] == '\0')
        return {false};
    return {false, true};
}

TEST(Replacement, GivesTheOldModeAndOwnerOrTheUmask)
{
    // The old file's bits and owner, whatever the umask; a new file 0666 less
    // the umask. Root replaces a file it could write, read-only or not.
    struct mode_case {
        int old_mode;  // -1: no old file
        mode_t umask;
        uid_t old_owner;
        int mode;
    } const cases[] = {
        {-1, 027, 0, 0640}, {-1, 0, 0, 0666}, {0604, 022, 0, 0604}, {0666, 077, 0, 0666}, {0444, 022, 65534, 0444},
    };
    for (bool named : both_ways())
        for (const mode_case &c : cases) {
            scratch s;
            write_file(s / "piste1.txt", rising);
            if (c.old_mode >= 0) {
                write_file(s / "talvor.vrd", old_output);
                fs::permissions(s / "talvor.vrd", fs::perms(c.old_mode));
                ASSERT_EQ(chown((s / "talvor.vrd").c_str(), c.old_owner, c.old_owner), 0);
            }
            outcome o = run(enc.path, s.dir, {.umask = static_cast<int>(c.umask), .named = named});
            EXPECT_EQ(o.status, 0) << o.err;
            struct stat st {};
            ASSERT_EQ(stat((s / "talvor.vrd").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(c.mode)) << std::oct << c.old_mode << " named " << named;
            EXPECT_EQ(st.st_uid, c.old_owner);
            EXPECT_EQ(read_file(s / "talvor.vrd"), byte_run(0, 16));
            EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
        }
}

// What the kernel answers when it opens path for reading, as root or as
// 65534: 0, or the errno of its refusal.
int kernel_opens(const fs::path &path, bool as_nobody)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (as_nobody && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(255);
        _exit(open(path.c_str(), O_RDONLY) >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST(Replacement, FollowsLinksWhereTheKernelDoes)
{
    // A chain of links talvor.vrd -> ... -> data/NAME, in a directory of the
    // given mode, owned by the given user: the programs follow it exactly
    // where the kernel does (fs.protected_symlinks decides in sticky
    // directories writable by all; forty links at most) and refuse it with
    // the kernel's reason. Links whose texts together pass PATH_MAX are read
    // each relative to its own directory, never joined into one path; any
    // name the kernel takes is replaced, also in a directory that may be
    // written but not read.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to own links as another user";
    struct link_case {
        fs::perms dir_mode;
        uid_t link_owner;
        bool as_nobody;
        std::string target = "real.vrd";
        fs::perms data_mode = fs::perms(0777);
        int links = 1;
        int dots = 0;  // "./" before each link's text
    } const cases[] = {
        {fs::perms(01777), 65534, false},  // refused where protected
        {fs::perms(01777), 65534, true},   // its owner follows it
        {fs::perms(01777), 0, true},       // the directory's owner's link
        {fs::perms(0777), 65534, false},   // not sticky
        {fs::perms(0755), 0, false, std::string(255, 'n')},
        {fs::perms(0755), 0, false, std::string(248, 'n')},
        {fs::perms(0755), 0, false, "x"},
        {fs::perms(0755), 0, true, "real.vrd", fs::perms(0333)},
        {fs::perms(0755), 0, false, "real.vrd", fs::perms(0777), 2, 1750},
        {fs::perms(0755), 0, false, "real.vrd", fs::perms(0777), 40},
        {fs::perms(0755), 0, false, "real.vrd", fs::perms(0777), 41},
    };
    for (bool named : both_ways())
        for (const link_case &c : cases) {
            scratch s;
            write_file(s / "piste1.txt", rising);
            fs::create_directory(s / "data");
            write_file(s / "data" / c.target, old_output);
            ASSERT_EQ(chown((s / "data" / c.target).c_str(), 65534, 65534), 0);
            fs::permissions(s / "data", c.data_mode);
            std::string next = "data/" + c.target;
            for (int i = c.links; i >= 1; --i) {
                const std::string name = i == 1 ? "talvor.vrd" : "link" + std::to_string(i);
                fs::create_symlink(repeat("./", c.dots) + next, s / name);
                ASSERT_EQ(lchown((s / name).c_str(), c.link_owner, c.link_owner), 0);
                next = name;
            }
            fs::permissions(s.dir, c.dir_mode);
            const int refusal = kernel_opens(s / "talvor.vrd", c.as_nobody);
            outcome o = run(enc.path, s.dir, {.as_nobody = c.as_nobody, .named = named});
            const std::string what = std::to_string(c.link_owner) + (c.as_nobody ? " as 65534, " : " as root, ") +
                                     std::to_string(c.links) + " links";
            EXPECT_EQ(o.status, refusal == 0 ? 0 : 1) << what;
            EXPECT_EQ(o.err,
                      refusal == 0 ? "" : "trackenc: cannot write talvor.vrd: " + std::string(strerror(refusal)) + "\n")
                << what;
            EXPECT_EQ(read_file(s / "data" / c.target), refusal == 0 ? byte_run(0, 16) : old_output) << what;
            EXPECT_TRUE(fs::is_symlink(s / "talvor.vrd"));
            EXPECT_EQ(listing(s / "data"), std::vector<std::string>{c.target});
        }
}

TEST(Replacement, WritesFifosInPlace)
{
    // A FIFO cannot be replaced: the output goes into it. When its reader
    // goes away, the write fails and is reported like any other.
    for (bool reader_stays : {true, false}) {
        scratch s;
        write_file(s / "piste1.txt", repeat(rising, reader_stays ? 1 : 40000));
        ASSERT_EQ(mkfifo((s / "talvor.vrd").c_str(), 0600), 0);
        started p = start(enc.path, s.dir);
        int fifo = open((s / "talvor.vrd").c_str(), O_RDONLY);  // waits for the program to open it
        ASSERT_GE(fifo, 0);
        std::string got;
        char buffer[4096];
        for (ssize_t n; reader_stays && (n = read(fifo, buffer, sizeof buffer)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
        close(fifo);
        outcome o = finish(p);
        EXPECT_EQ(o.status, reader_stays ? 0 : 1);
        EXPECT_EQ(o.err, reader_stays ? "" : "trackenc: cannot write talvor.vrd: Broken pipe\n");
        EXPECT_EQ(got, reader_stays ? byte_run(0, 16) : "");
        EXPECT_TRUE(fs::is_fifo(s / "talvor.vrd"));
    }
}

TEST(Replacement, FaultsAtEachStep)
{
    // A fault injected at one system call: a failure leaves the old file
    // and nothing else; fsync's EINVAL (a file that cannot be synced) and a
    // refused mode or owner (FAT, exFAT) are no failure. Every success syncs
    // the file, renames, then syncs the directory (or, in a directory that
    // user 65534 may write but not read, its filesystem), in that order.
    // Tracks of 20000 records are read in three blocks on the second thread,
    // whose own system calls strace counts apart (its third read is block 2).
    if (std::string(emulator) != "" || system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs strace on the machine's own processor";
    const std::string io = "trackenc: cannot write talvor.vrd: Input/output error\n";
    struct fault_case {
        bool named;
        std::string inject;
        int status;  // -1: killed by `signal`
        std::string err;
        bool replaced;
        int records = 1;
        bool unreadable_directory = false;
        int signal = SIGTERM;
        long file_size_limit = -1;
        int runs = 1;          // each with the same outcome
        std::string output{};  // the output's bytes after it, where not what `replaced` says
        std::string target{};  // the output a link to this name, where given
    } const cases[] = {
        {false, "fsync:error=EIO:when=1", 1, io, false},
        {true, "fsync:error=EIO:when=1", 1, io, false},
        // A write that takes nothing would be tried for ever; one that takes
        // part of a block is followed by the rest (strace writes nothing).
        {false, "write:retval=0:when=1", 1, io, false},
        {false, "write:retval=1:when=1", 0, "", true, 1, false, SIGTERM, -1, 1, byte_run(1, 15)},
        {false, "write:retval=8:when=1", 0, "", true, 1, false, SIGTERM, -1, 1, byte_run(8, 8)},
        {false, "fsync:error=EINVAL", 0, "", true},
        // The rename took place; only its durability is in doubt.
        {false, "fsync:error=EIO:when=2", 1, io, true},
        {true, "fsync:error=EIO:when=2", 1, io, true},
        // /proc names the file where naming it by its descriptor is refused.
        {false, "linkat:error=ENOENT:when=1", 0, "", true},
        {false, "linkat:error=EPERM", 1,
         "trackenc: cannot write talvor.vrd: cannot create a file in '.': Operation not permitted\n", false},
        {false, "renameat,renameat2:error=EXDEV", 1,
         "trackenc: cannot write talvor.vrd: the old file cannot be replaced: Invalid cross-device link\n", false},
        {true, "renameat,renameat2:error=EXDEV", 1,
         "trackenc: cannot write talvor.vrd: the old file cannot be replaced: Invalid cross-device link\n", false},
        // Only in a sticky directory does a refused rename say why.
        {false, "renameat,renameat2:error=EPERM", 1,
         "trackenc: cannot write talvor.vrd: the old file cannot be replaced: Operation not permitted\n", false},
        {false, "fchmod:error=ENOSYS", 0, "", true},
        // Without the thread for its reads and writes, a run does them itself.
        {false, "clone3,clone:error=EAGAIN", 0, "", true},
        {true, "fchmod,fchown:error=EPERM", 0, "", true},
        // A signal while the temporary name exists.
        {false, "linkat:signal=SIGTERM", -1, "", false},
        {true, "fsync:signal=SIGTERM:when=1", -1, "", false},
        // The longest temporary name there is, for the output's longest name.
        {true, "fsync:signal=SIGTERM:when=1", -1, "", false, 1, false, SIGTERM, -1, 1, "", std::string(255, 'n')},
        // While the thread reads: a signal for the process, a fault of the
        // thread's own, a failed read.
        {true, "write:signal=SIGTERM:when=1", -1, "", false, 20000},
        {true, "read:signal=SIGSEGV:when=3", -1, "", false, 20000, false, SIGSEGV},
        {true, "read:signal=SIGBUS:when=2", -1, "", false, 20000, false, SIGBUS},
        {false, "read:error=EIO:when=3", 1, "trackenc: cannot read piste1.txt: Input/output error\n", false, 20000},
        // Two failures at once: the write of block 0 comes first, however
        // far the thread has read by then.
        {false, "read:error=EIO:when=3", 1, "trackenc: cannot write talvor.vrd: File too large\n", false, 20000, false,
         SIGTERM, 100000, 5},
        // A directory that cannot be opened to be synced: its filesystem is.
        {false, "fchmod:error=ENOSYS", 0, "", true, 1, true},
        {true, "fchmod:error=ENOSYS", 0, "", true, 1, true},
        {false, "syncfs:error=EIO", 1, io, true, 1, true},
        {false, "dup:error=EMFILE", 1, "trackenc: cannot write talvor.vrd: Too many open files\n", false, 1, true},
    };
    for (const fault_case &c : cases)
        for (int run_number = 0; run_number < c.runs; ++run_number) {
            if (c.named && no_tmpfile[0] == '\0')
                continue;
            // A sanitizer's runtime has the loader read more libraries on the
            // main thread, whose reads strace counts too: which read is the
            // thread's third is known only without one.
            if (sanitized && c.inject.rfind("read:", 0) == 0)
                continue;
            scratch s;
            write_file(s / "piste1.txt", repeat(rising, c.records));
            write_file(s / (c.target.empty() ? "talvor.vrd" : c.target), old_output);
            if (!c.target.empty())
                fs::create_symlink(c.target, s / "talvor.vrd");
            // User 65534 may not reach the build folder: strace runs the
            // program from a descriptor opened here.
            const int program = open(enc.path.c_str(), O_RDONLY);
            if (c.unreadable_directory) {
                for (const fs::path &p : {s.dir, s / "piste1.txt", s / "talvor.vrd"})
                    ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
                fs::permissions(s.dir, fs::perms(0300));
            }
            const fs::path log = s.dir.string() + ".strace";
            outcome o =
                run("/usr/bin/env", s.dir,
                    {.args = {"ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0",  // LeakSanitizer cannot run
                                                                                       // under strace
                              "strace", "-f", "-o", log.string(), "-e",
                              "trace=fsync,syncfs,renameat,renameat2,linkat,fchmod,fchown,clone,clone3,read,write,dup",
                              "-e", "inject=" + c.inject, "/proc/self/fd/" + std::to_string(program)},
                     .file_size_limit = c.file_size_limit,
                     .as_nobody = c.unreadable_directory,
                     .named = c.named});
            close(program);
            const std::string calls = read_file(log);
            fs::remove(log);
            const std::string what = c.inject + (c.named ? " named" : "") + (c.unreadable_directory ? " in 0300" : "");
            EXPECT_EQ(o.status, c.status) << what << "\n" << o.err;
            EXPECT_EQ(o.signal, c.status < 0 ? c.signal : 0) << what;
            EXPECT_EQ(o.err, c.err) << what;
            // Compared whole, but not printed: a track of 20000 records would be.
            const std::string replaced = c.output.empty() ? repeat(byte_run(0, 16), c.records) : c.output;
            EXPECT_TRUE(read_file(s / "talvor.vrd") == (c.replaced ? replaced : old_output)) << what;
            // (A link's target sorts first; built whole, as GCC 14 takes an
            // insert at the front for a write out of bounds.)
            const std::vector<std::string> names = c.target.empty()
                                                       ? std::vector<std::string>{"piste1.txt", "talvor.vrd"}
                                                       : std::vector<std::string>{c.target, "piste1.txt", "talvor.vrd"};
            EXPECT_EQ(listing(s.dir), names) << what;
            if (c.status == 0) {
                const char *const dir_sync = c.unreadable_directory ? "syncfs(" : "fsync(";
                const std::size_t file = calls.find("fsync("), rename = calls.find("rename", file + 1);
                EXPECT_TRUE(file != std::string::npos && rename != std::string::npos &&
                            calls.find(dir_sync, rename) != std::string::npos)
                    << calls;
            }
        }
}

// A failing run: what to put in the directory, and the one line expected.
struct failure_case {
    const char *name;
    const program *p;
    std::function<void(const scratch &)> setup;
    std::string message;
    long file_size_limit = -1;
    bool as_nobody = false;
    bool stderr_closed = false;  // the message cannot be written: all else is the same
};

void PrintTo(const failure_case &c, std::ostream *os)
{
    *os << c.name;
}

class Fails : public testing::TestWithParam<failure_case> {};

// Every failure: the status, one line, the old output file byte for byte (or
// still absent), and no temporary file left. Each case runs with and without
// an old output file.
TEST_P(Fails, LeavesTheOutputAsItWas)
{
    const failure_case &c = GetParam();
    if (c.as_nobody && geteuid() != 0)
        GTEST_SKIP() << "needs root, to run as another user";
    for (bool named : both_ways())
        for (bool had_output : {true, false}) {
            scratch s;
            c.setup(s);
            const fs::path output = s / c.p->output;
            if (had_output && !fs::exists(fs::symlink_status(output)))
                write_file(output, old_output);
            const auto before = listing(s.dir);
            const std::string old = fs::is_regular_file(output) ? read_file(output) : "";
            outcome o = run(c.p->path, s.dir,
                            {.file_size_limit = c.file_size_limit,
                             .as_nobody = c.as_nobody,
                             .stderr_closed = c.stderr_closed,
                             .named = named});
            EXPECT_EQ(o.status, c.p->failure_status) << "named " << named;
            EXPECT_EQ(o.err, c.stderr_closed ? "" : c.message + "\n") << "named " << named;
            EXPECT_EQ(o.out, "");
            EXPECT_EQ(listing(s.dir), before) << "named " << named;
            if (fs::is_regular_file(output)) {
                EXPECT_EQ(read_file(output), old);
            }
        }
}

auto file(const std::string &name, const std::string &bytes)
{
    return [name, bytes](const scratch &s) { write_file(s / name, bytes); };
}

// A directory of the given mode that user 65534 may read, holding the input.
auto shared_directory(fs::perms mode, const std::string &input, const std::string &bytes)
{
    return [=](const scratch &s) {
        fs::permissions(s.dir, mode);
        write_file(s / input, bytes);
    };
}

// In a directory that user 65534 may write, an output of mode 0444 (its
// own) or 0644 (another user's): either way not theirs to write.
auto read_only_output(const std::string &input, const std::string &bytes, const std::string &output, uid_t owner)
{
    return [=](const scratch &s) {
        shared_directory(fs::perms(0777), input, bytes)(s);
        write_file(s / output, old_output);
        fs::permissions(s / output, fs::perms(owner == 0 ? 0644 : 0444));
        if (chown((s / output).c_str(), owner, owner) != 0)
            ADD_FAILURE() << "cannot give " << output << " away";
    };
}

auto directory(const std::string &name, const std::string &input = {}, const std::string &bytes = {})
{
    return [=](const scratch &s) {
        fs::create_directory(s / name);
        if (!input.empty())
            write_file(s / input, bytes);
    };
}

INSTANTIATE_TEST_SUITE_P(
    Trackenc, Fails,
    testing::Values(failure_case{"missing_input", &enc, [](const scratch &) {},
                                 "trackenc: cannot open piste1.txt: No such file or directory"},
                    failure_case{"input_is_a_directory", &enc, directory("piste1.txt"),
                                 "trackenc: cannot read piste1.txt: Is a directory"},
                    // A parse fault, the reader's own message after the file's name;
                    // found while the blocks after it are being read.
                    failure_case{"letter_in_a_later_block", &enc,
                                 file("piste1.txt", repeat(rising, 10000) + "1 2 b\n" + repeat(rising, 60000)),
                                 "trackenc: piste1.txt:10001:5: expected a number, found 'b'"},
                    // The same with standard error closed: only the message is lost.
                    failure_case{"letter_unreported", &enc, file("piste1.txt", rising + "1 2 x"), "", -1, false, true},
                    failure_case{"file_size_limit", &enc, file("piste1.txt", repeat(rising, 40000)),
                                 "trackenc: cannot write talvor.vrd: File too large", 100000},
                    failure_case{"output_is_a_directory", &enc, directory("talvor.vrd", "piste1.txt", rising),
                                 "trackenc: cannot write talvor.vrd: Is a directory"},
                    failure_case{"output_directory_missing", &enc,
                                 [](const scratch &s) {
                                     write_file(s / "piste1.txt", rising);
                                     fs::create_symlink("nowhere/talvor.vrd", s / "talvor.vrd");
                                 },
                                 "trackenc: cannot write talvor.vrd: No such file or directory"},
                    failure_case{"output_directory_not_writable", &enc,
                                 [](const scratch &s) {
                                     shared_directory(fs::perms(0755), "piste1.txt", rising)(s);
                                     write_file(s / "talvor.vrd", old_output);
                                     fs::permissions(s / "talvor.vrd", fs::perms(0666));
                                 },
                                 "trackenc: cannot write talvor.vrd: cannot create a file in '.': Permission denied",
                                 -1, true},
                    failure_case{"sticky_directory", &enc,
                                 [](const scratch &s) {
                                     shared_directory(fs::perms(01777), "piste1.txt", rising)(s);
                                     write_file(s / "talvor.vrd", old_output);
                                     fs::permissions(s / "talvor.vrd", fs::perms(0666));
                                 },
                                 "trackenc: cannot write talvor.vrd: the old file cannot be replaced: Operation not "
                                 "permitted (in a sticky directory only the file's owner may replace it)",
                                 -1, true},
                    failure_case{"read_only_output", &enc, read_only_output("piste1.txt", rising, "talvor.vrd", 65534),
                                 "trackenc: cannot write talvor.vrd: Permission denied", -1, true},
                    failure_case{"another_users_output", &enc, read_only_output("piste1.txt", rising, "talvor.vrd", 0),
                                 "trackenc: cannot write talvor.vrd: Permission denied", -1, true}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Trackdec, Fails,
    testing::Values(
        failure_case{"missing_input", &dec, [](const scratch &) {}, "Error in opening file: No such file or directory"},
        failure_case{"input_is_a_directory", &dec, directory("talvor.vrd"),
                     "trackdec: cannot read talvor.vrd: Is a directory"},
        failure_case{"file_size_limit", &dec, file("talvor.vrd", random_bytes(16 * 10000, 1)),
                     "trackdec: cannot write piste1.txt: File too large", 100000},
        failure_case{"output_is_a_directory", &dec, directory("piste1.txt", "talvor.vrd", byte_run(0, 16)),
                     "trackdec: cannot write piste1.txt: Is a directory"},
        failure_case{"read_only_output", &dec, read_only_output("talvor.vrd", byte_run(0, 16), "piste1.txt", 65534),
                     "trackdec: cannot write piste1.txt: Permission denied", -1, true}),
    [](const auto &c) { return std::string(c.param.name); });

TEST(Programs, SignalsLeaveNoTemporaryFile)
{
    // The input is a FIFO that never ends: the run stays in its loop, with
    // its new output file open, until the signal comes; whatever the signal,
    // the old output stays and nothing else is left. An unnamed file is gone
    // even after SIGKILL; a named one is removed on every signal that can
    // be caught. A signal ignored from the start (nohup) stays ignored.
    struct signal_case {
        const program &p;
        int sig;
        bool named;
        std::string data;
        bool ignored = false;
    } const cases[] = {
        {enc, SIGKILL, false, rising},
        {enc, SIGINT, true, rising},
        {enc, SIGTERM, true, rising},
        {enc, SIGHUP, true, rising},
        {enc, SIGQUIT, true, rising},
        {enc, SIGUSR1, true, rising},
        {enc, SIGALRM, true, rising},
        {enc, SIGRTMIN, true, rising},
        {enc, SIGRTMAX, true, rising},
        {enc, SIGHUP, true, rising, true},
        {dec, SIGINT, false, random_bytes(1 << 20, 2)},
        {dec, SIGTERM, true, random_bytes(1 << 20, 2)},
    };
    const std::vector<std::string> both = {"piste1.txt", "talvor.vrd"};
    for (const signal_case &c : cases) {
        if (c.named && no_tmpfile[0] == '\0')
            continue;
        // qemu-user keeps the last real-time signals for itself, and lets an
        // ignored signal interrupt a read.
        if (emulator[0] != '\0' && (c.ignored || c.sig == SIGRTMAX))
            continue;
        scratch s;
        write_file(s / c.p.output, old_output);
        ASSERT_EQ(mkfifo((s / c.p.input).c_str(), 0600), 0);
        started p = start(c.p.path, s.dir, {.named = c.named, .ignored_signal = c.ignored ? c.sig : 0});
        int fifo = open((s / c.p.input).c_str(), O_WRONLY);  // waits for the program to open it
        ASSERT_GE(fifo, 0);
        ASSERT_EQ(write(fifo, c.data.data(), c.data.size()), static_cast<ssize_t>(c.data.size()));
        EXPECT_TRUE(wait_for_new_file(p.pid, s.dir));
        // The temporary name is there to be removed, or there is none.
        EXPECT_EQ(listing(s.dir).size(), c.named ? 3U : 2U) << c.sig;
        kill(p.pid, c.sig);
        close(fifo);  // the end of the input, for a program still alive
        outcome o = finish(p);
        EXPECT_EQ(o.signal, c.ignored ? 0 : c.sig);
        EXPECT_EQ(o.status, c.ignored ? 0 : -1);
        EXPECT_EQ(read_file(s / c.p.output), c.ignored ? byte_run(0, 16) : old_output);
        EXPECT_EQ(listing(s.dir), both) << c.sig;
    }
}

TEST(RoundTrip, RecordFilesComeBackByteForByte)
{
    // Sizes around the programs' block sizes, and a partial record lost;
    // every other size through named temporary files.
    const std::size_t records[] = {0, 1, 3, 4095, 4096, 4097, 20000, 70001};
    bool named = false;
    for (std::size_t n : records) {
        named = !named && no_tmpfile[0] != '\0';
        scratch s;
        std::string bytes = random_bytes(16 * n, static_cast<unsigned>(n));
        write_file(s / "talvor.vrd", bytes + "\x07\x08\x09");
        // A small stack is enough: the buffers are not on it.
        ASSERT_EQ(run(dec.path, s.dir, {.stack_limit = 256 * 1024, .named = named}).status, 0);
        ASSERT_EQ(run(enc.path, s.dir, {.stack_limit = 256 * 1024, .named = named}).status, 0);
        EXPECT_EQ(read_file(s / "talvor.vrd"), bytes) << n << " records";
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

TEST(RoundTrip, TrackFilesComeBackCanonical)
{
    // The reader's leniency (its tests cover each form) meets the writer's
    // one form.
    scratch s;
    write_file(s / "piste1.txt",
               "\n\t+0 001 2 3 4 5 6 7\r\n8 9 10 11 12 13 14 0015 -0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15");
    ASSERT_EQ(run(enc.path, s.dir).status, 0);
    ASSERT_EQ(run(dec.path, s.dir).status, 0);
    EXPECT_EQ(read_file(s / "piste1.txt"), rising + rising);
}

}  // namespace
