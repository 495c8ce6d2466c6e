#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Base of every error a person can see. errorDescription() is the sentence the interface shows.
class TorvelError : public std::exception {
public:
    virtual QString errorDescription() const = 0;
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// The user stopped the operation. Never shown as a failure.
class CancellationError : public TorvelError {
public:
    QString errorDescription() const override;
};

// A file-system, network or decoding failure, carrying the platform's own description unchanged.
class PlatformError : public TorvelError {
public:
    explicit PlatformError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

// The description of any exception, for the places that turn outcomes into published text.
QString describeError(const std::exception &error);
