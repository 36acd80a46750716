// Decryption of password-encrypted ACE databases: the real files of jackcess-encrypt and
// mdb-reader open with libmdb once decrypted; wrong, empty and damaged input is refused cleanly;
// the key derivations match values computed independently (Python hashlib).

#include "engine/DatabaseHeader.h"
#include "engine/crypto/MiniXml.h"
#include "engine/crypto/OfficeCrypto.h"
#include "engine/crypto/OfficeCryptoDetail.h"
#include "support/TestSupport.h"

#include <mdbtools.h>
#include <openssl/evp.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>
#include <numeric>

using namespace Engine;
using namespace Engine::OfficeCryptoDetail;
using Page = std::vector<std::uint8_t>;

Q_DECLARE_METATYPE(Engine::OfficeCryptoScheme)

namespace {

constexpr std::size_t kInfoOffset = 0x299;
constexpr const char *kRc4File = "jahlborn+jackcessencrypt/src/test/data/db2007-oldenc.accdb";
constexpr const char *kAgileFile = "jahlborn+jackcessencrypt/src/test/data/db2007-enc.accdb";
constexpr const char *kNonStandardFile = "jahlborn+jackcessencrypt/src/test/data/db-nonstandard.accdb";

using TestSupport::realFile;

#define REQUIRE_REAL_FILE(path, relative)                                                                              \
    const QString path = realFile(relative);                                                                           \
    if (path.isEmpty())                                                                                                \
        STRUDEX_WITHOUT_FIXTURE("the real-world encrypted files (fixtures/real) are not available");

Page firstPage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(4096);
    return Page(bytes.begin(), bytes.end());
}

std::uint32_t encodingKeyOf(const Page &page)
{
    return readDatabaseHeader(page, page.size()).encodingKey;
}

QByteArray infoOf(const Page &page)
{
    const int length = page[kInfoOffset] | page[kInfoOffset + 1] << 8;
    return QByteArray(reinterpret_cast<const char *>(page.data()) + kInfoOffset + 2, length);
}

// The page with another encryption header (and its length) in place of the original.
Page withInfo(Page page, const QByteArray &info, int declaredLength = -1)
{
    const int length = declaredLength < 0 ? int(info.size()) : declaredLength;
    page[kInfoOffset] = std::uint8_t(length);
    page[kInfoOffset + 1] = std::uint8_t(length >> 8);
    std::fill(page.begin() + kInfoOffset + 2, page.end(), std::uint8_t{0});
    std::copy_n(info.begin(), std::min<qsizetype>(info.size(), qsizetype(page.size() - kInfoOffset - 2)),
                page.begin() + kInfoOffset + 2);
    return page;
}

void putU32(QByteArray &bytes, int offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char(value >> (8 * i));
}

std::uint32_t getU32(const QByteArray &bytes, int offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

// "ok", or the kind of OfficeCryptoError the call throws, or the text of any other exception.
QString outcome(const std::function<void()> &call)
{
    try {
        call();
    } catch (const OfficeCryptoError &error) {
        switch (error.kind()) {
        case OfficeCryptoError::Kind::WrongPassword:
            return "WrongPassword";
        case OfficeCryptoError::Kind::UnsupportedScheme:
            return "UnsupportedScheme";
        case OfficeCryptoError::Kind::Damaged:
            return "Damaged";
        case OfficeCryptoError::Kind::System:
            return QString("System: ") + error.what();
        }
    } catch (const std::exception &error) {
        return QString("unexpected exception: ") + error.what();
    }
    return "ok";
}

QString openOutcome(const Page &page, std::uint32_t key, const char *password)
{
    return outcome([&] { PageDecryptor decryptor(page, key, password); });
}

QStringList userTables(MdbHandle *mdb)
{
    QStringList tables;
    if (!mdb)
        return {"<mdb_open failed>"};
    if (mdb_read_catalog(mdb, MDB_TABLE)) {
        for (unsigned i = 0; i < mdb->num_catalog; ++i) {
            auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
            if (entry->object_type == MDB_TABLE && !mdb_is_system_table(entry))
                tables << QString::fromUtf8(entry->object_name);
        }
    } else {
        tables << "<no catalog>";
    }
    mdb_close(mdb);
    return tables;
}

QByteArray hex(ByteView bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())).toHex();
}

Bytes aesEcbEncrypt(ByteView key, ByteView data)
{
    Bytes out(data.size());
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &written, data.data(), int(data.size()));
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

} // namespace

class TestOfficeCrypto : public QObject
{
    Q_OBJECT

private slots:
    void realFiles_data();
    void realFiles();
    void wrongPasswords_data();
    void wrongPasswords();
    void notOfficeEncrypted();
    void damagedAgileHeader_data();
    void damagedAgileHeader();
    void toleratedAgileHeader();
    void damagedBinaryHeader_data();
    void damagedBinaryHeader();
    void randomDamage();
    void standardAesRoundTrip();
    void keyDerivation();
    void passwordEncoding();
    void base64();
    void hostileXml_data();
    void hostileXml();
};

void TestOfficeCrypto::realFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    QTest::addColumn<OfficeCryptoScheme>("scheme");
    QTest::addColumn<QStringList>("tables");

    const QString jackcess = "jahlborn+jackcessencrypt/src/test/data/";
    const QString mdbReader = "andipaetzold+mdb-reader/test/";
    QTest::newRow("RC4 CryptoAPI 40-bit") << jackcess + "db2007-oldenc.accdb"
                                          << "Test123" << OfficeCryptoScheme::Rc4CryptoApi << QStringList{"Table1"};
    QTest::newRow("Agile AES-128 SHA-1") << jackcess + "db2007-enc.accdb"
                                         << "Test123" << OfficeCryptoScheme::Agile << QStringList{"Table1"};
    QTest::newRow("Agile AES-256 SHA-512") << jackcess + "db2013-enc.accdb"
                                           << "1234" << OfficeCryptoScheme::Agile << QStringList{"Customers"};
    QTest::newRow("non-standard AES") << jackcess + "db-nonstandard.accdb"
                                      << "password" << OfficeCryptoScheme::NonStandardAes << QStringList{"Table_One"};
    QTest::newRow("RC4 CryptoAPI 128-bit") << mdbReader + "encryption/data/office-agile-4.2.accdb"
                                           << "password" << OfficeCryptoScheme::Rc4CryptoApi << QStringList{"Table1"};
    QTest::newRow("Agile (mdb-reader)") << mdbReader + "encryption/data/office-agile-4.4.accdb"
                                        << "password" << OfficeCryptoScheme::Agile << QStringList{"Table1"};
    QTest::newRow("Agile V2010 password") << mdbReader + "password/data/V2010_with-password.accdb"
                                          << "password" << OfficeCryptoScheme::Agile << QStringList{"Table1"};
}

void TestOfficeCrypto::realFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(OfficeCryptoScheme, scheme);
    QFETCH(QStringList, tables);
    REQUIRE_REAL_FILE(path, file);

    const Page page = firstPage(path);
    const std::uint32_t key = encodingKeyOf(page);
    QVERIFY(key != 0);
    QCOMPARE(inspectOfficeCrypto(page, key).scheme, scheme);

    PageDecryptor decryptor(page, key, password.toStdString());
    QCOMPARE(decryptor.info().scheme, scheme);

    // The image libmdb reads from memory.
    std::vector<std::uint8_t> image = decryptDatabaseImage(path.toStdString(), decryptor);
    QCOMPARE(qint64(image.size()), QFileInfo(path).size());
    // Page 1 as an independent implementation (Python) decrypted it.
    QCOMPARE(hex(std::span(image).subspan(4096, 16)), QByteArray("0101640f01000000000000000200bb0f"));
    // Page 0: the same header, but libmdb must see no encoding key.
    const Page plainZero(image.begin(), image.begin() + 4096);
    const DatabaseHeader plainHeader = readDatabaseHeader(plainZero, image.size());
    QVERIFY(plainHeader.valid());
    QCOMPARE(plainHeader.encodingKey, 0u);
    QCOMPARE(plainHeader.version, readDatabaseHeader(page, page.size()).version);
    QCOMPARE(userTables(mdb_open_buffer(image.data(), image.size(), MDB_NOFLAGS)), tables);

    // The same image as a memory-only file.
    const MemoryFile memory = decryptDatabaseToMemoryFile(path.toStdString(), decryptor);
    QVERIFY(memory.valid());
    QCOMPARE(QFileInfo(QString::fromStdString(memory.path())).size(), qint64(image.size()));
    QCOMPARE(userTables(mdb_open(memory.path().c_str(), MDB_NOFLAGS)), tables);

    // Page 0 is never touched; pages must be whole blocks.
    Page copy = page;
    decryptor.decryptPage(0, copy);
    QVERIFY(copy == page);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, decryptor.decryptPage(1, std::span(copy).first(100)));
}

void TestOfficeCrypto::wrongPasswords_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    const std::pair<const char *, const char *> files[] = {
        {kRc4File, "Test123"},
        {kAgileFile, "Test123"},
        {"jahlborn+jackcessencrypt/src/test/data/db2013-enc.accdb", "1234"},
        {kNonStandardFile, "password"},
        {"andipaetzold+mdb-reader/test/encryption/data/office-agile-4.2.accdb", "password"},
    };
    for (const auto &[file, right] : files) {
        const QString name = QFileInfo(file).fileName();
        QTest::addRow("%s empty", qPrintable(name)) << file << "";
        QTest::addRow("%s wrong", qPrintable(name)) << file << "wrong";
        const QString upper = QString(right).toUpper();
        QTest::addRow("%s case or shorter", qPrintable(name)) << file << (upper != right ? upper : upper.chopped(1));
        QTest::addRow("%s longer", qPrintable(name)) << file << QString(right) + " ";
    }
}

void TestOfficeCrypto::wrongPasswords()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    REQUIRE_REAL_FILE(path, file);
    const Page page = firstPage(path);
    QCOMPARE(openOutcome(page, encodingKeyOf(page), password.toUtf8().constData()), "WrongPassword");
}

void TestOfficeCrypto::notOfficeEncrypted()
{
    REQUIRE_REAL_FILE(jetEncoded, "jahlborn+jackcessencrypt/src/test/data/db-enc.mdb");
    REQUIRE_REAL_FILE(agilePath, kAgileFile);
    const Page jet = firstPage(jetEncoded);
    QVERIFY(encodingKeyOf(jet) != 0);
    QCOMPARE(inspectOfficeCrypto(jet, encodingKeyOf(jet)).scheme, OfficeCryptoScheme::None);
    const Page agile = firstPage(agilePath);
    QCOMPARE(inspectOfficeCrypto(agile, 0).scheme, OfficeCryptoScheme::None);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, PageDecryptor(agile, 0, "Test123"));
}

void TestOfficeCrypto::damagedAgileHeader_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("expected");
    // Edits of the XML of db2007-enc.accdb (AES-128, SHA-1, spinCount 100000).
    QTest::newRow("spinCount above the cap")
        << QByteArray("spinCount=\"100000\"") << QByteArray("spinCount=\"10000001\"") << "Damaged";
    QTest::newRow("spinCount overflow") << QByteArray("spinCount=\"100000\"")
                                        << QByteArray("spinCount=\"99999999999999999999\"") << "Damaged";
    QTest::newRow("spinCount negative") << QByteArray("spinCount=\"100000\"") << QByteArray("spinCount=\"-1\"")
                                        << "Damaged";
    QTest::newRow("salt not base64") << QByteArray("x8auqBWN") << QByteArray("x8au*BWN") << "Damaged";
    QTest::newRow("salt base64 cut") << QByteArray("x8auqBWNRtGDHQwze+aBVg==") << QByteArray("x8auqBWNRtGDHQwze+aBV")
                                     << "Damaged";
    QTest::newRow("salt size") << QByteArray("saltSize=\"16\"") << QByteArray("saltSize=\"17\"") << "Damaged";
    QTest::newRow("key size") << QByteArray("keyBits=\"128\"") << QByteArray("keyBits=\"100\"") << "Damaged";
    QTest::newRow("hash size") << QByteArray("hashSize=\"20\"") << QByteArray("hashSize=\"64\"") << "Damaged";
    QTest::newRow("block size") << QByteArray("blockSize=\"16\"") << QByteArray("blockSize=\"8\"") << "Damaged";
    QTest::newRow("unknown hash") << QByteArray("\"SHA1\"") << QByteArray("\"SHA3\"") << "Damaged";
    QTest::newRow("MD5") << QByteArray("\"SHA1\"") << QByteArray("\"MD5\"") << "UnsupportedScheme";
    QTest::newRow("RC2") << QByteArray("\"AES\"") << QByteArray("\"RC2\"") << "UnsupportedScheme";
    QTest::newRow("CFB") << QByteArray("ChainingModeCBC") << QByteArray("ChainingModeCFB") << "UnsupportedScheme";
    QTest::newRow("certificate only")
        << QByteArray("uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password")
        << QByteArray("uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate") << "UnsupportedScheme";
    QTest::newRow("empty key value") << QByteArray("encryptedKeyValue=\"o0cj94OxoyHGQ6CDwqTdBg==\"")
                                     << QByteArray("encryptedKeyValue=\"\"") << "Damaged";
    QTest::newRow("key value not whole blocks")
        << QByteArray("o0cj94OxoyHGQ6CDwqTdBg==") << QByteArray("o0cj94OxoyHGQ6CD") << "Damaged";
    QTest::newRow("missing attribute") << QByteArray(" encryptedVerifierHashInput=")
                                       << QByteArray(" encryptedVerifierHashInpuX=") << "Damaged";
    QTest::newRow("mismatched end tag") << QByteArray("</keyEncryptors>") << QByteArray("</keyEncryptor>") << "Damaged";
    QTest::newRow("entity declaration") << QByteArray("?>\r\n<encryption")
                                        << QByteArray("?><!DOCTYPE e [<!ENTITY a \"aaaa\">]><encryption") << "Damaged";
    QTest::newRow("undeclared prefix") << QByteArray("<p:encryptedKey") << QByteArray("<q:encryptedKey") << "Damaged";
    QTest::newRow("wrong namespace") << QByteArray("2006/encryption\"") << QByteArray("2007/encryption\"") << "Damaged";
    QTest::newRow("reserved field") << QByteArray("\x40\0\0\0<?xml", 9) << QByteArray("\x41\0\0\0<?xml", 9)
                                    << "Damaged";
    QTest::newRow("version 1.1") << QByteArray("\x04\0\x04\0", 4) << QByteArray("\x01\0\x01\0", 4)
                                 << "UnsupportedScheme";
    QTest::newRow("version 4.3") << QByteArray("\x04\0\x04\0", 4) << QByteArray("\x04\0\x03\0", 4)
                                 << "UnsupportedScheme";
    QTest::newRow("version 7.7") << QByteArray("\x04\0\x04\0", 4) << QByteArray("\x07\0\x07\0", 4)
                                 << "UnsupportedScheme";
}

void TestOfficeCrypto::damagedAgileHeader()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, expected);
    REQUIRE_REAL_FILE(path, kAgileFile);
    const Page page = firstPage(path);
    QByteArray info = infoOf(page);
    QVERIFY2(info.contains(from), from.constData());
    info.replace(info.indexOf(from), from.size(), to);
    QCOMPARE(openOutcome(withInfo(page, info), encodingKeyOf(page), "Test123"), expected);
}

void TestOfficeCrypto::toleratedAgileHeader()
{
    // What the XML format allows keeps working: comments, spaces, references, single quotes,
    // another prefix, trailing NULs; the message for an unreadable method names it.
    REQUIRE_REAL_FILE(path, kAgileFile);
    const Page page = firstPage(path);
    QByteArray info = infoOf(page);
    info.replace("<keyEncryptors>", "<!-- note --><keyEncryptors >");
    info.replace("cipherAlgorithm=\"AES\"", "cipherAlgorithm = '&#65;E&#x53;'");
    info.replace("<p:", "<pw:");
    info.replace("xmlns:p=", "xmlns:p=\"x\" xmlns:pw=");
    info.append(QByteArray(8, '\0'));
    QCOMPARE(openOutcome(withInfo(page, info), encodingKeyOf(page), "Test123"), "ok");

    QByteArray binaryRc4 = infoOf(page);
    binaryRc4[0] = 1;
    binaryRc4[2] = 1;
    try {
        PageDecryptor decryptor(withInfo(page, binaryRc4), encodingKeyOf(page), "Test123");
        QFAIL("version 1.1 accepted");
    } catch (const OfficeCryptoError &error) {
        QCOMPARE(error.kind(), OfficeCryptoError::Kind::UnsupportedScheme);
        QCOMPARE(QString(error.what()),
                 "This database is encrypted with Office binary RC4 (version 1.1), which Strudex cannot read.");
    }
}

void TestOfficeCrypto::damagedBinaryHeader_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("offset"); // of a uint32 in the encryption header; -1: the declared length
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QString>("expected");
    // Layout: version 0, flags 4, header size 8, header 12 (flags, extra, algorithm 20, hash 24,
    // key bits 28, ...); then the salt size, salt, verifier, verifier hash size and hash.
    QTest::newRow("length beyond the page") << kRc4File << -1 << 0xFFFFu << "Damaged";
    QTest::newRow("length too small") << kRc4File << -1 << 3u << "Damaged";
    QTest::newRow("length cut in the header") << kRc4File << -1 << 60u << "Damaged";
    QTest::newRow("length cut in the verifier") << kRc4File << -1 << 160u << "Damaged";
    QTest::newRow("header size huge") << kRc4File << 8 << 0xFFFFFFF0u << "Damaged";
    QTest::newRow("header size small") << kRc4File << 8 << 8u << "Damaged";
    QTest::newRow("hash not SHA-1") << kRc4File << 24 << 0x800Cu << "Damaged";
    QTest::newRow("RC4 key 1000 bits") << kRc4File << 28 << 1000u << "Damaged";
    QTest::newRow("RC4 key 44 bits") << kRc4File << 28 << 44u << "Damaged";
    QTest::newRow("no CryptoAPI flag") << kRc4File << 4 << 0u << "UnsupportedScheme";
    QTest::newRow("unknown algorithm") << kRc4File << 20 << 0x1234u << "UnsupportedScheme";
    QTest::newRow("AES key size mismatch") << kNonStandardFile << 28 << 128u << "Damaged";
    // The AES flag turns the non-standard method into Standard, whose 50,000 rounds give other keys.
    QTest::newRow("AES flag") << kNonStandardFile << 4 << 0x2Cu << "WrongPassword";
}

void TestOfficeCrypto::damagedBinaryHeader()
{
    QFETCH(QString, file);
    QFETCH(int, offset);
    QFETCH(quint32, value);
    QFETCH(QString, expected);
    REQUIRE_REAL_FILE(path, file);
    const Page page = firstPage(path);
    QByteArray info = infoOf(page);
    if (offset >= 0)
        putU32(info, offset, value);
    const Page damaged = withInfo(page, info, offset < 0 ? int(value) : -1);
    QCOMPARE(openOutcome(damaged, encodingKeyOf(page), file == kRc4File ? "Test123" : "password"), expected);
}

void TestOfficeCrypto::randomDamage()
{
    // Flipped bytes anywhere in the encryption header: refused or (in bytes nobody reads) accepted,
    // never a crash. Run under the sanitizers to prove it.
    QRandomGenerator random(20240607);
    for (const auto &sample :
         {std::pair{kAgileFile, "Test123"}, std::pair{kRc4File, "Test123"}, std::pair{kNonStandardFile, "password"}}) {
        const char *password = sample.second;
        REQUIRE_REAL_FILE(path, sample.first);
        const Page page = firstPage(path);
        const std::uint32_t key = encodingKeyOf(page);
        const int length = int(infoOf(page).size());
        for (int round = 0; round < 150; ++round) {
            Page damaged = page;
            for (int flips = 1 + random.bounded(3); flips > 0; --flips)
                damaged[kInfoOffset + 2 + random.bounded(length)] ^= std::uint8_t(1 + random.bounded(255));
            const QString result = outcome([&] {
                PageDecryptor decryptor(damaged, key, password);
                Page probe(4096, 0);
                decryptor.decryptPage(1, probe);
            });
            QVERIFY2(result == "ok" || result == "WrongPassword" || result == "Damaged" ||
                         result == "UnsupportedScheme",
                     qPrintable(result));
        }
    }
}

void TestOfficeCrypto::standardAesRoundTrip()
{
    // No real file uses Standard AES, so make one from the non-standard file: set the AES flag,
    // then encrypt the verifier and the pages as the Standard method wants (50,000 rounds).
    REQUIRE_REAL_FILE(path, kNonStandardFile);
    const Page page = firstPage(path);
    const std::uint32_t key = encodingKeyOf(page);
    PageDecryptor original(page, key, "password");
    const std::vector<std::uint8_t> plain = decryptDatabaseImage(path.toStdString(), original);

    QByteArray info = infoOf(page);
    putU32(info, 4, getU32(info, 4) | 0x20);
    putU32(info, 12, getU32(info, 12) | 0x20);
    const int verifierAt = 12 + int(getU32(info, 8));
    const Bytes salt(info.begin() + verifierAt + 4, info.begin() + verifierAt + 20);
    Hasher sha1(HashAlgorithm::Sha1);
    const Bytes password = passwordBytes("password");
    const Bytes iterated = iteratedHash(sha1, salt, password, 50000);
    const Bytes blockZero(4, 0);
    const Bytes verifierKey = cryptoApiAesKey(sha1, iterated, blockZero, 32);
    const Bytes verifier(16, 0xA5);
    Bytes verifierHash = sha1.hash({verifier});
    verifierHash.resize(32, 0);
    const Bytes encryptedVerifier = aesEcbEncrypt(verifierKey, verifier);
    const Bytes encryptedHash = aesEcbEncrypt(verifierKey, verifierHash);
    std::copy(encryptedVerifier.begin(), encryptedVerifier.end(), info.begin() + verifierAt + 20);
    std::copy(encryptedHash.begin(), encryptedHash.end(), info.begin() + verifierAt + 40);
    const Page standardPage = withInfo(page, info);

    PageDecryptor standard(standardPage, key, "password");
    QCOMPARE(standard.info().scheme, OfficeCryptoScheme::StandardAes);
    for (std::uint32_t n = 1; n < plain.size() / 4096; ++n) {
        const ByteView clear = std::span(plain).subspan(n * 4096, 4096);
        Bytes encrypted = aesEcbEncrypt(cryptoApiAesKey(sha1, iterated, pageBlockKey(key, n), 32), clear);
        standard.decryptPage(n, encrypted);
        QVERIFY2(std::equal(encrypted.begin(), encrypted.end(), clear.begin()), qPrintable(QString::number(n)));
    }
    QCOMPARE(openOutcome(standardPage, key, "Password"), "WrongPassword");
}

void TestOfficeCrypto::keyDerivation()
{
    // Expected values from Python's hashlib, for password "Strudex-Paß€" and salt 00 01 .. 0f.
    Bytes salt(16);
    std::iota(salt.begin(), salt.end(), std::uint8_t{0});
    const Bytes password = passwordBytes("Strudex-Pa\u00df\u20ac");
    QCOMPARE(hex(password), QByteArray("53007400720075006400650078002d0050006100df00ac20"));
    const auto block = pageBlockKey(0xa1b2c3d4, 7);
    QCOMPARE(hex(block), QByteArray("d3c3b2a1"));

    Hasher sha512(HashAlgorithm::Sha512);
    const Bytes iterated512 = iteratedHash(sha512, salt, password, 100000);
    QCOMPARE(hex(iterated512), QByteArray("2035efd10abe93cb729b4b3a367f6aeffd4c84944b6bab899b0eaccd2803329c"
                                          "1f0af618e2b31a55a8507413556d688c20926e7f76b91cb3bd744c7a329926c0"));
    QCOMPARE(hex(agileKey(sha512, iterated512, kAgileVerifierInputBlock, 32)),
             QByteArray("f15fd56a4f0f6f68d31983dc1d347447bbba3126f98028eed2c2396d9c1305a4"));
    Bytes keyDataSalt(16);
    std::iota(keyDataSalt.begin(), keyDataSalt.end(), std::uint8_t{100});
    QCOMPARE(hex(agileIv(sha512, keyDataSalt, block, 16)), QByteArray("c1cc17bf5ce42695f086295058862271"));

    Hasher sha1(HashAlgorithm::Sha1);
    const Bytes iterated1 = iteratedHash(sha1, salt, password, 100000);
    QCOMPARE(hex(iterated1), QByteArray("c7ee5b464232701fadd0d581131eabb46b7d1a0a"));
    // A key longer than the hash is padded with 0x36.
    QCOMPARE(hex(agileKey(sha1, iterated1, kAgileKeyValueBlock, 32)),
             QByteArray("14e389cdbda14902a18ce8d1289aa008844ae886363636363636363636363636"));

    const Bytes standard = iteratedHash(sha1, salt, password, kStandardAesSpinCount);
    QCOMPARE(hex(standard), QByteArray("e57fbf95f41c7c72ac017657c1067173099a90ed"));
    QCOMPARE(hex(cryptoApiAesKey(sha1, standard, block, 32)),
             QByteArray("f5449bfb663371603b6c518efd2bf03e25ae412a9df1cf4bdb277188e40724a3"));
    QCOMPARE(hex(cryptoApiAesKey(sha1, standard, block, 16)), QByteArray("f5449bfb663371603b6c518efd2bf03e"));

    const Bytes base = iteratedHash(sha1, salt, password, 0);
    QCOMPARE(hex(base), QByteArray("8c2342055077218a0f4c9be3b411566e8c1481ed"));
    QCOMPARE(hex(rc4CryptoApiKey(sha1, base, block, 40)), QByteArray("86f78352830000000000000000000000"));
    QCOMPARE(hex(rc4CryptoApiKey(sha1, base, block, 56)), QByteArray("86f78352839207"));
    QCOMPARE(hex(rc4CryptoApiKey(sha1, base, block, 128)), QByteArray("86f78352839207d8ff75706314d190b3"));
}

void TestOfficeCrypto::passwordEncoding()
{
    QCOMPARE(hex(passwordBytes("")), QByteArray());
    QCOMPARE(hex(passwordBytes("\xF0\x9F\x94\x91")), QByteArray("3dd811dd")); // U+1F511, a surrogate pair
    QCOMPARE(hex(passwordBytes("a\xFF"
                               "b")),
             QByteArray("6100fdff6200"));                             // invalid UTF-8
    QCOMPARE(hex(passwordBytes("\xC0\xAF")), QByteArray("fdfffdff")); // overlong
    QCOMPARE(passwordBytes(std::string(300, 'x')).size(), std::size_t(510));
    // The pair that would be the 255th and 256th unit is dropped whole.
    QCOMPARE(passwordBytes(std::string(254, 'x') + "\xF0\x9F\x94\x91").size(), std::size_t(508));
}

void TestOfficeCrypto::base64()
{
    QCOMPARE(hex(decodeBase64("")), QByteArray());
    QCOMPARE(hex(decodeBase64("TWFu")), QByteArray("4d616e"));
    QCOMPARE(hex(decodeBase64("TWE=")), QByteArray("4d61"));
    QCOMPARE(hex(decodeBase64("TQ==")), QByteArray("4d"));
    QCOMPARE(hex(decodeBase64("+/+/")), QByteArray("fbffbf"));
    for (const char *bad : {"TWF", "TW=u", "T===", "====", "TQ==TWFu", "TWF\n", "TW u", "TWF-"})
        QCOMPARE(outcome([&] { decodeBase64(bad); }), "Damaged");
}

void TestOfficeCrypto::hostileXml_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("text only") << QByteArray("hello");
    QTest::newRow("unterminated") << QByteArray("<a><b/>");
    QTest::newRow("unterminated tag") << QByteArray("<a b=\"1\"");
    QTest::newRow("unterminated value") << QByteArray("<a b=\"1/>");
    QTest::newRow("unterminated comment") << QByteArray("<a><!-- </a>");
    QTest::newRow("two roots") << QByteArray("<a/><b/>");
    QTest::newRow("mismatch") << QByteArray("<a></b>");
    QTest::newRow("duplicate attribute") << QByteArray("<a x='1' x='2'/>");
    QTest::newRow("no space between attributes") << QByteArray("<a x='1'y='2'/>");
    QTest::newRow("unquoted") << QByteArray("<a x=1/>");
    QTest::newRow("lt in value") << QByteArray("<a x='<'/>");
    QTest::newRow("unknown entity") << QByteArray("<a x='&foo;'/>");
    QTest::newRow("NUL reference") << QByteArray("<a x='&#0;'/>");
    QTest::newRow("surrogate reference") << QByteArray("<a x='&#xD800;'/>");
    QTest::newRow("huge reference") << QByteArray("<a x='&#99999999999;'/>");
    QTest::newRow("doctype") << QByteArray("<!DOCTYPE a [<!ENTITY b 'c'>]><a/>");
    QTest::newRow("undeclared prefix") << QByteArray("<p:a/>");
    QTest::newRow("two colons") << QByteArray("<a:b:c xmlns:a='u'/>");
    QTest::newRow("too deep") << QByteArray("<a>").repeated(40) + QByteArray("</a>").repeated(40);
    QTest::newRow("too many elements") << "<a>" + QByteArray("<b/>").repeated(2000) + "</a>";
}

void TestOfficeCrypto::hostileXml()
{
    QFETCH(QByteArray, xml);
    QVERIFY_THROWS_EXCEPTION(XmlError, parseXml(std::string_view(xml.constData(), std::size_t(xml.size()))));
}

QTEST_GUILESS_MAIN(TestOfficeCrypto)
#include "tst_officecrypto.moc"
