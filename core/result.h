// Result<T>: a value or a failure message. The core never throws; the binding
// layer turns a failure message into the Python exception its caller documents.
#pragma once
#include <string>
#include <utility>
#include <variant>

namespace ombrix {

struct Failure {
    std::string message;
};

inline Failure fail(std::string message) { return Failure{std::move(message)}; }

template <class T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Failure f) : v_(std::move(f)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T& operator*() { return value(); }
    T* operator->() { return &value(); }
    const std::string& error() const { return std::get<1>(v_).message; }

private:
    std::variant<T, Failure> v_;
};

// Result<void> equivalent.
class Status {
public:
    Status() = default;
    Status(Failure f) : failed_(true), message_(std::move(f.message)) {}
    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return message_; }

private:
    bool failed_ = false;
    std::string message_;
};

}  // namespace ombrix
