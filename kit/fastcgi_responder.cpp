// The resident FastCGI responder: libfcgi's request loop in worker processes that one supervisor
// forks and starts again when one ends. The workers share the listening socket, so the kernel
// hands each connection to an idle one; each keeps the program in memory and answers one
// request at a time, whole. A worker that dies takes only the request it was answering with
// it (the web server answers that one with 502); the others go on meanwhile.
#include "download_endpoint.h"

#include <fcgiapp.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "options.h"

namespace {
volatile std::sig_atomic_t Stopping = 0;

void OnStopSignal(int) {
    Stopping = 1;
    FCGX_ShutdownPending();
}

void HandleSignals(void (*stop)(int)) {
    struct sigaction action{};
    action.sa_handler = stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked accept or wait returns at once
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a web server that went away is a failed write, not an end
}

// One worker: requests until the supervisor asks it to stop, then the one under way is finished.
int Work(int listening) {
    FCGX_Request request;
    if (FCGX_InitRequest(&request, listening, FCGI_FAIL_ACCEPT_ON_INTR) != 0) return 1;
    ProgramCache cache;
    while (Stopping == 0 && FCGX_Accept_r(&request) >= 0) {
        // The request's parameters; the settings also from the responder's own environment
        // (systemd's EnvironmentFile), where the web server does not pass them.
        RequestParams params = [&request](const char* name) -> std::string {
            const char* v = FCGX_GetParam(name, request.envp);
            if (v == nullptr && std::strncmp(name, "LOADERKIT_", 10) == 0) v = std::getenv(name);
            return v != nullptr ? v : "";
        };
        std::string logLine;
        std::string answer = AnswerDownload(params, &cache, &logLine);
        if (!logLine.empty()) {
            FCGX_FPrintF(request.err, "loaderkit download: %s\n", logLine.c_str());
            std::fprintf(stderr, "loaderkit download: %s\n", logLine.c_str());
        }
        FCGX_PutStr(answer.data(), static_cast<int>(answer.size()), request.out);
        FCGX_Finish_r(&request);
    }
    FCGX_Free(&request, 1);
    return 0;
}

// The listening socket: a path or HOST:PORT given, or the one passed as standard input.
int Listen(const std::string& socketPath, bool* created) {
    *created = false;
    if (socketPath.empty()) return FCGX_IsCGI() ? -1 : 0;
    struct stat st{};
    // A socket file left by an earlier run that ended without removing it; nothing else is removed.
    if (socketPath[0] == '/' && lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        unlink(socketPath.c_str());
    int fd = FCGX_OpenSocket(socketPath.c_str(), 128);
    *created = fd >= 0 && socketPath[0] == '/';
    return fd;
}
}  // namespace

int RunFastCgiResponder(const std::string& socketPath, int workers) {
    if (FCGX_Init() != 0) return KitError("download", "libfcgi does not start");
    bool created = false;
    int listening = Listen(socketPath, &created);
    if (listening < 0) {
        return KitError("download", socketPath.empty() ? "no listening socket as standard input: start it from a "
                                                         "systemd socket or spawn-fcgi, or give --socket PATH"
                                                       : "cannot listen on " + socketPath + ": " + std::strerror(errno));
    }
    if (workers == 0) workers = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    if (workers < 2) workers = 2;
    HandleSignals(OnStopSignal);
    std::vector<pid_t> pids(static_cast<std::size_t>(workers), 0);
    std::time_t burstStart = 0;
    int burst = 0;
    while (Stopping == 0) {
        for (pid_t& pid : pids) {
            if (pid != 0) continue;
            pid = fork();
            if (pid == 0) {
                // A supervisor that is killed takes its workers with it: a new one binds the
                // socket anew, and nothing may keep answering on the old one unsupervised.
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                if (getppid() == 1) std::exit(0);
                std::exit(Work(listening));
            }
            if (pid < 0) {
                pid = 0;
                std::fprintf(stderr, "loaderkit download: cannot start a worker: %s\n", std::strerror(errno));
            }
        }
        int status = 0;
        pid_t ended = wait(&status);
        if (ended < 0) {
            if (errno != EINTR) sleep(1);  // no child to wait for: a fork failed; try again
            continue;
        }
        for (pid_t& pid : pids)
            if (pid == ended) pid = 0;
        if (Stopping != 0) break;
        if (WIFSIGNALED(status))
            std::fprintf(stderr, "loaderkit download: worker %d ended by signal %d; starting another\n",
                         static_cast<int>(ended), WTERMSIG(status));
        else
            std::fprintf(stderr, "loaderkit download: worker %d ended with status %d; starting another\n",
                         static_cast<int>(ended), WEXITSTATUS(status));
        // A worker that cannot even start (a bad socket) is not restarted in a tight loop.
        std::time_t now = std::time(nullptr);
        if (now != burstStart) burstStart = now, burst = 0;
        if (++burst > workers) sleep(1);
    }
    for (pid_t pid : pids)
        if (pid != 0) kill(pid, SIGTERM);
    for (pid_t pid : pids)
        if (pid != 0) waitpid(pid, nullptr, 0);
    if (created) unlink(socketPath.c_str());
    return 0;
}
