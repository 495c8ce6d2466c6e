#pragma once

#include <QByteArray>
#include <QString>

// The seal of an application bundle: the file "Signature" at its top holds an Ed25519
// signature by the maker's release key over a listing of every other file (relative path,
// permission bits, size and SHA-256; symbolic links with their target). A bundle is sound when
// the signature is good, every listed file is there unchanged and nothing unlisted is.
//
// "Signature" is text: the first line is the signature in base64, the rest is the signed
// listing, one entry per line, fields separated by tabs:
//   file <TAB> 0755 <TAB> size <TAB> sha256 <TAB> path
//   link <TAB> target <TAB> path
namespace BundleSeal {

inline constexpr char fileName[] = "Signature";

// The listing of the bundle as it is now, sorted by path. Throws AppUpdateError::commandFailed
// for files that cannot be sealed (special files, names with tabs or line ends) and
// PlatformError when a file cannot be read.
QByteArray listing(const QString &bundlePath);

// Writes the bundle's Signature with the private key (PEM, Ed25519). Throws PlatformError.
void seal(const QString &bundlePath, const QString &privateKeyPemPath);

// The raw 32-byte public key of a private key file (PEM, Ed25519). Throws PlatformError.
QByteArray publicKeyOf(const QString &privateKeyPemPath);

// Checks the bundle against its seal with the raw 32-byte public key. Throws
// AppUpdateError::commandFailed with a Spanish message naming what is wrong.
void verify(const QString &bundlePath, const QByteArray &publicKey);

} // namespace BundleSeal
