#pragma once

#include <QString>

// The user's remembered choices, kept per user under the application name "Quenmar" and the
// section "Strudex Software": on Windows in the registry where Visual Basic programs keep their
// settings, elsewhere in an INI file in the user's configuration folder that only its owner may
// read (it holds the database password in clear text). Values come back exactly as written.
namespace Settings {

inline constexpr auto AppName = "Quenmar";
inline constexpr auto Section = "Strudex Software";

inline constexpr auto Database = "Database";
inline constexpr auto Password = "Password";
inline constexpr auto OutputFolder = "Output Folder";

// The stored text, or defaultValue when the key does not exist. A store that cannot be read or is
// damaged fails with a description of the problem; the caller keeps what it had.
QString GetSetting(const QString &key, const QString &defaultValue = QString());

// Stores the text under the key; fails when the store cannot be written.
void SaveSetting(const QString &key, const QString &value);

// Where the values live, for the README and for messages: the INI file, or the registry key.
QString StoreLocation();

// Points the store at an INI file of the caller's choosing (tests); the empty text goes back to
// the user's own store.
void SetStoreFile(const QString &iniFile);

} // namespace Settings
