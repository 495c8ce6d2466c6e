#pragma once

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>
#include <QCoroTask>

#include <exception>
#include <type_traits>
#include <variant>

// Work that can take long without waiting on a process (hashing, unpacking, decoding, copying
// across disks) runs on Qt's thread pool and is awaited, so the interface thread never stalls.
// Exceptions do not travel through a QFuture unless they are QExceptions, so the worker hands
// back what it threw and the awaiting coroutine rethrows it.
namespace Background {

// Frees what libraries keep per thread (OpenSSL's error queue and random generator): pool
// threads stay parked for later work, so that state would otherwise live until the pool ends.
void releaseThreadState();

struct ThreadStateRelease {
    ThreadStateRelease() = default;
    ThreadStateRelease(const ThreadStateRelease &) = delete;
    ThreadStateRelease &operator=(const ThreadStateRelease &) = delete;
    ~ThreadStateRelease() { releaseThreadState(); }
};

template <typename Function> QCoro::Task<std::invoke_result_t<Function>> run(Function function) {
    using Result = std::invoke_result_t<Function>;
    if constexpr (std::is_void_v<Result>) {
        QFuture<std::exception_ptr> future = QtConcurrent::run([function]() mutable -> std::exception_ptr {
            const ThreadStateRelease release;
            try {
                function();
                return {};
            } catch (...) {
                return std::current_exception();
            }
        });
        const std::exception_ptr error = co_await future;
        if (error)
            std::rethrow_exception(error);
    } else {
        using Outcome = std::variant<std::exception_ptr, Result>;
        QFuture<Outcome> future = QtConcurrent::run([function]() mutable -> Outcome {
            const ThreadStateRelease release;
            try {
                return Outcome(std::in_place_index<1>, function());
            } catch (...) {
                return Outcome(std::in_place_index<0>, std::current_exception());
            }
        });
        Outcome outcome = co_await future;
        if (outcome.index() == 0)
            std::rethrow_exception(std::get<0>(outcome));
        co_return std::move(std::get<1>(outcome));
    }
}

} // namespace Background
