// A VBA project's compressed streams and its directory, from bytes made here: a small compressor
// that writes copy tokens, stored chunks and chunks longer than the decoder's look-back, and
// directories with each kind of reference.

#include "engine/VbaProject.h"

#include <QTest>

#include <random>

using namespace Engine::Vba;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes &out, std::uint16_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void put32(Bytes &out, std::uint32_t v)
{
    put16(out, std::uint16_t(v));
    put16(out, std::uint16_t(v >> 16));
}

// One chunk's tokens, greedy: the longest earlier match in the chunk, as the format's encoder looks.
Bytes compressChunk(const std::uint8_t *data, std::size_t size)
{
    Bytes tokens;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t flagAt = tokens.size();
        tokens.push_back(0);
        for (int bit = 0; bit < 8 && at < size; ++bit) {
            unsigned bitCount = 4;
            while ((std::size_t(1) << bitCount) < at)
                ++bitCount;
            const std::size_t maxLength = (std::size_t(0xFFFF) >> bitCount) + 3;
            const std::size_t maxOffset = std::size_t(1) << bitCount;
            std::size_t bestLength = 0;
            std::size_t bestOffset = 0;
            for (std::size_t offset = 1; offset <= std::min(at, maxOffset); ++offset) {
                std::size_t length = 0;
                while (length < maxLength && at + length < size && data[at + length - offset] == data[at + length])
                    ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestOffset = offset;
                }
            }
            if (bestLength >= 3) {
                tokens[flagAt] |= std::uint8_t(1 << bit);
                put16(tokens, std::uint16_t(((bestOffset - 1) << (16 - bitCount)) | (bestLength - 3)));
                at += bestLength;
            } else {
                tokens.push_back(data[at++]);
            }
        }
    }
    return tokens;
}

// A container, each chunk compressed or, when asked or when compressing would not help, stored.
Bytes compress(const Bytes &data, bool stored = false)
{
    Bytes out{0x01};
    for (std::size_t start = 0; start < data.size(); start += 4096) {
        const std::size_t size = std::min<std::size_t>(4096, data.size() - start);
        const Bytes tokens = compressChunk(data.data() + start, size);
        if ((stored || tokens.size() > 4096) && size == 4096) {
            put16(out, 0x3000 | 0x0FFF);
            out.insert(out.end(), data.begin() + std::ptrdiff_t(start), data.begin() + std::ptrdiff_t(start + size));
        } else {
            put16(out, std::uint16_t(0x8000 | 0x3000 | (tokens.size() + 2 - 3)));
            out.insert(out.end(), tokens.begin(), tokens.end());
        }
    }
    return out;
}

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

void record(Bytes &out, std::uint16_t id, const Bytes &data)
{
    put16(out, id);
    put32(out, std::uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

void record(Bytes &out, std::uint16_t id, const std::string &text)
{
    record(out, id, bytesOf(text));
}

Bytes counted(const std::string &text, std::size_t tail)
{
    Bytes out;
    put32(out, std::uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), tail, 0);
    return out;
}

Bytes utf16(const std::u16string &text)
{
    Bytes out;
    for (char16_t c : text)
        put16(out, c);
    return out;
}

} // namespace

class TestVbaProject : public QObject
{
    Q_OBJECT

private slots:
    void compressedStreamsComeBackWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("stored");
        const std::string code =
            "Attribute VB_Name = \"basUtility\"\r\nOption Compare Database\r\nOption Explicit\r\n\r\n";
        std::string long_;
        for (int i = 0; long_.size() < 30000; ++i)
            long_ += code + "Public Function F" + std::to_string(i) + "() As Long\r\n    F = " + std::to_string(i * i) +
                     "\r\nEnd Function\r\n";
        std::mt19937 random(7);
        std::string noise(9000, ' ');
        for (char &c : noise)
            c = char(random());
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("short") << QByteArray("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaabcabcabcabc") << false;
        // Many chunks: copy tokens far into a chunk use fewer bits for their length.
        QTest::newRow("long code") << QByteArray::fromStdString(long_) << false;
        // Chunks that do not compress are stored as they are.
        QTest::newRow("noise") << QByteArray::fromStdString(noise) << false;
        QTest::newRow("stored chunks") << QByteArray::fromStdString(long_.substr(0, 8192 + 100)) << true;
    }
    void compressedStreamsComeBackWhole()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, stored);
        const Bytes data(text.begin(), text.end());
        const Bytes container = compress(data, stored);
        std::string problem;
        const auto out = decompress(container, problem);
        QVERIFY2(out, problem.c_str());
        QVERIFY(*out == data);
        if (text.size() > 8192 && !stored)
            QVERIFY(container.size() > 4096);
    }

    // Bytes that are no container, or that reach outside their chunk, give a reason and no text;
    // so does a container that would expand beyond the limit.
    void damagedContainersGiveReasons()
    {
        std::string problem;
        QVERIFY(!decompress(Bytes{}, problem));
        QVERIFY(!decompress(Bytes{0x02, 0x00, 0xB0}, problem));
        QVERIFY(!decompress(Bytes{0x01, 0x05}, problem));
        QCOMPARE(problem, std::string("a chunk header is cut short"));
        // A chunk header without its signature bits.
        QVERIFY(!decompress(Bytes{0x01, 0x00, 0x80, 0x00, 0x41}, problem));
        // A copy token first thing in a chunk has nothing to copy.
        QVERIFY(!decompress(Bytes{0x01, 0x02, 0xB0, 0x01, 0x00, 0x00}, problem));
        QCOMPARE(problem, std::string("a copy token reaches before the start of its chunk"));
        // A stored chunk cut short.
        Bytes stored{0x01, 0xFF, 0x3F};
        stored.insert(stored.end(), 100, 'x');
        QVERIFY(!decompress(stored, problem));

        // A couple of kilobytes that would make megabytes: each chunk of 6 bytes makes 4096, a
        // literal and one copy of it 4095 bytes long (offset 1).
        Bytes bomb{0x01};
        for (int chunk = 0; chunk < 300; ++chunk) {
            Bytes tokens{0x02, 'a'};
            put16(tokens, 4095 - 3);
            put16(bomb, std::uint16_t(0xB000 | (tokens.size() + 2 - 3)));
            bomb.insert(bomb.end(), tokens.begin(), tokens.end());
        }
        const auto small = decompress(bomb, problem, 100000);
        QVERIFY(!small);
        QVERIFY2(problem.find("expand beyond") != std::string::npos, problem.c_str());
        QVERIFY(decompress(bomb, problem, 2u << 20));
    }

    // A directory with the records Access writes: the version record that holds more than it
    // says, registered, project and control references, and modules of both kinds.
    void directoryNamesProjectReferencesAndModules()
    {
        Bytes dir;
        record(dir, 0x0001, Bytes{1, 0, 0, 0});
        record(dir, 0x0003, Bytes{0xE4, 0x04});
        record(dir, 0x0004, "VCS Testing");
        put16(dir, 0x0009);
        put32(dir, 4);
        put32(dir, 0x5E);
        put16(dir, 3);
        record(dir, 0x0016, "stdole");
        record(dir, 0x003E, utf16(u"stdole"));
        record(dir, 0x000D,
               counted("*\\G{00020430-0000-0000-C000-000000000046}#2.0#0#C:\\Windows\\stdole2.tlb#OLE Automation", 6));
        record(dir, 0x0016, "Other");
        Bytes project = counted("*\\CC:\\Data\\Other.accdb", 0);
        const Bytes relative = counted("*\\COther.accdb", 6);
        project.insert(project.end(), relative.begin(), relative.end());
        record(dir, 0x000E, project);
        record(dir, 0x0016, "MSForms");
        record(dir, 0x0033, "*\\G{0D452EE1-E08F-101A-852E-02608C4D0BB4}#2.0#0#FM20.DLL#Microsoft Forms 2.0");
        record(dir, 0x002F, counted("*\\G{twiddled}", 6));
        // The control reference's extended name belongs to it, not to a reference of its own.
        record(dir, 0x0016, "MSForms extended");
        record(dir, 0x0030, counted("*\\G{extended}", 6 + 16 + 4));
        record(dir, 0x000F, Bytes{2, 0});
        record(dir, 0x0013, Bytes{0xFF, 0xFF});
        record(dir, 0x0019, "basUtility");
        record(dir, 0x0047, utf16(u"basUtility"));
        record(dir, 0x001A, "OINPAZHQDHYQTDYUTWNDFEXCRBF_");
        record(dir, 0x0032, utf16(u"OINPAZHQDHYQTDYUTWNDFEXCRBF_"));
        record(dir, 0x0031, Bytes{0xDF, 0x16, 0, 0});
        record(dir, 0x0021, Bytes{});
        record(dir, 0x002B, Bytes{});
        record(dir, 0x0019, "Form_frmMain");
        record(dir, 0x001A, "SLKCPLHYAHJCYDZYTDPECSYGPKLM");
        record(dir, 0x0031, Bytes{0x66, 0x2A, 0, 0});
        record(dir, 0x0022, Bytes{});
        record(dir, 0x002B, Bytes{});
        record(dir, 0x0010, Bytes{});

        std::string problem;
        const auto read = readDirectory(dir, problem);
        QVERIFY2(read, problem.c_str());
        QCOMPARE(read->codePage, 1252u);
        QCOMPARE(read->projectName, std::string("VCS Testing"));
        QCOMPARE(read->references.size(), std::size_t(3));
        QCOMPARE(read->references[0].name, std::string("stdole"));
        QCOMPARE(read->references[0].unicodeName, std::string("stdole"));
        QVERIFY(read->references[0].libid.starts_with("*\\G{00020430"));
        QVERIFY(read->references[1].project);
        QCOMPARE(read->references[1].libid, std::string("*\\CC:\\Data\\Other.accdb"));
        QCOMPARE(read->references[2].name, std::string("MSForms"));
        QVERIFY(read->references[2].libid.starts_with("*\\G{0D452EE1"));
        QCOMPARE(read->modules.size(), std::size_t(2));
        QCOMPARE(read->modules[0].name, std::string("basUtility"));
        QCOMPARE(read->modules[0].streamName, std::string("OINPAZHQDHYQTDYUTWNDFEXCRBF_"));
        QCOMPARE(read->modules[0].sourceOffset, 0x16DFu);
        QVERIFY(read->modules[0].kind == ModuleKind::Standard);
        QVERIFY(read->modules[1].kind == ModuleKind::Class);

        // Cut short inside a record, the directory is refused; so is a module without its stream.
        QVERIFY(!readDirectory(std::span<const std::uint8_t>(dir).first(dir.size() - 20), problem));
        Bytes noStream;
        record(noStream, 0x0019, "basUtility");
        record(noStream, 0x0010, Bytes{});
        QVERIFY(!readDirectory(noStream, problem));
    }
};

QTEST_APPLESS_MAIN(TestVbaProject)
#include "tst_vbaproject.moc"
