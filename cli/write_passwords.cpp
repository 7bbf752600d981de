#include "cli/write_passwords.h"

#include "cli/console_lines.h"
#include "cli/passwords.h"
#include "ops/edit_options.h"
#include "ops/text_forms.h"
#include "util/record_text.h"

#include <algorithm>

namespace vantoro::cli {

std::optional<std::string> LoginPassword(const std::string& login)
{
    const auto password = ReadSecret(kPasswordVariable, "Password for " + TerminalText(login) + ": ");
    if (!password)
        Complain(std::string("no password: set ") + kPasswordVariable + " or run on a terminal to be asked");
    return password;
}

namespace {

std::optional<WritePasswords> ReadTypedPasswords(const WriteOptions& write, const std::vector<std::string>& new_names)
{
    WritePasswords p;
    if (write.secrets.empty()) {
        const auto login = LoginPassword(write.login);
        if (!login)
            return std::nullopt;
        p.login = *login;
        for (const std::string& name : new_names) {
            if (p.fresh.count(name))
                continue;
            const auto secret = ReadSecret(kNewPasswordVariable, "New password for " + TerminalText(name) + ": ");
            if (!secret) {
                Complain("no new password for " + name + ": set " + kNewPasswordVariable +
                         " or run on a terminal to be asked");
                return std::nullopt;
            }
            p.fresh[name] = *secret;
        }
        return p;
    }
    if (write.secrets != "-") {
        Complain("--secrets wants - (a JSON object on standard input), not '" + PrintableText(write.secrets) + "'");
        return std::nullopt;
    }
    const auto text = ReadBounded(stdin, kMaxSecretsBytes);
    if (!text) {
        Complain("--secrets: standard input holds more than " + std::to_string(kMaxSecretsBytes) +
                 " bytes or cannot be read; nothing was sent");
        return std::nullopt;
    }
    const auto secrets = ParseSecrets(*text);
    if (!secrets) {
        Complain("--secrets: " + secrets.error() + "; nothing was sent");
        return std::nullopt;
    }
    for (const auto& [name, password] : secrets->new_passwords) {
        if (std::find(new_names.begin(), new_names.end(), name) == new_names.end()) {
            Complain("--secrets: new_passwords names '" + name +
                     "', which no --add-user or --password names; nothing was sent");
            return std::nullopt;
        }
    }
    for (const std::string& name : new_names) {
        const auto it = secrets->new_passwords.find(name);
        if (it == secrets->new_passwords.end()) {
            Complain("--secrets: new_passwords has no password for '" + name + "'; nothing was sent");
            return std::nullopt;
        }
        p.fresh[name] = it->second;
    }
    p.login = secrets->login_password;
    return p;
}

constexpr const char* kNotStorable = "a character the camera cannot store: camera texts are Windows-1252; nothing was sent";

} // namespace

std::optional<WritePasswords> ReadPasswords(const WriteOptions& write, const std::vector<std::string>& new_names)
{
    // The name before any prompt: a login no camera can hold is refused at once.
    std::string bytes;
    if (auto error = ReadRecordText("--login", write.login, bytes)) {
        Complain(*error + "; nothing was sent");
        return std::nullopt;
    }
    auto p = ReadTypedPasswords(write, new_names);
    if (!p)
        return std::nullopt;
    // Never the password itself, not even the refused character of it.
    if (!RecordTextFromUtf8(p->login)) {
        Complain(std::string("the login password holds ") + kNotStorable);
        return std::nullopt;
    }
    for (auto& [name, password] : p->fresh) {
        auto converted = RecordTextFromUtf8(password);
        if (!converted) {
            Complain("the new password for '" + name + "' holds " + kNotStorable);
            return std::nullopt;
        }
        password = std::move(*converted);
    }
    return p;
}

} // namespace vantoro::cli
