#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace lumivale {

// The Ed25519 check of an update against the public key this build carries,
// through OpenSSL's libcrypto. Plain functions, any thread; verifyFile() reads
// the whole file and belongs off the main thread. A bad key or signature is a
// "not valid" answer, never a crash.
namespace updatesignature {

// The raw key from its base64 text, or none when it is not a 32-byte Ed25519
// public key.
std::optional<QByteArray> decodePublicKey(const QString &base64);
// The raw signature from its base64 text, or none when it is not 64 bytes.
std::optional<QByteArray> decodeSignature(QByteArrayView base64);
// Whether `signature` (64 raw bytes) is `publicKey`'s Ed25519 signature of
// `message`.
bool isValidSignature(QByteArrayView message, const QByteArray &signature,
                      const QByteArray &publicKey);

// Whether the file at `path`, mapped into memory whole, carries a valid
// signature; fails (FileSystemFailure) when the file cannot be read.
Result<bool> verifyFile(const QString &path, const QByteArray &signature,
                        const QByteArray &publicKey);

} // namespace updatesignature
} // namespace lumivale
