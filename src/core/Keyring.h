#pragma once

#include <QString>

#include <memory>
#include <optional>

// A place for secrets outside the settings file: the desktop's keyring. The settings keep the
// remembered password there when one answers; a keyring that cannot be reached is no failure, the
// caller then keeps the secret where it kept it before.
class Keyring
{
public:
    virtual ~Keyring() = default;

    // The text kept under the key; nothing when the keyring has no such entry or cannot be asked.
    virtual std::optional<QString> read(const QString &key) = 0;

    // True when the keyring holds exactly this text under the key afterwards.
    virtual bool write(const QString &key, const QString &text) = 0;

    // The desktop's keyring (the Secret Service on Linux, the Keychain on macOS, the Credential
    // Manager on Windows, through QtKeychain), its entries filed under the service name. Each
    // request waits at most timeoutMs, without handling the user's input meanwhile; a keyring
    // that does not answer in time, or fails, counts as none for the rest of the run, so that a
    // missing or stuck one costs that wait at most once.
    static std::unique_ptr<Keyring> desktop(const QString &service, int timeoutMs = 5000);
};
