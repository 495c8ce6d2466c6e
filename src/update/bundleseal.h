#pragma once

#include <QByteArray>
#include <QString>

// The seal of an application bundle: the file "Signature" at its top holds an Ed25519
// signature by the maker's release key over a listing of everything else in it (folders with
// their mode; files with their mode, size and SHA-256; symbolic links with their target). A
// bundle is sound when the signature is good, every listed item is there unchanged and nothing
// unlisted is.
//
// "Signature" is text: the first line is the signature in base64, the rest is the signed
// listing, one entry per line, sorted by path, fields separated by tabs:
//   dir <TAB> 0755 <TAB> path
//   file <TAB> 0644|0755 <TAB> size <TAB> sha256 <TAB> path
//   link <TAB> target <TAB> path
//
// Only those modes can be sealed, and only names and link targets without control characters,
// so no line can pass for another. Nothing is read through a link, and every read is bounded.
namespace BundleSeal {

inline constexpr char fileName[] = "Signature";
inline constexpr int maxDepth = 32; // folder levels below the bundle

// The listing of the bundle as it is now. Throws AppUpdateError::invalidApplication for a tree
// that cannot be sealed (special files, other modes, control characters in names or targets,
// too deep) and PlatformError when a file cannot be read.
QByteArray listing(const QString &bundlePath);

// Writes the bundle's Signature with the private key (PEM, Ed25519). Throws as listing, and
// PlatformError.
void seal(const QString &bundlePath, const QString &privateKeyPemPath);

// The raw 32-byte public key of a private key file (PEM, Ed25519). Throws PlatformError.
QByteArray publicKeyOf(const QString &privateKeyPemPath);

// Checks the bundle against its seal with the raw 32-byte public key. Throws
// AppUpdateError::invalidApplication for a tree that cannot be sealed, and
// AppUpdateError::commandFailed with a Spanish message naming what differs from the seal.
void verify(const QString &bundlePath, const QByteArray &publicKey);

} // namespace BundleSeal
