#include "net/socket_layer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

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

void UniqueFd::reset(int fd)
{
    if (fd_ >= 0 && fd_ != fd) {
        const int error = errno; // a failure being reported keeps its reason
        ::close(fd_);
        errno = error;
    }
    fd_ = fd;
}

UniqueFd OpenUdpSocket()
{
    return UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
}

UniqueFd OpenBoundUdpSocket(std::uint32_t addr, std::uint16_t port)
{
    UniqueFd s = OpenUdpSocket();
    if (s.valid() && !Bind(s.get(), addr, port))
        s.reset();
    return s;
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

int ReceiveBufferSize(Socket s)
{
    int size = 0;
    socklen_t len = sizeof size;
    ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, &len);
    return size;
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

long SendToVia(Socket s, const void* data, std::size_t n, std::uint32_t addr, std::uint16_t port,
               unsigned interface_index)
{
    sockaddr_in sa = MakeAddress(addr, port);
    iovec iov{const_cast<void*>(data), n};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = int(interface_index); // the source address follows from the interface
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    return ::sendmsg(s, &msg, 0);
}

bool ReportArrivalInterface(Socket s)
{
    const int on = 1;
    return ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

bool ReportKernelDrops(Socket s)
{
    const int on = 1;
    return ::setsockopt(s, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0;
}

int ReceiveBatch(Socket s, BatchSlot* slots, int count, KernelDropCount* drops)
{
    constexpr std::size_t kControl = CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(std::uint32_t));
    struct Parts {
        iovec iov;
        sockaddr_in from;
        alignas(cmsghdr) unsigned char control[kControl];
    };
    thread_local std::vector<mmsghdr> headers;
    thread_local std::vector<Parts> parts;
    if (headers.size() < std::size_t(count)) {
        headers.assign(std::size_t(count), mmsghdr{});
        parts.resize(std::size_t(count));
    }
    // Every field the system reads or writes is set again: no clearing.
    for (int i = 0; i < count; ++i) {
        parts[i].iov = {slots[i].buffer, slots[i].capacity};
        msghdr& m = headers[i].msg_hdr;
        m.msg_iov = &parts[i].iov;
        m.msg_iovlen = 1;
        m.msg_name = &parts[i].from;
        m.msg_namelen = sizeof parts[i].from;
        m.msg_control = parts[i].control;
        m.msg_controllen = kControl;
        m.msg_flags = 0;
    }
    int got;
    do {
        got = ::recvmmsg(s, headers.data(), unsigned(count), MSG_DONTWAIT, nullptr);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    for (int i = 0; i < got; ++i) {
        // A longer datagram comes truncated to the buffer, its length the buffer's.
        slots[i].length = std::min<std::size_t>(headers[i].msg_len, slots[i].capacity);
        slots[i].interface_index = 0;
        msghdr& m = headers[i].msg_hdr;
        slots[i].source_address = m.msg_namelen >= sizeof(sockaddr_in) ? parts[i].from.sin_addr.s_addr : 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                slots[i].interface_index = unsigned(info.ipi_ifindex);
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL && drops) {
                // A running count: the last datagram's is the batch's.
                std::memcpy(&drops->value, CMSG_DATA(c), sizeof drops->value);
                drops->seen = true;
            }
        }
    }
    return got;
}

bool ReadKernelDrops(Socket s, KernelDropCount& count)
{
    // SO_MEMINFO's SK_MEMINFO_DROPS is the counter SO_RXQ_OVFL carries.
    std::uint32_t meminfo[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof meminfo;
    if (s == kInvalidSocket || ::getsockopt(s, SOL_SOCKET, SO_MEMINFO, meminfo, &len) != 0 ||
        len < socklen_t((SK_MEMINFO_DROPS + 1) * sizeof(std::uint32_t)))
        return false;
    count.value = meminfo[SK_MEMINFO_DROPS];
    count.seen = true;
    return true;
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

std::uint16_t LocalPort(Socket s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

bool SetNonBlocking(Socket s)
{
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool OpenWakePipe(WakePipe& pipe)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe = {};
        return false;
    }
    pipe.read_end.reset(fds[0]);
    pipe.write_end.reset(fds[1]);
    return true;
}

void Wake(const WakePipe& pipe)
{
    if (!pipe.write_end.valid())
        return;
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(pipe.write_end.get(), &byte, 1);
}

void ClearWake(const WakePipe& pipe)
{
    char bytes[64];
    while (pipe.read_end.valid() && ::read(pipe.read_end.get(), bytes, sizeof bytes) > 0) {
    }
}

void CloseWakePipe(WakePipe& pipe)
{
    pipe.read_end.reset();
    pipe.write_end.reset();
}

bool WaitReadable(Socket s, const WakePipe& wake, int timeout_ms)
{
    pollfd fds[2];
    nfds_t count = 0;
    if (wake.read_end.valid())
        fds[count++] = {wake.read_end.get(), POLLIN, 0};
    if (s != kInvalidSocket)
        fds[count++] = {s, POLLIN, 0};
    return ::poll(fds, count, timeout_ms) > 0;
}

bool WaitReadable(Socket s, int timeout_ms)
{
    return WaitReadable(s, WakePipe{}, timeout_ms);
}

bool SetThreadNice(int nice)
{
    return ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), nice) == 0;
}

std::uint32_t InetAddr(const char* text)
{
    return ::inet_addr(text);
}

std::uint32_t WordToNetwork(std::uint32_t word)
{
    return htonl(word);
}

std::uint32_t NetworkToWord(std::uint32_t address)
{
    return ntohl(address);
}

} // namespace vantoro::net
