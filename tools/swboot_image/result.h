// A value or the one-line reason why there is none. The host tools report
// every failure as such a line, so a result carries text, not a code.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace swboot::tool {

struct Failure {
    std::string message;
};

inline Failure fail(std::string message) { return Failure{std::move(message)}; }

template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<T>(state_); }
    T& value() & { return std::get<T>(state_); }
    T&& value() && { return std::get<T>(std::move(state_)); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }
    const std::string& error() const { return std::get<Failure>(state_).message; }

private:
    std::variant<T, Failure> state_;
};

// A result that carries nothing when it succeeds.
struct Done {};
using Status = Result<Done>;

}  // namespace swboot::tool
