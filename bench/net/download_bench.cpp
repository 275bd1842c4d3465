// Segmented downloader against curl and aria2c on one local file server.
//
//   net_download_bench [--size-mib N] [--limit-mib N] [--dir DIR]
//
// Serves an N MiB file (default 256) from a loopback HTTP server in this
// process and fetches it with our downloader (2 segments, and 1 for
// reference), with `curl` and with `aria2c -x2 -s2`: first at full loopback
// speed, then with the server holding each connection to the limit (default
// 20 MiB/s). Each client runs as a child process; its throughput and peak
// memory (the child's maximum resident set) are printed with the ratios.
// Goals: at least 1.0 x aria2c in both settings, at least 1.8 x a single
// connection (curl) when connections are limited, peak memory under 32 MB.

#include "net/segmented_downloader.h"

#include <QByteArray>
#include <QString>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMiB = size_t(1) << 20;
constexpr size_t kServeChunk = 256 * 1024;

// --fetch mode: one download by our downloader, in a process of its own.
int fetchWithOurDownloader(const char *url, const char *path, int segments)
{
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<int> status;
    net::SegmentedDownloader downloader;
    const int task = downloader.download(QString::fromUtf8(url), QString::fromUtf8(path), segments,
                                         [&](int, int s, qint64, qint64) {
                                             if (s == net::SegmentedDownloader::Progress)
                                                 return;
                                             const std::lock_guard lock(mutex);
                                             status = s;
                                             ended.notify_all();
                                         });
    if (task <= 0)
        return 2;
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return status.has_value(); });
    return *status == net::SegmentedDownloader::Finished ? 0 : 1;
}

// Holds each connection to a byte rate; 0 means no limit.
class ConnectionPacer final {
public:
    void setLimit(double bytesPerSecond) { m_rate = bytesPerSecond; }
    void pace(const std::string &connection, size_t bytes)
    {
        const double rate = m_rate;
        if (rate <= 0)
            return;
        Clock::time_point due;
        {
            const std::lock_guard lock(m_mutex);
            Clock::time_point &next = m_next[connection];
            next = std::max(next, Clock::now())
                + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(bytes) / rate));
            due = next;
        }
        std::this_thread::sleep_until(due);
    }

private:
    std::atomic<double> m_rate = 0;
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_next;
};

struct Run {
    std::string name;
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

// The peak resident memory of a running process, from /proc; 0 when unknown.
long highWaterKiB(pid_t pid)
{
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(f);
    return kib;
}

Run runChild(const std::string &name, const std::vector<std::string> &args, const std::string &output, size_t size)
{
    // Each client starts with no write-back of an earlier one still going.
    std::filesystem::remove(output);
    sync();
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    Run run{name};
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    // The child's own peak: VmHWM of its image after exec. (wait4's maxrss
    // would count this process too, since a spawned child starts in our memory.)
    int status = 0;
    long peakKiB = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        peakKiB = std::max(peakKiB, highWaterKiB(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakMiB = double(peakKiB) / 1024.0;
    std::error_code error;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::filesystem::file_size(output, error) == size;
    return run;
}

bool sameContent(const std::string &a, const std::string &b)
{
    FILE *fa = std::fopen(a.c_str(), "rb");
    FILE *fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(4 * kMiB), bb(4 * kMiB);
    while (same) {
        const size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0)
            break;
    }
    if (fa)
        std::fclose(fa);
    if (fb)
        std::fclose(fb);
    return same;
}

void makeSource(const std::string &path, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    std::vector<unsigned char> block(kMiB);
    unsigned int seed = 12345;
    for (size_t done = 0; done < size; done += kMiB) {
        for (unsigned char &b : block) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<unsigned char>(seed >> 16);
        }
        std::fwrite(block.data(), 1, std::min(kMiB, size - done), f);
    }
    std::fflush(f);
    fsync(fileno(f));
    std::fclose(f);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--fetch") == 0)
        return fetchWithOurDownloader(argv[2], argv[3], std::atoi(argv[4]));

    size_t sizeMiB = 256;
    double limitMiB = 20;
    std::string dir = (std::filesystem::temp_directory_path() / "tolvar-download-bench").string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size-mib") == 0)
            sizeMiB = std::strtoul(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--limit-mib") == 0)
            limitMiB = std::strtod(argv[i + 1], nullptr);
        else if (std::strcmp(argv[i], "--dir") == 0)
            dir = argv[i + 1];
    }
    const size_t size = sizeMiB * kMiB;
    std::filesystem::create_directories(dir);
    const std::string source = dir + "/source.bin";
    const std::string output = dir + "/fetched.bin";
    makeSource(source, size);

    ConnectionPacer pacer;
    httplib::Server server;
    server.set_keep_alive_max_count(1000);
    server.Get("/file.bin", [&](const httplib::Request &req, httplib::Response &res) {
        const std::string connection = req.remote_addr + ':' + std::to_string(req.remote_port);
        res.set_content_provider(size, "application/octet-stream",
                                 [&, connection](size_t offset, size_t length, httplib::DataSink &sink) {
                                     static thread_local std::vector<char> buffer(kServeChunk);
                                     static thread_local FILE *file = std::fopen(source.c_str(), "rb");
                                     const size_t n = std::min(length, kServeChunk);
                                     if (!file || pread(fileno(file), buffer.data(), n, off_t(offset)) != ssize_t(n))
                                         return false;
                                     pacer.pace(connection, n);
                                     return sink.write(buffer.data(), n);
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/file.bin";
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    std::printf("file %zu MiB, per-connection limit %.0f MiB/s in the second setting\n\n", sizeMiB, limitMiB);
    bool goalsMet = true;
    for (const double limit : {0.0, limitMiB}) {
        pacer.setLimit(limit * double(kMiB));
        std::printf("%s\n", limit > 0 ? "connections limited" : "full loopback speed");
        std::vector<Run> runs;
        runs.push_back(runChild("ours, 2 segments", {self, "--fetch", url, output, "2"}, output, size));
        const bool oursCorrect = runs.back().ok && sameContent(source, output);
        runs.push_back(runChild("ours, 1 segment", {self, "--fetch", url, output, "1"}, output, size));
        runs.push_back(runChild("curl", {"curl", "-s", "-o", output, url}, output, size));
        runs.push_back(runChild("aria2c -x2 -s2", {"aria2c", "-x2", "-s2", "-q", "--allow-overwrite=true",
                                                   "--auto-file-renaming=false", "-d", dir, "-o", "fetched.bin", url},
                                output, size));
        for (const Run &r : runs) {
            std::printf("  %-18s %8.1f MiB/s  %6.2f s  peak %6.1f MiB%s\n", r.name.c_str(),
                        r.ok ? double(size) / kMiB / r.seconds : 0.0, r.seconds, r.peakMiB, r.ok ? "" : "  FAILED");
        }
        const double ours = double(size) / runs[0].seconds;
        const double vsAria = runs[3].ok ? ours / (double(size) / runs[3].seconds) : 0;
        const double vsCurl = runs[2].ok ? ours / (double(size) / runs[2].seconds) : 0;
        std::printf("  ours / aria2c  %.2f  (goal >= 1.0)\n", vsAria);
        std::printf("  ours / curl    %.2f%s\n", vsCurl, limit > 0 ? "  (goal >= 1.8)" : "");
        std::printf("  content identical: %s\n\n", oursCorrect ? "yes" : "NO");
        goalsMet = goalsMet && oursCorrect && vsAria >= 1.0 && (limit <= 0 || vsCurl >= 1.8)
            && runs[0].peakMiB < 32 && runs[1].peakMiB < 32;
    }
    std::printf("goals %s\n", goalsMet ? "met" : "NOT met");
    server.stop();
    serving.join();
    std::filesystem::remove(source);
    std::filesystem::remove(output);
    return goalsMet ? 0 : 1;
}
