// dastel-sim: hosts the simulated recorder as a virtual USB device and runs
// a child (the real dastel by default) that sees it through libusb. The
// child's exit status becomes ours.

#include "controlinterface.h"
#include "ecgrecordplayer.h"
#include "recordermodel.h"
#include "virtualrecorder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Tavrix::Simulator;

namespace {

constexpr int DefaultControlPort = 47300;
// Exit code meaning "cannot run here" (the automake/ctest skip convention).
constexpr int ExitUnavailable = 77;
constexpr int ExitUsage = 2;
constexpr std::size_t MaxLine = 64 * 1024;
constexpr const char* PreloadLibrary = "libumockdev-preload.so.0";

int g_signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    (void)!::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

struct Options {
    long deviceType = 0;
    long frequency = 0;          // 0: the model's default
    long controlPort = DefaultControlPort;
    bool startUnplugged = false;
    std::string ecgRecord;       // empty or "synthetic": the synthetic waveform
    bool ecgRecordOnce = false;
    std::vector<std::string> command;
};

void usage(FILE* out)
{
    std::fprintf(out,
        "usage: dastel-sim [options] [-- command [args...]]\n"
        "  --device-type N    recorder type the model simulates (default: the model's)\n"
        "  --frequency HZ     signal frames per second (default: the model's)\n"
        "  --control-port P   loopback TCP port of the control interface (default %d, 0 = any)\n"
        "  --unplugged        start with the recorder unplugged\n"
        "  --ecg-record PATH  play a WFDB record (path without extension) as the ECG;\n"
        "                     \"synthetic\" is the built-in waveform (the default)\n"
        "  --ecg-record-once  play the record once, then hold its last value\n"
        "Without a command the dastel next to dastel-sim is run.\n",
        DefaultControlPort);
}

bool parseLong(const char* text, long min, long max, long& out)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (errno || !*text || *end || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](long min, long max, long& out) {
            if (i + 1 >= argc || !parseLong(argv[++i], min, max, out)) {
                std::fprintf(stderr, "dastel-sim: %s needs a number in %ld..%ld\n", a.c_str(), min, max);
                return false;
            }
            return true;
        };
        if (a == "--") {
            for (++i; i < argc; ++i)
                o.command.emplace_back(argv[i]);
        } else if (a == "--device-type") {
            if (!value(0, 0xFFFF, o.deviceType))
                return false;
        } else if (a == "--frequency") {
            if (!value(1, 100000, o.frequency))
                return false;
        } else if (a == "--control-port") {
            if (!value(0, 65535, o.controlPort))
                return false;
        } else if (a == "--unplugged") {
            o.startUnplugged = true;
        } else if (a == "--ecg-record") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "dastel-sim: --ecg-record needs a record path\n");
                return false;
            }
            o.ecgRecord = argv[++i];
        } else if (a == "--ecg-record-once") {
            o.ecgRecordOnce = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "dastel-sim: unknown option %s\n", a.c_str());
            usage(stderr);
            return false;
        }
    }
    return true;
}

std::string selfDirectory()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string p(path);
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

// The testbed's redirections only reach processes that load umockdev's
// preload library; we run under it ourselves so children inherit it.
void ensurePreloaded(char** argv)
{
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload"))
        return;
    if (std::getenv("DASTEL_SIM_REEXEC"))
        return; // the loader refused the library; start() reports it
    std::string value = PreloadLibrary;
    if (preload && *preload)
        value += std::string(":") + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    ::setenv("DASTEL_SIM_REEXEC", "1", 1);
    // AddressSanitizer builds refuse to start behind another preload otherwise.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanValue = asan ? std::string(asan) + ":" : std::string();
    ::setenv("ASAN_OPTIONS", (asanValue + "verify_asan_link_order=0").c_str(), 1);
    // By its real path, so the process keeps its name (not "exe").
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        ::execv(self, argv);
    }
    std::fprintf(stderr, "dastel-sim: cannot re-execute under %s: %s\n", PreloadLibrary, std::strerror(errno));
}

int openControlSocket(long port, int& boundPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}

bool sendAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

pid_t startChild(const std::vector<std::string>& command)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Killed along with us, so a crashed launcher leaves no orphan behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The child gets ordinary signal handling back.
    ::signal(SIGHUP, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGCHLD, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    std::vector<char*> args;
    for (const auto& a : command)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    std::fprintf(stderr, "dastel-sim: cannot run %s: %s\n", args[0], std::strerror(errno));
    ::_exit(127);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options))
        return ExitUsage;
    ensurePreloaded(argv);
    if (options.command.empty())
        options.command.push_back(selfDirectory() + "/dastel");

    // The device node is a pty that hangs up on unplug; that must not kill us.
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("dastel-sim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGCHLD, SIGTERM, SIGINT})
        ::sigaction(sig, &sa, nullptr);

    RecorderModel model(uint16_t(options.deviceType));
    if (options.frequency > 0 && !model.setValue("frequency", std::to_string(options.frequency))) {
        std::fprintf(stderr, "dastel-sim: the recorder cannot stream at %ld frames per second\n", options.frequency);
        return ExitUsage;
    }
    if (!options.ecgRecord.empty() && options.ecgRecord != "synthetic") {
        auto record = std::make_shared<EcgRecordPlayer>();
        std::string error;
        if (!record->load(options.ecgRecord, error)) {
            std::fprintf(stderr, "dastel-sim: --ecg-record: %s\n", error.c_str());
            return ExitUsage;
        }
        record->setLoop(!options.ecgRecordOnce);
        std::fprintf(stderr, "dastel-sim: playing ECG record %s (%g Hz, %.1f s%s)\n", options.ecgRecord.c_str(),
                     record->samplingFrequency(), record->durationSeconds(), options.ecgRecordOnce ? ", once" : ", looped");
        for (const std::string& lead : record->missingLeads())
            std::fprintf(stderr, "dastel-sim: record %s has no lead %s; its channel stays at 0\n",
                         options.ecgRecord.c_str(), lead.c_str());
        model.playEcgRecord(record);
    }
    int exitCode = 0;
    {
        VirtualUsbRecorder usb(model);
        std::string error;
        if (!usb.start(&error)) {
            std::fprintf(stderr, "dastel-sim: mock environment unavailable: %s\n", error.c_str());
            return ExitUnavailable;
        }
        if (!options.startUnplugged && !usb.plug(&error)) {
            std::fprintf(stderr, "dastel-sim: cannot plug the recorder: %s\n", error.c_str());
            return ExitUnavailable;
        }
        int port = 0;
        const int listenFd = openControlSocket(options.controlPort, port);
        if (listenFd < 0) {
            std::fprintf(stderr, "dastel-sim: cannot listen on 127.0.0.1:%ld: %s\n", options.controlPort,
                         std::strerror(errno));
            return 1;
        }
        std::printf("DASTEL_SIM_CONTROL_PORT=%d\n", port);
        std::fflush(stdout);

        ControlInterface control(model, usb);
        const pid_t child = startChild(options.command);
        if (child < 0) {
            std::perror("dastel-sim: fork");
            ::close(listenFd);
            return 1;
        }

        std::map<int, std::string> clients; // fd -> unfinished input
        int childStatus = 0;
        bool childRunning = true;
        while (childRunning) {
            std::vector<pollfd> fds{{g_signalPipe[0], POLLIN, 0}, {listenFd, POLLIN, 0}};
            for (const auto& c : clients)
                fds.push_back({c.first, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("dastel-sim: poll");
                break;
            }
            if (fds[0].revents & POLLIN) {
                unsigned char sig;
                while (::read(g_signalPipe[0], &sig, 1) == 1) {
                    if (sig == SIGTERM || sig == SIGINT)
                        ::kill(child, sig);
                }
                const pid_t done = ::waitpid(child, &childStatus, WNOHANG);
                if (done == child)
                    childRunning = false;
            }
            if (fds[1].revents & POLLIN) {
                const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0)
                    clients[fd];
            }
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (!fds[i].revents)
                    continue;
                const int fd = fds[i].fd;
                std::string& buffer = clients[fd];
                char chunk[4096];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                bool keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
                if (n > 0)
                    buffer.append(chunk, std::size_t(n));
                std::size_t newline;
                while (keep && (newline = buffer.find('\n')) != std::string::npos) {
                    const std::string line = buffer.substr(0, newline);
                    buffer.erase(0, newline + 1);
                    keep = sendAll(fd, control.handleLine(line) + "\n");
                }
                if (keep && buffer.size() > MaxLine) {
                    sendAll(fd, "{\"ok\":false,\"error\":\"request line too long\"}\n");
                    keep = false;
                }
                if (!keep) {
                    ::close(fd);
                    clients.erase(fd);
                }
            }
        }
        for (const auto& c : clients)
            ::close(c.first);
        ::close(listenFd);
        // The child (and its libusb) is gone before the testbed goes away:
        // a client whose ioctl socket closes under it aborts.
        usb.dropAllTransfers();
        if (WIFEXITED(childStatus))
            exitCode = WEXITSTATUS(childStatus);
        else if (WIFSIGNALED(childStatus))
            exitCode = 128 + WTERMSIG(childStatus);
        else
            exitCode = 1;
    }
    return exitCode;
}
