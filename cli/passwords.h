#pragma once
// Passwords never come from the command line, where the process list shows
// them: from an environment variable, or typed at a prompt without echo.

#include "util/result.h"

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

namespace vantoro::cli {

// The value of env_name when it is set; otherwise prompt on /dev/tty with echo
// off. None when neither is possible (no variable and no terminal).
std::optional<std::string> ReadSecret(const char* env_name, const std::string& prompt);

// What --secrets - reads from standard input, at most kMaxSecretsBytes:
// {"login_password": "...", "new_passwords": {"NAME": "...", ...}}.
struct Secrets {
    std::string login_password;
    std::map<std::string, std::string> new_passwords;
};
inline constexpr std::size_t kMaxSecretsBytes = 64 * 1024;
// The object, or why not. The error never holds a value of the input, which
// may be a password.
Result<Secrets> ParseSecrets(const std::string& text);
// All of file up to max bytes; none when it holds more or cannot be read.
std::optional<std::string> ReadBounded(std::FILE* file, std::size_t max);

inline constexpr const char* kPasswordVariable = "VANTORO_PASSWORD";
inline constexpr const char* kNewPasswordVariable = "VANTORO_NEW_PASSWORD";

} // namespace vantoro::cli
