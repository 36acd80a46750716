#pragma once

// An encrypted twin of an unencrypted Access 2007+ database, for measuring what opening an
// encrypted database costs on a file of realistic size.
//
// Making a truly new Agile header would need a random secret key and its encryption under the
// password; a real encrypted database already carries one, so the copy borrows that donor's
// encryption header and encoding key. The copy is then exactly what Access would have written
// with the donor's key material: page 0 in clear (with the donor's encryption header and encoding
// key), every other page AES-CBC with the donor's secret key and the page's own IV.

#include <filesystem>
#include <string>

namespace EncryptedCopy {

struct Donor
{
    std::filesystem::path file;
    std::string password; // ASCII
};

// Writes to target the database plain, encrypted with the donor's Agile (AES-CBC) header and
// password. Throws std::runtime_error saying what is wrong: plain already encrypted or not an ACE
// file, a donor that is not Agile AES-CBC or does not open with its password, or a page-0 area
// of plain that is in use where the encryption header goes.
void make(const std::filesystem::path &plain, const Donor &donor, const std::filesystem::path &target);

} // namespace EncryptedCopy
