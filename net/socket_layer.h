#pragma once
// A thin layer over the Berkeley socket calls and the few other system calls
// the link and the simulator make (waiting on a socket, the wake pipe, thread
// priority), so nothing above net/ includes system headers. Addresses are
// IPv4 in network byte order. What it opens comes back owned (UniqueFd);
// the calls on a socket take it as a plain descriptor, owned elsewhere.

#include "net/unique_fd.h"

#include <cstddef>
#include <cstdint>

namespace vantoro::net {

using Socket = int;
inline constexpr Socket kInvalidSocket = -1;

// A UDP socket, closed on exec; invalid (errno set) when there is none.
[[nodiscard]] UniqueFd OpenUdpSocket();
// A UDP socket bound to addr:port (port 0: a free one); invalid, with errno
// as the failing call left it, when it cannot be opened or bound.
[[nodiscard]] UniqueFd OpenBoundUdpSocket(std::uint32_t addr, std::uint16_t port);
bool SetBroadcast(Socket s, bool on);
// Asks for a receive buffer of bytes; past the system's cap it forces the size
// where the process may (as root). Returns the size in effect.
int SetReceiveBuffer(Socket s, int bytes);
// The receive buffer's size in effect, as the system reports it.
int ReceiveBufferSize(Socket s);
// Binds to addr:port (addr in network byte order, 0 for any).
bool Bind(Socket s, std::uint32_t addr, std::uint16_t port);
long SendTo(Socket s, const void* data, std::size_t n, std::uint32_t addr, std::uint16_t port);
// As SendTo, leaving through the interface with this index whatever the
// routes say (a broadcast then needs no default route).
long SendToVia(Socket s, const void* data, std::size_t n, std::uint32_t addr, std::uint16_t port,
               unsigned interface_index);
// Makes every receive on s report the interface the datagram arrived on.
bool ReportArrivalInterface(Socket s);
// Makes every receive on s carry the count of datagrams the system dropped
// for want of room in the socket's buffer, where the system keeps one.
bool ReportKernelDrops(Socket s);
// Returns the byte count; for a datagram longer than the buffer, the buffer's
// size (the rest is discarded). -1 on error; 0 for an empty datagram.
long ReceiveFrom(Socket s, void* buffer, std::size_t n, std::uint32_t* from_addr = nullptr,
                 std::uint16_t* from_port = nullptr);
// One datagram of a batch receive: the caller's buffer, and what arrived in it.
struct BatchSlot {
    void* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t length = 0;       // bytes received, cut to capacity
    unsigned interface_index = 0; // 0 when the socket does not report it
    std::uint32_t source_address = 0; // the sender, network byte order
};
// The system's count of datagrams dropped on a socket before they could be
// queued, as the last datagram of a batch brought it (ReportKernelDrops). It
// runs since the socket was opened and wraps at 2^32; the system sends it
// only once it is above zero.
struct KernelDropCount {
    bool seen = false;
    std::uint32_t value = 0;
};
// Takes up to count datagrams already queued on s, without waiting. Returns
// how many (0 when none is queued), or -1 on another error. drops, when
// given, is set from the same receive's control messages: no extra call.
int ReceiveBatch(Socket s, BatchSlot* slots, int count, KernelDropCount* drops = nullptr);
// The same count of drops read from the socket at this moment, with no
// datagram needed: drops after the last queued datagram show here at once.
// False, leaving count unseen, where the system does not tell.
bool ReadKernelDrops(Socket s, KernelDropCount& count);
std::uint16_t LocalPort(Socket s);
// Receives on s no longer wait for a datagram.
bool SetNonBlocking(Socket s);

// A pipe whose only use is to end a WaitReadable from another thread.
struct WakePipe {
    UniqueFd read_end;
    UniqueFd write_end;
    bool open() const { return read_end.valid(); }
};
// Non-blocking, closed on exec; false, leaving it closed, when the system
// has none to give.
bool OpenWakePipe(WakePipe& pipe);
void Wake(const WakePipe& pipe); // nothing when it is closed
// Takes the wake-ups written so far, so the pipe no longer reads as woken.
void ClearWake(const WakePipe& pipe);
void CloseWakePipe(WakePipe& pipe);
// Waits holding no lock until s has a datagram to read or the pipe was woken,
// up to timeout_ms (-1: no limit). Either may be closed (invalid); with both
// closed it just waits. True when something is there to read.
bool WaitReadable(Socket s, const WakePipe& wake, int timeout_ms);
// The same for the socket alone.
bool WaitReadable(Socket s, int timeout_ms);

// Lowers the calling thread's priority to the nice value; lowering one's own
// needs no privilege. False when the system refused.
bool SetThreadNice(int nice);
// inet_addr: dotted text to an address in network byte order; all bits set
// for text it cannot convert.
std::uint32_t InetAddr(const char* text);
// An address word (the first dotted number in the most significant byte) to
// network byte order, and back.
std::uint32_t WordToNetwork(std::uint32_t word);
std::uint32_t NetworkToWord(std::uint32_t address);

} // namespace vantoro::net
