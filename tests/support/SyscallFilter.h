#pragma once

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testsupport {

// From now on the calling thread (and the threads and children it starts) meets action
// (SECCOMP_RET_ERRNO | errno, SECCOMP_RET_TRAP, SECCOMP_RET_KILL_PROCESS) on each of syscalls
// instead of running it; everything else runs. For faults the system gives only rarely: a
// firewall's refusal, a kill at one exact point. Call it in a child process (InChild). Returns
// false when no filter can be installed here.
inline bool FilterSyscalls(std::initializer_list<long> syscalls, std::uint32_t action) {
    std::vector<sock_filter> program{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    unsigned left = static_cast<unsigned>(syscalls.size());
    for (const long number : syscalls) {
        // Matching jumps over the rest to the action, which follows the "allow".
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number),
                                   static_cast<std::uint8_t>(left), 0));
        --left;
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, action));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

} // namespace testsupport
