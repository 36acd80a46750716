#pragma once

#include <QString>

#include <memory>

class Keyring;

// The user's remembered choices, kept per user under the application name "Quenmar" and the
// section "Strudex Software": on Windows in the registry where Visual Basic programs keep their
// settings, elsewhere in an INI file in the user's configuration folder that only its owner may
// read. The database password goes into the desktop's keyring (service "Strudex", key
// "Password") when there is one; without one the store keeps it in clear text, as it always did,
// and a password found in the store moves into the keyring at the next save. Values come back
// exactly as written.
namespace Settings {

inline constexpr auto AppName = "Quenmar";
inline constexpr auto Section = "Strudex Software";

inline constexpr auto Database = "Database";
inline constexpr auto Password = "Password";
inline constexpr auto OutputFolder = "Output Folder";

// The keyring's name for Strudex's entries.
inline constexpr auto KeyringService = "Strudex";

// The stored text, or defaultValue when the key does not exist. A store that cannot be read or is
// damaged fails with a description of the problem; the caller keeps what it had. The password is
// the store's while the store has one (it is written there only when the keyring could not take
// it, so it is the newer), else the keyring's.
QString GetSetting(const QString &key, const QString &defaultValue = QString());

// Stores the text under the key; fails when the store cannot be written. The password goes into
// the keyring when it takes it, and leaves the store; otherwise into the store.
void SaveSetting(const QString &key, const QString &value);

// Where the values live, for the README and for messages: the INI file, or the registry key.
QString StoreLocation();

// Points the store at an INI file of the caller's choosing (tests), without a keyring, so that a
// test never touches the user's own keyring; the empty text goes back to the user's own store and
// the desktop's keyring.
void SetStoreFile(const QString &iniFile);

// The keyring for the password from now on, until the next SetStoreFile; nullptr: none, the store
// keeps it.
void SetKeyring(std::shared_ptr<Keyring> keyring);

} // namespace Settings
