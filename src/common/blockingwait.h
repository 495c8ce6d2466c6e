#pragma once

#include <QEventLoop>

#include <QCoroTask>

#include <exception>
#include <optional>

// Runs a task to its end in a nested event loop and hands back its value or rethrows its
// exception (QCoro::waitFor would wait forever for a task that throws). For tests and main().
namespace BlockingWait {
namespace detail {

template <typename T>
QCoro::Task<> drive(QCoro::Task<T> &task, QEventLoop &loop, bool &done, std::optional<T> &value,
                    std::exception_ptr &error) {
    try {
        value.emplace(co_await task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

inline QCoro::Task<> drive(QCoro::Task<> &task, QEventLoop &loop, bool &done, std::exception_ptr &error) {
    try {
        co_await task;
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

} // namespace detail

template <typename T> T wait(QCoro::Task<T> &&task) {
    QEventLoop loop;
    bool done = false;
    std::optional<T> value;
    std::exception_ptr error;
    auto driver = detail::drive(task, loop, done, value, error);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

inline void wait(QCoro::Task<> &&task) {
    QEventLoop loop;
    bool done = false;
    std::exception_ptr error;
    auto driver = detail::drive(task, loop, done, error);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
}

} // namespace BlockingWait
