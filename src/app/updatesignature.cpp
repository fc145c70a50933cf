#include "updatesignature.h"

#include "appcast.h"

#include <QFile>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>

namespace lumivale::updatesignature {
namespace {

constexpr qsizetype kPublicKeyBytes = 32;
constexpr qsizetype kSignatureBytes = 64;

struct PKeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<EVP_PKEY, PKeyFree> publicKeyFrom(const QByteArray &raw)
{
    std::unique_ptr<EVP_PKEY, PKeyFree> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(raw.constData()),
        size_t(raw.size())));
    if (!key)
        ERR_clear_error();
    return key;
}

std::optional<QByteArray> strictBase64(QByteArrayView text)
{
    auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toByteArray(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace

std::optional<QByteArray> decodePublicKey(const QString &base64)
{
    const std::optional<QByteArray> raw = strictBase64(base64.toLatin1());
    if (!raw || raw->size() != kPublicKeyBytes || !publicKeyFrom(*raw))
        return std::nullopt;
    return raw;
}

std::optional<QByteArray> decodeSignature(QByteArrayView base64)
{
    std::optional<QByteArray> raw = strictBase64(base64);
    if (!raw || raw->size() != kSignatureBytes)
        return std::nullopt;
    return raw;
}

bool isValidSignature(QByteArrayView message, const QByteArray &signature,
                      const QByteArray &publicKey)
{
    if (signature.size() != kSignatureBytes)
        return false;
    const auto key = publicKeyFrom(publicKey);
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
    if (!key || !context)
        return false;
    // Ed25519 hashes internally: no digest is named, and the message goes in
    // whole.
    const bool valid =
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(
            context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
            size_t(signature.size()), reinterpret_cast<const unsigned char *>(message.data()),
            size_t(message.size())) == 1;
    ERR_clear_error();
    return valid;
}

// Off the main thread: the whole file is hashed as part of the check.
Result<bool> verifyFile(const QString &path, const QByteArray &signature,
                        const QByteArray &publicKey)
{
    QFile file(path);
    const auto unreadable = [&] {
        return updateerror::make(updateerror::FileSystemFailure,
                                 QStringLiteral("Cannot read the downloaded update \"%1\": %2")
                                     .arg(path, file.errorString()));
    };
    if (!file.open(QIODevice::ReadOnly))
        return unreadable();
    const qint64 size = file.size();
    if (size == 0)
        return isValidSignature({}, signature, publicKey);
    const uchar *data = file.map(0, size);
    if (!data)
        return unreadable();
    return isValidSignature(QByteArrayView(reinterpret_cast<const char *>(data), size), signature,
                            publicKey);
}

} // namespace lumivale::updatesignature
