#include "cli/passwords.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace vantoro::cli {

std::optional<std::string> ReadSecret(const char* env_name, const std::string& prompt)
{
    if (const char* value = std::getenv(env_name))
        return std::string(value);

    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    termios saved{};
    const bool has_termios = ::tcgetattr(tty, &saved) == 0;
    if (has_termios) {
        termios quiet = saved;
        quiet.c_lflag &= tcflag_t(~(ECHO | ECHONL));
        quiet.c_lflag |= ICANON;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    [[maybe_unused]] auto w = ::write(tty, prompt.data(), prompt.size());
    std::string secret;
    bool complete = false;
    char c;
    while (::read(tty, &c, 1) == 1) {
        if (c == '\n' || c == '\r') {
            complete = true;
            break;
        }
        secret += c;
    }
    if (has_termios)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    w = ::write(tty, "\n", 1);
    ::close(tty);
    // End of input before a line was finished: nothing was typed on purpose.
    if (!complete && secret.empty())
        return std::nullopt;
    return secret;
}

} // namespace vantoro::cli
