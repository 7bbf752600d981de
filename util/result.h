#pragma once
// How a function says it failed: an error text for a person, never a code.
// - Error: a function that only does something returns none when it went
//   well, else what went wrong. `if (auto error = Do()) Say(*error);`
// - Result<T>: a function that gives a value returns the value or the error.
// Both are [[nodiscard]]: dropping one drops a failure unseen. A text that
// is a value (a name, a password) stays std::string or std::optional of one.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vantoro {

class [[nodiscard]] Error {
public:
    Error() = default; // none: it went well
    Error(std::nullopt_t) {}
    Error(std::string text) : text_(std::move(text)) {}
    Error(const char* text) : text_(text) {}

    // True when it failed.
    explicit operator bool() const { return text_.has_value(); }
    const std::string& operator*() const { return *text_; }
    const std::string* operator->() const { return &*text_; }
    // The text; empty when it went well.
    std::string text() const { return text_.value_or(std::string()); }

    friend bool operator==(const Error& e, std::string_view text) { return e.text_ && *e.text_ == text; }
    friend std::ostream& operator<<(std::ostream& out, const Error& e)
    {
        return out << (e.text_ ? *e.text_ : std::string("(no error)"));
    }

private:
    std::optional<std::string> text_;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    // A failure; an Error that holds none is a fault of the caller.
    Result(Error error) : v_(std::in_place_index<1>, error.text()) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& operator*() { return std::get<0>(v_); }
    const T& operator*() const { return std::get<0>(v_); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    // What went wrong; empty when it went well.
    const std::string& error() const
    {
        static const std::string none;
        return ok() ? none : std::get<1>(v_);
    }

private:
    std::variant<T, std::string> v_;
};

} // namespace vantoro
