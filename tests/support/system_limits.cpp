#include "support/system_limits.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <vector>

namespace parevo::test {

namespace {

sock_filter Statement(std::uint16_t code, std::uint32_t k) {
    return BPF_STMT(code, k);
}

sock_filter Jump(std::uint16_t code, std::uint32_t k, std::uint8_t yes, std::uint8_t no) {
    return BPF_JUMP(code, k, yes, no);
}

constexpr std::uint32_t kArgLow(int n) {
    return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + n * sizeof(std::uint64_t));
}

// Returns errno `error` for system call `nr`, when `flagArg` (if any) holds `flag`.
void Refuse(std::vector<sock_filter>& program, long nr, int error, int flagArg = -1,
            std::uint32_t flag = 0) {
    const std::uint32_t errnoAction = SECCOMP_RET_ERRNO | static_cast<std::uint32_t>(error);
    program.push_back(Statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    if (flagArg < 0) {
        program.push_back(Jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 1));
        program.push_back(Statement(BPF_RET | BPF_K, errnoAction));
        return;
    }
    program.push_back(Jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 3));
    program.push_back(Statement(BPF_LD | BPF_W | BPF_ABS, kArgLow(flagArg)));
    program.push_back(Jump(BPF_JMP | BPF_JSET | BPF_K, flag, 0, 1));
    program.push_back(Statement(BPF_RET | BPF_K, errnoAction));
}

std::string Install(unsigned limits) {
#if defined(__x86_64__)
    std::vector<sock_filter> program;
    program.push_back(Statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    program.push_back(Jump(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    program.push_back(Statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    // O_TMPFILE carries O_DIRECTORY; its own bit tells it from a plain folder open.
    constexpr std::uint32_t kTmpFileBit = O_TMPFILE & ~O_DIRECTORY;
    if (limits & kNoUnnamedFiles) {
        Refuse(program, SYS_openat, EOPNOTSUPP, 2, kTmpFileBit);
        Refuse(program, SYS_open, EOPNOTSUPP, 1, kTmpFileBit);
    }
    if (limits & kNoLinking) {
        Refuse(program, SYS_linkat, EPERM);
        Refuse(program, SYS_link, EPERM);
    }
    if (limits & kNoRenaming) {
        Refuse(program, SYS_rename, EIO);
        Refuse(program, SYS_renameat, EIO);
        Refuse(program, SYS_renameat2, EIO);
    }
    program.push_back(Statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
        return "cannot install the seccomp filter";
    }
    return {};
#else
    (void)limits;
    return "system limits need Linux on x86-64";
#endif
}

}  // namespace

std::string RunLimited(unsigned limits, const std::function<std::string()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return "no fork";
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string problem = Install(limits);
        if (problem.empty()) {
            problem = body();
        }
        [[maybe_unused]] const ssize_t written =
            ::write(pipeFds[1], problem.data(), problem.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string problem;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        problem.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        problem += " (the child ended with status " + std::to_string(status) + ")";
    }
    return problem;
}

}  // namespace parevo::test
