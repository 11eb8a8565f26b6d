#pragma once

// The peers' side of the figures: running a tool as a child process, and nginx as the server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

namespace fs = std::filesystem;

// Runs the command (found on PATH) and waits for it; its exit status, or -1.
inline int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool onPath(const char* tool) { return run({"sh", "-c", std::string("command -v ") + tool + " >/dev/null"}) == 0; }

// nginx on 127.0.0.1 with a prefix of its own in the work folder, serving that folder, and
// under /limited/ the same at 2 MB/s per connection. Stopped by its PID.
class Nginx final {
public:
    explicit Nginx(const fs::path& root) {
        if (!onPath("nginx")) return;
        const fs::path prefix = root / "nginx";
        fs::create_directories(prefix / "logs");
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        ::close(probe);
        std::ofstream conf(prefix / "nginx.conf");
        conf << "worker_processes 1;\nerror_log " << (prefix / "logs/error.log").string() << ";\npid "
             << (prefix / "nginx.pid").string() << ";\nuser root;\nevents { worker_connections 64; }\n"
             << "http {\n access_log off;\n sendfile on;\n tcp_nopush on;\n default_type application/octet-stream;\n";
        for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf << " " << temp << "_temp_path " << (prefix / temp).string() << ";\n";
        conf << " server {\n  listen 127.0.0.1:" << port << ";\n  root " << root.string() << ";\n"
             << "  location /limited/ { alias " << root.string() << "/; limit_rate 2m; }\n }\n}\n";
        conf.close();
        std::vector<std::string> argv{"nginx", "-p", prefix.string(), "-c", (prefix / "nginx.conf").string(), "-g",
                                      "daemon off;"};
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawnp(&pid, "nginx", nullptr, nullptr, args.data(), environ) != 0) pid = 0;
        // Ready once it answers.
        for (int i = 0; i < 100 && pid > 0; ++i) {
            if (run({"curl", "-s", "-o", "/dev/null", "-r", "0-0", baseURL() + "/"}) == 0) return;
            ::usleep(50000);
        }
        stop();
    }
    ~Nginx() { stop(); }
    bool running() const { return pid > 0; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port); }

private:
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = 0;
    }
    pid_t pid = 0;
    int port = 0;
};

}  // namespace bench
