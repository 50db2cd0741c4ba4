// Runs a check in a child process that must end by itself: a test of something that used to
// block (an open of a FIFO, a read that never ends) reports "blocked" instead of hanging.
#pragma once

#include "platform/rtl/Exceptions.h"

#include <csignal>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support {

// The child's verdict, the text Check returns; "blocked" when it has not ended after Seconds.
inline std::string RunInChild(const std::function<std::string()>& check, unsigned seconds = 20) {
    int channel[2];
    if (::pipe(channel) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        ::close(channel[0]);
        ::alarm(seconds);
        const std::string verdict = check();
        [[maybe_unused]] const ssize_t n = ::write(channel[1], verdict.data(), verdict.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string verdict;
    char block[256];
    for (ssize_t n; (n = ::read(channel[0], block, sizeof block)) > 0;)
        verdict.append(block, static_cast<size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? "blocked" : "crashed";
    return verdict;
}

// "refused" when Open raises the class library's error, "opened" when it returns, and
// "blocked" when it does not end, run in a child.
inline std::string OpenVerdict(const std::function<void()>& open) {
    return RunInChild([&]() -> std::string {
        try {
            open();
            return "opened";
        } catch (const Exception&) {
            return "refused";
        }
    });
}

} // namespace test_support
