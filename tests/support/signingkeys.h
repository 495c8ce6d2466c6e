#pragma once

#include <QByteArray>

// OpenPGP keys made with gpg for this test process in a private GnuPG home: the key a test
// trusts, a stranger's and an expired one. Made on first use; gpg's agent is stopped when the process ends.
namespace SigningKeys {

// The trusted key's public half, armored (what TORVEL_YTDLP_SIGNING_KEY names).
QByteArray trustedPublicKey();
// A binary detached signature of data, by the trusted key or by the stranger's.
QByteArray sign(const QByteArray &data, bool trusted = true);
// The trusted public key written to a file of this process's GnuPG home; its path.
QString trustedPublicKeyFile();

// A key that expired long ago, armored, and a signature it made while it was valid.
QByteArray expiredPublicKey();
QByteArray signWithExpiredKey(const QByteArray &data);

} // namespace SigningKeys
