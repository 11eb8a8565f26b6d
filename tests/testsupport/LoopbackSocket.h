#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vemlis::testing {

// A TCP socket on 127.0.0.1, on a port the system chooses, closed at the end. Not listening, a
// connection to it is refused while no other server can take its port; listening, a test
// answers its connections by hand (for what an HTTP library will not send).
class LoopbackSocket final {
public:
    explicit LoopbackSocket(bool listening) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
        if (listening && ::listen(fd, 4) != 0) port = 0;
    }
    ~LoopbackSocket() { ::close(fd); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    const int fd;
    int port = 0;  // 0 when the socket could not be set up
};

}  // namespace vemlis::testing
