// trackpeak FILE PROGRAM [ARGS...]: runs PROGRAM and writes its peak resident
// memory in KiB to FILE. A child's peak counts the memory it had before exec,
// so the benchmark starts programs from this small static launcher rather
// than from its own large image.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) < 0)
        return 2;
    std::FILE *out = std::fopen(argv[1], "w");
    if (out == nullptr || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 || std::fclose(out) != 0)
        return 2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
