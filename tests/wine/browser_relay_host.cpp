// The Linux half of the browser relay the Wine tests use: browser_relay.exe
// (started by tolvar.exe as its browser) connects here and sends its command
// line; this host starts Debian's Chromium with --remote-debugging-pipe on
// that command line, and relays the NUL-framed protocol messages between the
// connection and the browser's fds 3 and 4. Windows paths are mapped to
// Linux ones here and only here: the profile's --user-data-dir and the files
// of DOM.setFileInputFiles (Z:\a\b -> /a/b).
//
// Usage: browser_relay_host --log FILE [--chromium PATH]
// Prints "listening on PORT" first. Reads commands on standard input:
//   kill TEXT   SIGKILLs every running browser whose profile contains TEXT
// Standard input closing kills every browser and ends the host, so nothing
// outlives the test that started it.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_mutex;
std::condition_variable g_sessionEnded;
FILE *g_log = nullptr;
std::string g_chromium = "/usr/bin/chromium";
const auto g_start = std::chrono::steady_clock::now();

struct Session {
    pid_t pid = 0;
    std::string profile;
    int socket = -1;
};
std::map<int, Session> g_sessions; // running sessions by number

// One line per event, with milliseconds since the host started: the tests
// read this file.
void logLine(const std::string &text)
{
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_start).count();
    std::lock_guard lock(g_mutex);
    std::fprintf(g_log, "%lld %s\n", ms, text.c_str());
    std::fflush(g_log);
}

// Z:\a\b -> /a/b; anything else stays as it is.
std::string linuxPath(const std::string &path)
{
    if (path.size() < 2 || path[1] != ':' || (path[0] != 'Z' && path[0] != 'z'))
        return path;
    std::string out = path.substr(2);
    for (char &c : out)
        c = c == '\\' ? '/' : c;
    return out.empty() ? "/" : out;
}

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A command for the browser, with the files of DOM.setFileInputFiles mapped.
std::string mapCommand(int number, const std::string &message)
{
    if (message.find("\"DOM.setFileInputFiles\"") == std::string::npos)
        return message;
    rapidjson::Document doc;
    doc.Parse(message.c_str(), message.size());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("params") || !doc["params"].IsObject())
        return message;
    rapidjson::Value &params = doc["params"];
    if (!params.HasMember("files") || !params["files"].IsArray())
        return message;
    std::string mapped;
    for (rapidjson::Value &file : params["files"].GetArray()) {
        if (!file.IsString())
            continue;
        const std::string path = linuxPath(file.GetString());
        mapped += ' ' + path;
        file.SetString(path.c_str(), static_cast<rapidjson::SizeType>(path.size()), doc.GetAllocator());
    }
    logLine("files " + std::to_string(number) + mapped);
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> writer(out);
    doc.Accept(writer);
    return std::string(out.GetString(), out.GetSize());
}

// Chromium's arguments from the relayed command line: the program name and
// the Windows pipe handles go, the profile folder is mapped, the browser
// runs headless on its own pipe.
std::vector<std::string> chromiumArguments(const std::vector<std::string> &relayed, std::string &profile)
{
    std::vector<std::string> args{g_chromium};
    bool headless = false, noSandbox = false;
    for (size_t i = 1; i < relayed.size(); ++i) {
        std::string a = relayed[i];
        if (startsWith(a, "--remote-debugging-"))
            continue;
        if (startsWith(a, "--user-data-dir=")) {
            profile = linuxPath(a.substr(16));
            a = "--user-data-dir=" + profile;
        }
        headless = headless || startsWith(a, "--headless");
        noSandbox = noSandbox || a == "--no-sandbox";
        args.push_back(a);
    }
    if (!headless)
        args.insert(args.begin() + 1, "--headless=new");
    if (!noSandbox && ::geteuid() == 0)
        args.insert(args.begin() + 1, "--no-sandbox");
    args.insert(args.begin() + 1, "--remote-debugging-pipe");
    return args;
}

// Starts the browser in a process group of its own (so that it dies whole)
// with our pipes as its fds 3 and 4.
pid_t startChromium(const std::vector<std::string> &args, int commandsRead, int answersWrite, const std::string &errorLog)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls from here on: the host has threads.
    ::setpgid(0, 0);
    const int in = ::fcntl(commandsRead, F_DUPFD, 10);
    const int out = ::fcntl(answersWrite, F_DUPFD, 10);
    ::dup2(in, 3);
    ::dup2(out, 4);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    const int err = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0)
        ::dup2(err, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// The browsers' standard error, where the test wants it.
std::string browserLog()
{
    const char *path = std::getenv("TOLVAR_RELAY_BROWSER_LOG");
    return path && *path ? path : "/dev/null";
}

void runSession(int number, int sock)
{
    // The first frame: the command line of browser_relay.exe.
    std::string buffer;
    char chunk[64 * 1024];
    size_t nul;
    while ((nul = buffer.find('\0')) == std::string::npos) {
        const ssize_t n = ::recv(sock, chunk, sizeof chunk, 0);
        if (n <= 0) {
            logLine("end " + std::to_string(number) + " no command line");
            ::close(sock);
            return;
        }
        buffer.append(chunk, static_cast<size_t>(n));
    }
    std::vector<std::string> relayed;
    std::istringstream lines(buffer.substr(0, nul));
    for (std::string line; std::getline(lines, line);)
        relayed.push_back(line);
    buffer.erase(0, nul + 1);

    std::string profile;
    const std::vector<std::string> args = chromiumArguments(relayed, profile);
    int commands[2], answers[2];
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0) {
        logLine("end " + std::to_string(number) + " no pipes");
        ::close(sock);
        return;
    }
    std::string joined;
    for (const std::string &a : args)
        joined += ' ' + a;
    const pid_t pid = startChromium(args, commands[0], answers[1], browserLog());
    ::close(commands[0]);
    ::close(answers[1]);
    {
        std::lock_guard lock(g_mutex);
        g_sessions[number] = Session{pid, profile, sock};
    }
    logLine("start " + std::to_string(number) + " pid " + std::to_string(pid) + " profile " + profile + " args" + joined);

    // The browser's answers and events go out as they come.
    std::thread answersOut([sock, fd = answers[0]] {
        char data[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd, data, sizeof data);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || !writeAll(sock, data, static_cast<size_t>(n)))
                break;
        }
        // The browser is gone: the relay ends, and tolvar.exe sees it.
        ::shutdown(sock, SHUT_RDWR);
    });

    // Commands go in whole frames, the file paths mapped.
    for (bool open = true; open;) {
        while ((nul = buffer.find('\0')) != std::string::npos) {
            const std::string message = mapCommand(number, buffer.substr(0, nul)) + '\0';
            buffer.erase(0, nul + 1);
            if (!writeAll(commands[1], message.data(), message.size())) {
                open = false;
                break;
            }
        }
        if (!open)
            break;
        const ssize_t n = ::recv(sock, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    // Its pipe closing makes the browser close, writing its profile.
    ::close(commands[1]);
    int status = 0;
    bool exited = false;
    for (int waited = 0; waited < 15000 && !exited; waited += 20) {
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL); // whatever of it is left
    if (!exited)
        ::waitpid(pid, &status, 0);
    answersOut.join();
    ::close(answers[0]);
    ::close(sock);
    {
        std::lock_guard lock(g_mutex);
        g_sessions.erase(number);
    }
    const std::string how = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "exit " + std::to_string(WEXITSTATUS(status));
    logLine("end " + std::to_string(number) + " " + how + (exited ? "" : " (killed after 15 s)"));
}

void killBrowsers(const std::string &profilePart)
{
    std::vector<std::pair<int, pid_t>> victims;
    {
        std::lock_guard lock(g_mutex);
        for (const auto &[number, session] : g_sessions)
            if (session.profile.find(profilePart) != std::string::npos)
                victims.emplace_back(number, session.pid);
    }
    for (const auto &[number, pid] : victims) {
        ::kill(-pid, SIGKILL);
        logLine("killed " + std::to_string(number) + " pid " + std::to_string(pid));
    }
    if (victims.empty())
        logLine("kill " + profilePart + ": no such browser");
}

} // namespace

int main(int argc, char **argv)
{
    std::string logPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--log") == 0)
            logPath = argv[i + 1];
        else if (std::strcmp(argv[i], "--chromium") == 0)
            g_chromium = argv[i + 1];
    }
    if (logPath.empty()) {
        std::fprintf(stderr, "usage: browser_relay_host --log FILE [--chromium PATH]\n");
        return 2;
    }
    g_log = std::fopen(logPath.c_str(), "a");
    if (!g_log) {
        std::fprintf(stderr, "browser_relay_host: cannot open %s: %s\n", logPath.c_str(), std::strerror(errno));
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::fprintf(stderr, "browser_relay_host: cannot listen on loopback: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("listening on %d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    int sessions = 0;
    int running = 0;
    std::string input;
    for (;;) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {0, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            const int sock = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (sock >= 0) {
                const int number = ++sessions;
                {
                    std::lock_guard lock(g_mutex);
                    ++running;
                }
                std::thread([number, sock, &running] {
                    runSession(number, sock);
                    std::lock_guard lock(g_mutex);
                    --running;
                    g_sessionEnded.notify_all();
                }).detach();
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char data[256];
            const ssize_t n = ::read(0, data, sizeof data);
            if (n <= 0)
                break;
            input.append(data, static_cast<size_t>(n));
            for (size_t eol; (eol = input.find('\n')) != std::string::npos;) {
                const std::string line = input.substr(0, eol);
                input.erase(0, eol + 1);
                if (startsWith(line, "kill "))
                    killBrowsers(line.substr(5));
            }
        }
    }
    // The test is done (or gone): no browser outlives it.
    killBrowsers("");
    std::unique_lock lock(g_mutex);
    g_sessionEnded.wait_for(lock, std::chrono::seconds(20), [&] { return running == 0; });
    std::fprintf(g_log, "host ended, %d sessions still running\n", running);
    std::fclose(g_log);
    ::_exit(0);
}
