// Runs the real programs in a directory of their own, for end-to-end tests.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace track_test {

struct run_options {
    std::vector<std::string> args{};  // after the program name
    long file_size_limit = -1;        // RLIMIT_FSIZE in bytes (SIGXFSZ is the programs' to ignore)
    long stack_limit = -1;            // RLIMIT_STACK in bytes
    int umask = -1;
    bool as_nobody = false;      // run as user and group 65534 (the tests run as root)
    bool stderr_closed = false;  // standard error is a pipe nobody reads
    bool named = false;          // no unnamed files: the named temporary file stands in
    int ignored_signal = 0;      // a signal ignored from the start, as nohup does
};

// The emulator that runs the programs in a cross build, or "".
inline constexpr char emulator[] = TRACK_EMULATOR;

// The library that takes unnamed files away from the programs, or "" where
// it cannot be loaded into them (static programs).
inline constexpr char no_tmpfile[] = TRACK_NO_TMPFILE;

struct outcome {
    int status = -1;  // exit status, or -1 when killed
    int signal = 0;   // the signal that killed it
    std::string out;  // standard output
    std::string err;  // standard error
};

// A started program whose standard output and error go to files.
struct started {
    pid_t pid = -1;
    std::filesystem::path out, err;
};

started start(const std::string &program, const std::filesystem::path &dir, const run_options &options = {});
outcome finish(const started &s);
outcome run(const std::string &program, const std::filesystem::path &dir, const run_options &options = {});

// A fresh directory under the system's temporary folder, removed at the end.
struct scratch {
    std::filesystem::path dir;
    scratch();
    ~scratch();
    scratch(const scratch &) = delete;
    scratch &operator=(const scratch &) = delete;
    std::filesystem::path operator/(const std::string &name) const { return dir / name; }
};

// s, n times over.
inline std::string repeat(const std::string &s, int n)
{
    std::string r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

std::string read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const std::string &bytes);
// The names in dir, sorted (a run's captured output lies beside dir).
std::vector<std::string> listing(const std::filesystem::path &dir);

// Waits up to five seconds for process pid to hold open a file in dir other
// than the track file and the record file (the new output, named or not);
// false if it never does.
bool wait_for_new_file(pid_t pid, const std::filesystem::path &dir);

}  // namespace track_test
