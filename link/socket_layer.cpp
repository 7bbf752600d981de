#include "link/socket_layer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantoro::net {

namespace {

sockaddr_in MakeAddress(std::uint32_t addr, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    return sa;
}

} // namespace

void Startup() {}
void Cleanup() {}

Socket OpenUdpSocket()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return s < 0 ? kInvalidSocket : s;
}

bool SetBroadcast(Socket s, bool on)
{
    const int value = on ? 1 : 0;
    return ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

int SetReceiveBuffer(Socket s, int bytes)
{
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int effective = 0;
    socklen_t len = sizeof effective;
    ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &effective, &len);
    // Linux reports twice the size asked for; less means the cap cut it.
    if (effective < bytes)
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    len = sizeof effective;
    ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &effective, &len);
    return effective;
}

bool Bind(Socket s, std::uint32_t addr, std::uint16_t port)
{
    const sockaddr_in sa = MakeAddress(addr, port);
    return ::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

long SendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr, std::uint16_t port)
{
    const sockaddr_in sa = MakeAddress(addr, port);
    return ::sendto(s, data, n, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

long ReceiveFrom(Socket s, void* buffer, std::size_t n, std::uint32_t* from_addr, std::uint16_t* from_port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    long got;
    do {
        got = ::recvfrom(s, buffer, n, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    } while (got < 0 && errno == EINTR);
    if (got >= 0) {
        if (from_addr)
            *from_addr = sa.sin_addr.s_addr;
        if (from_port)
            *from_port = ntohs(sa.sin_port);
    }
    return got; // POSIX truncates a longer datagram to the buffer and reports n
}

void Close(Socket s)
{
    if (s != kInvalidSocket)
        ::close(s);
}

std::uint16_t LocalPort(Socket s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

std::uint32_t InetAddr(const char* text)
{
    return ::inet_addr(text);
}

} // namespace vantoro::net
