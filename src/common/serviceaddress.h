#pragma once

#include "common/torvelerror.h"

#include <QProcessEnvironment>
#include <QUrl>

#include <optional>

// An address given from outside the code (an environment override of a catalog, download or
// update host) that cannot be trusted.
class ServiceAddressError : public TorvelError {
public:
    explicit ServiceAddressError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

// Where the application may fetch from: https anywhere, plain http only on this machine.
namespace ServiceAddress {

// 127.0.0.0/8 or ::1 written as an address (a name such as "localhost" does not count).
bool isLoopbackHost(const QString &host);

// https with a host, or http with a loopback host.
bool isAcceptable(const QUrl &url);

enum class Shape {
    origin,  // scheme, host and optional port: "https://mirror.example:8443"
    address, // any path allowed: "http://127.0.0.1:8080/update.json"
};

// Reads an optional override from the environment. Absent or empty: nothing. Otherwise it must
// be acceptable and of the given shape, or ServiceAddressError names the variable in Spanish.
std::optional<QUrl> override(const QProcessEnvironment &environment, const QString &variable,
                             Shape shape = Shape::origin);

} // namespace ServiceAddress
