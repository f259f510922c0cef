#pragma once

#include <cerrno>
#include <optional>
#include <utility>

// What a call into the system gives back below the application: a value, or the errno that kept
// it from being made. The application turns the errno into a sentence for the user
// (qt_error_string); nothing below it words a failure.
template <typename T>
class SysResult
{
public:
    SysResult(T value) : m_value(std::move(value)) {}
    static SysResult failure(int error)
    {
        SysResult result(Failed{});
        result.m_error = error != 0 ? error : EIO;
        return result;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    // 0 when the call succeeded.
    int error() const { return m_error; }

    T &value() { return *m_value; }
    const T &value() const { return *m_value; }
    T &operator*() { return *m_value; }
    const T &operator*() const { return *m_value; }
    T *operator->() { return &*m_value; }
    const T *operator->() const { return &*m_value; }

private:
    struct Failed
    {};
    explicit SysResult(Failed) {}

    std::optional<T> m_value;
    int m_error = 0;
};

// A call that gives nothing back but whether it worked.
struct Done
{};
using SysStatus = SysResult<Done>;
