// tw-peak-rss: runs a command and writes its peak resident set (KiB) to a file.
//
//   tw-peak-rss <report file> <program> [arguments...]
//
// The kernel counts into a child's ru_maxrss the resident set of the image it replaced at
// exec, so a large benchmark process that starts a tool directly would see its own size as
// the tool's. This small process starts it instead; its own few hundred KiB never exceed
// the figure. Standard input, output and error pass through; the exit status is the child's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tw-peak-rss <report file> <program> [arguments...]\n");
        return 2;
    }
    const pid_t pid = ::fork();
    if (pid < 0)
        return 127;
    if (pid == 0) {
        ::execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return 127;
    if (FILE* report = std::fopen(argv[1], "w")) {
        std::fprintf(report, "%ld\n", usage.ru_maxrss);
        std::fclose(report);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
