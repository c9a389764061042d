// The resident FastCGI responder: libfcgi's request loop in worker processes that one supervisor
// forks and starts again when one ends. The workers share the listening socket, so the kernel
// hands each connection to an idle one; each keeps the program in memory and answers one
// request at a time, whole. A worker that dies takes only the request it was answering with
// it (the web server answers that one with 502); the others go on meanwhile.
#include "endpoint/fastcgi_responder.h"

#include "endpoint/answer.h"

#include <fcgiapp.h>
#include <malloc.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <time.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "util/kit_error.h"

namespace {
// How long a stop waits for the answers under way before it ends the workers that still write:
// an answer goes to nginx, which buffers it at memory speed, so seconds are plenty.
constexpr int kStopSeconds = 30;

volatile std::sig_atomic_t Stopping = 0;

void OnStopSignal(int) { Stopping = 1; }

// SIGTERM and SIGINT, blocked everywhere but where the process waits for work: a stop can then
// neither interrupt an answer's write (which would cut it) nor slip in between a check of
// Stopping and the wait that follows it (which would leave the stop unseen until a request came).
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

// One worker: requests until a stop arrives; the one under way is finished first. The listening
// socket does not block, so a worker that wakes for a connection another worker took goes back
// to waiting, where a stop reaches it.
int Work(int listening, const sigset_t& waiting) {
    // Each answer allocates and frees a few copies of the program; left to its defaults, the
    // allocator gives that memory back after every answer and takes it again, zeroed, for the
    // next (a third of the endpoint's throughput). The worker keeps it: its bound is the same.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    FCGX_Request request;
    if (FCGX_InitRequest(&request, listening, FCGI_FAIL_ACCEPT_ON_INTR) != 0) return 1;
    ProgramCache cache;
    Store store;  // this worker's own connection
    while (Stopping == 0) {
        pollfd ready{listening, POLLIN, 0};
        if (ppoll(&ready, 1, nullptr, &waiting) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        int accepted = FCGX_Accept_r(&request);
        if (accepted == -EAGAIN || accepted == -EWOULDBLOCK || accepted == -EINTR) continue;
        if (accepted < 0) break;
        // The request's parameters; the settings from the responder's own environment (systemd's
        // EnvironmentFile), the names also from the web server's parameters. Files only ever
        // from the environment: a request cannot make the responder read what the operator did
        // not name.
        RequestParams params = [&request](const char* name) -> std::string {
            bool setting = std::strncmp(name, "LOADERKIT_", 10) == 0;
            bool file = setting && (std::strcmp(name, "LOADERKIT_PROGRAM") == 0 || std::strcmp(name, "LOADERKIT_IMAGE") == 0 ||
                                    std::strcmp(name, "LOADERKIT_DATABASE") == 0);
            const char* v = file ? nullptr : FCGX_GetParam(name, request.envp);
            if (v == nullptr && setting) v = std::getenv(name);
            return v != nullptr ? v : "";
        };
        std::string logLine;
        std::string answer = AnswerDownload(params, &cache, &store, &logLine);
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

// A Unix socket path that a live responder listens on: a connection to it is taken.
bool Answers(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bool live = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
    close(fd);
    return live;
}

// The listening socket: a path or HOST:PORT given, or the one passed as standard input. *mine
// gets the identity of a socket file this process made, which it alone may remove again.
int Listen(const std::string& socketPath, struct stat* mine, std::string* why) {
    if (socketPath.empty()) return FCGX_IsCGI() ? -1 : 0;
    struct stat st{};
    if (socketPath[0] == '/' && lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        // Another responder's live socket stays; one left by a run that ended without removing
        // it goes. Nothing but a socket is ever removed.
        if (Answers(socketPath)) {
            *why = "another process listens on " + socketPath + "; stop it first, or choose another --socket";
            return -1;
        }
        unlink(socketPath.c_str());
    }
    int fd = FCGX_OpenSocket(socketPath.c_str(), 128);
    if (fd < 0) *why = "cannot listen on " + socketPath + ": " + std::strerror(errno);
    if (fd >= 0 && socketPath[0] == '/') lstat(socketPath.c_str(), mine);
    return fd;
}

// Removes the socket file this process made, unless another has taken its path since.
void RemoveOwnSocket(const std::string& socketPath, const struct stat& mine) {
    struct stat now{};
    if (mine.st_ino != 0 && lstat(socketPath.c_str(), &now) == 0 && now.st_ino == mine.st_ino && now.st_dev == mine.st_dev)
        unlink(socketPath.c_str());
}

void ReportEnded(pid_t ended, int status) {
    if (WIFSIGNALED(status))
        std::fprintf(stderr, "loaderkit download: worker %d ended by signal %d; starting another\n",
                     static_cast<int>(ended), WTERMSIG(status));
    else
        std::fprintf(stderr, "loaderkit download: worker %d ended with status %d; starting another\n",
                     static_cast<int>(ended), WEXITSTATUS(status));
}

// Ends the workers: a stop each, time to finish their answers, then a kill for any still busy.
void StopWorkers(std::vector<pid_t>& pids) {
    for (pid_t pid : pids)
        if (pid != 0) kill(pid, SIGTERM);
    sigset_t children;
    sigemptyset(&children);
    sigaddset(&children, SIGCHLD);
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kStopSeconds;
    for (;;) {
        for (pid_t& pid : pids)
            if (pid != 0 && waitpid(pid, nullptr, WNOHANG) == pid) pid = 0;
        bool left = false;
        for (pid_t pid : pids) left = left || pid != 0;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (!left || now.tv_sec >= deadline.tv_sec) break;
        timespec wait{1, 0};
        sigtimedwait(&children, nullptr, &wait);
    }
    for (pid_t pid : pids) {
        if (pid == 0) continue;
        std::fprintf(stderr, "loaderkit download: worker %d still answering after %d s; ended\n",
                     static_cast<int>(pid), kStopSeconds);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}
}  // namespace

int RunFastCgiResponder(const std::string& given, int workers) {
    if (FCGX_Init() != 0) return KitError("download", "libfcgi does not start");
    // A relative socket path is taken from the folder the responder starts in, and made absolute
    // before anything else: the live responder's socket stays, and only the file made here goes.
    std::string socketPath = given;
    std::size_t colon = given.rfind(':');
    bool hostAndPort = colon != std::string::npos && colon + 1 < given.size() && given.find('/') == std::string::npos &&
                       given.find_first_not_of("0123456789", colon + 1) == std::string::npos;
    if (!given.empty() && given[0] != '/' && !hostAndPort) {
        char* folder = getcwd(nullptr, 0);
        if (folder == nullptr) return KitError("download", "cannot make " + given + " absolute: " + std::strerror(errno));
        socketPath = std::string(folder) + "/" + given;
        std::free(folder);
    }
    struct stat mine{};
    std::string why;
    int listening = Listen(socketPath, &mine, &why);
    if (listening < 0) {
        return KitError("download", socketPath.empty() ? "no listening socket as standard input: start it from a "
                                                         "systemd socket or spawn-fcgi, or give --socket PATH"
                                                       : why);
    }
    int flags = fcntl(listening, F_GETFL);
    if (flags < 0 || fcntl(listening, F_SETFL, flags | O_NONBLOCK) != 0)
        return KitError("download", std::string("cannot use the listening socket: ") + std::strerror(errno));
    if (workers == 0) workers = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    if (workers < 1) workers = 1;

    // Whatever dispositions and mask it was started with (an ignored SIGCHLD would keep wait()
    // from returning until every worker had ended): stop signals are taken only where it waits.
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);  // a web server that went away is a failed write, not an end
    sigset_t blocked = StopSignals();
    sigaddset(&blocked, SIGCHLD);
    sigset_t waiting;
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGCHLD);

    const pid_t supervisor = getpid();
    std::vector<pid_t> pids(static_cast<std::size_t>(workers), 0);
    std::time_t burstStart = 0;
    int burst = 0;
    while (Stopping == 0) {
        for (pid_t& pid : pids) {
            if (pid != 0) continue;
            pid = fork();
            if (pid == 0) {
                // A supervisor that is killed takes its workers with it: a new one binds the
                // socket anew, and nothing may keep answering on the old one unsupervised. The
                // supervisor may have ended before the request took effect.
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                if (getppid() != supervisor) std::_Exit(0);
                std::exit(Work(listening, waiting));
            }
            if (pid < 0) {
                pid = 0;
                std::fprintf(stderr, "loaderkit download: cannot start a worker: %s\n", std::strerror(errno));
            }
        }
        // Waits for a stop or an ended worker; only here are the signals taken.
        sigset_t wake = blocked;
        timespec retry{1, 0};
        int got = sigtimedwait(&wake, nullptr, &retry);  // a failed fork is tried again after 1 s
        if (got == SIGTERM || got == SIGINT) Stopping = 1;
        int status = 0;
        pid_t ended;
        while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
            for (pid_t& pid : pids)
                if (pid == ended) pid = 0;
            if (Stopping != 0) continue;
            ReportEnded(ended, status);
            // A worker that cannot even start (a bad socket) is not restarted in a tight loop.
            std::time_t now = std::time(nullptr);
            if (now != burstStart) burstStart = now, burst = 0;
            if (++burst > workers) sleep(1);
        }
    }
    StopWorkers(pids);
    if (socketPath.size() > 0 && socketPath[0] == '/') RemoveOwnSocket(socketPath, mine);
    return 0;
}
