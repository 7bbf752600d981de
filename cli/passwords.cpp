#include "cli/passwords.h"

#include "ops/text_forms.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace vantoro::cli {

namespace {

// The terminal as it was before the prompt, for the signal handler: a signal
// that ends the program during the prompt must not leave it without echo.
int g_tty = -1;
termios g_saved{};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreAndRaise(int signal)
{
    ::tcsetattr(g_tty, TCSAFLUSH, &g_saved);
    // The handler was reset (SA_RESETHAND): the signal, delivered when this
    // returns, now does what it would have done.
    ::raise(signal);
}

// Restores the terminal on every way out of the prompt: return or signal.
class EchoOff {
public:
    EchoOff(int tty, const termios& saved)
    {
        g_tty = tty;
        g_saved = saved;
        struct sigaction action {};
        action.sa_handler = RestoreAndRaise;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &action, &previous_[i]);
            if (previous_[i].sa_handler == SIG_IGN) // as under nohup: stays ignored
                ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
        }
        termios quiet = saved;
        quiet.c_lflag &= tcflag_t(~(ECHO | ECHONL));
        quiet.c_lflag |= ICANON;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        ::tcsetattr(g_tty, TCSAFLUSH, &g_saved);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
        g_tty = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    struct sigaction previous_[std::size(kEndingSignals)] {};
};

} // namespace

std::optional<std::string> ReadSecret(const char* env_name, const std::string& prompt)
{
    if (const char* value = std::getenv(env_name))
        return std::string(value);

    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    termios saved{};
    std::optional<EchoOff> echo_off;
    if (::tcgetattr(tty, &saved) == 0)
        echo_off.emplace(tty, saved);
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
    echo_off.reset();
    w = ::write(tty, "\n", 1);
    ::close(tty);
    // End of input before a line was finished: nothing was typed on purpose.
    if (!complete && secret.empty())
        return std::nullopt;
    return secret;
}

Result<Secrets> ParseSecrets(const std::string& text)
{
    // No exception text: a parse error quotes the input near the fault.
    const nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object())
        return Error("standard input holds no JSON object");
    // A password the camera would cut at its NUL is refused, not changed.
    const auto usable = [](const nlohmann::json& value) {
        return value.is_string() && value.get_ref<const std::string&>().find('\0') == std::string::npos;
    };
    Secrets secrets;
    bool login = false;
    for (const auto& [key, value] : object.items()) {
        if (key == "login_password") {
            if (!usable(value))
                return Error("login_password is not a string without NUL");
            secrets.login_password = value.get<std::string>();
            login = true;
        } else if (key == "new_passwords") {
            if (!value.is_object())
                return Error("new_passwords is not an object of user names and passwords");
            for (const auto& [name, password] : value.items()) {
                if (!usable(password))
                    return Error("the new password of '" + ops::PrintableText(name) + "' is not a string without NUL");
                secrets.new_passwords[name] = password.get<std::string>();
            }
        } else {
            return Error("unknown key '" + ops::PrintableText(key) + "' (login_password and new_passwords are known)");
        }
    }
    if (!login)
        return Error("no login_password");
    return secrets;
}

std::optional<std::string> ReadBounded(std::FILE* file, std::size_t max)
{
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
        if (text.size() > max)
            return std::nullopt;
    }
    if (std::ferror(file))
        return std::nullopt;
    return text;
}

} // namespace vantoro::cli
