#include "Tftp.h"

#include <QtTest>

using namespace tftp;

namespace {
QByteArray Bytes(const uint8_t* p, int n) {
    return QByteArray(reinterpret_cast<const char*>(p), n);
}
QByteArray ErrorPacket(ErrorTable table, int nCode) {
    uint8_t buffer[64] = {};
    int n = BuildError(buffer, table, nCode);
    return Bytes(buffer, n);
}
} // namespace

class TestTftp : public QObject {
    Q_OBJECT
private slots:
    void errorPackets_data() {
        QTest::addColumn<int>("table");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("packet");
        auto row = [](const char* name, ErrorTable t, int code, QByteArray bytes) {
            QTest::newRow(name) << int(t) << code << bytes;
        };
        row("server 0", ErrorTable::Server, 0,
            QByteArray("\0\5\0\0Inconclusive system error\0", 30));
        row("server 1 is 19 bytes", ErrorTable::Server, 1,
            QByteArray("\0\5\0\1File not found\0", 19));
        row("server 2", ErrorTable::Server, 2, QByteArray("\0\5\0\2Access violation\0", 21));
        row("server 3", ErrorTable::Server, 3, QByteArray("\0\5\0\3Disk full\0", 14));
        row("server 4", ErrorTable::Server, 4, QByteArray("\0\5\0\4Unknown TFTP Operation\0", 27));
        row("server 5", ErrorTable::Server, 5, QByteArray("\0\5\0\5Unknown transfer ID\0", 24));
        row("server 6", ErrorTable::Server, 6, QByteArray("\0\5\0\6File already exists\0", 24));
        row("server 7 is the 30-byte option-failure packet", ErrorTable::Server, 7,
            QByteArray("\0\x08\0\0Inconclusive system error\0", 30));
        row("client 7", ErrorTable::Client, 7, QByteArray("\0\5\0\7Option negotion failure\0", 28));
        row("client 4", ErrorTable::Client, 4, QByteArray("\0\5\0\4Unknown TFTP Operation\0", 27));
    }
    void errorPackets() {
        QFETCH(int, table);
        QFETCH(int, code);
        QFETCH(QByteArray, packet);
        QCOMPARE(ErrorPacket(ErrorTable(table), code), packet);
        QVERIFY(packet.size() <= MaxErrorPacketSize());
    }

    void tablesDifferOnlyInCodeSeven() {
        for (int code = 0; code < kErrorCodes; ++code) {
            bool same = qstrcmp(ErrorText(ErrorTable::Server, code),
                                ErrorText(ErrorTable::Client, code)) == 0;
            QCOMPARE(same, code != 7);
        }
        QCOMPARE(ErrorText(ErrorTable::Server, 7), "Option negotion faulre");
    }

    void optionEntries_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("tsize 0") << QByteArray("tsize") << 0
                                 << QByteArray("tsize\0"
                                               "0\0",
                                               8);
        QTest::newRow("timeout 10") << QByteArray("timeout") << 10
                                    << QByteArray("timeout\0"
                                                  "10\0",
                                                  11);
        QTest::newRow("blksize 65464") << QByteArray("blksize") << 65464
                                       << QByteArray("blksize\0"
                                                     "65464\0",
                                                     14);
    }
    void optionEntries() {
        QFETCH(QByteArray, name);
        QFETCH(int, value);
        QFETCH(QByteArray, entry);
        uint8_t buffer[40] = {};
        int n = WriteOption(buffer, name.constData(), value);
        QCOMPARE(n, int(entry.size()));
        QCOMPARE(Bytes(buffer, n), entry);
    }

    void namesInAnyCase_data() {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("OCTET") << QByteArray("OCTET") << QByteArray(kModeOctet) << true;
        QTest::newRow("NetAscii") << QByteArray("NetAscii") << QByteArray(kModeNetascii) << true;
        QTest::newRow("BLKSIZE") << QByteArray("BLKSIZE") << QByteArray(kOptBlksize) << true;
        QTest::newRow("TSize") << QByteArray("TSize") << QByteArray(kOptTsize) << true;
        QTest::newRow("mail") << QByteArray("mail") << QByteArray(kModeOctet) << false;
        QTest::newRow("prefix") << QByteArray("octe") << QByteArray(kModeOctet) << false;
        QTest::newRow("longer") << QByteArray("octets") << QByteArray(kModeOctet) << false;
        QTest::newRow("empty") << QByteArray("") << QByteArray(kModeOctet) << false;
        // Only ASCII letters fold: '@' and '`' are not the case pair of anything.
        QTest::newRow("not letters") << QByteArray("@") << QByteArray("`") << false;
    }
    void namesInAnyCase() {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, same);
        QCOMPARE(SameNoCase(a.constData(), b.constData()), same);
    }

    void leadingDigits_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qulonglong>("value");
        QTest::newRow("69") << QByteArray("69") << 69ull;
        QTest::newRow("45s") << QByteArray("45s") << 45ull;
        QTest::newRow("x2") << QByteArray("x2") << 0ull;
        QTest::newRow("empty") << QByteArray("") << 0ull;
        QTest::newRow("leading blank") << QByteArray(" 5") << 0ull;
        QTest::newRow("huge saturates") << QByteArray("99999999999999") << 0xFFFFFFFFull;
    }
    void leadingDigits() {
        QFETCH(QByteArray, text);
        QFETCH(qulonglong, value);
        QCOMPARE(qulonglong(LeadingDigits(text)), value);
    }

    void portTexts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<unsigned>("port");
        QTest::newRow("69") << QByteArray("69") << 69u;
        QTest::newRow("1069") << QByteArray("1069") << 1069u;
        QTest::newRow("digit then letter") << QByteArray("7a") << 7u;
        QTest::newRow("zero") << QByteArray("0") << 69u;
        QTest::newRow("empty") << QByteArray("") << 69u;
        QTest::newRow("letter first") << QByteArray("a7") << 69u;
        QTest::newRow("65535") << QByteArray("65535") << 65535u;
        QTest::newRow("65536 is not cut to 0") << QByteArray("65536") << 69u;
        QTest::newRow("65605 is not cut to 69") << QByteArray("65605") << 69u;
        QTest::newRow("huge") << QByteArray("4294967365") << 69u;
    }
    void portTexts() {
        QFETCH(QByteArray, text);
        QFETCH(unsigned, port);
        QCOMPARE(PortFromText(text), port);
    }

    void optionReader_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("pairs");
        QTest::newRow("three") << QByteArray("tsize\0"
                                             "1000\0timeout\0"
                                             "5\0blksize\0"
                                             "1024\0",
                                             35)
                               << QStringList({"tsize=1000", "timeout=5", "blksize=1024"});
        QTest::newRow("stops at NUL name") << QByteArray("tsize\0"
                                                         "7\0\0blksize\0"
                                                         "9\0",
                                                         19)
                                           << QStringList({"tsize=7"});
        QTest::newRow("value cut off") << QByteArray("tsize\0"
                                                     "7\0blksize\0"
                                                     "10",
                                                     18)
                                       << QStringList({"tsize=7"});
        QTest::newRow("name cut off") << QByteArray("tsize\0"
                                                    "7\0blks",
                                                    13)
                                      << QStringList({"tsize=7"});
        QTest::newRow("byte after digits skipped whatever it is") << QByteArray("blksize\0"
                                                                                "12x\0tsize\0"
                                                                                "3\0",
                                                                                20)
                                                                  << QStringList({"blksize=12"});
        QTest::newRow("empty") << QByteArray() << QStringList();
    }
    void optionReader() {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, pairs);
        OptionReader reader(reinterpret_cast<const uint8_t*>(data.constData()), data.size());
        QStringList seen;
        OptionEntry entry;
        while (reader.Next(entry))
            seen << QString::fromLatin1(entry.name) + "=" + QString::number(entry.value);
        QCOMPARE(seen.size(), pairs.size());
        for (int i = 0; i < pairs.size(); ++i)
            QCOMPARE(seen[i].toLatin1(), pairs[i].toLatin1());
    }

    void wordsAreBigEndian() {
        uint8_t word[2];
        PutWord(word, 0x8001);
        QCOMPARE(word[0], uint8_t(0x80));
        QCOMPARE(word[1], uint8_t(0x01));
        QCOMPARE(GetWord(word), uint16_t(0x8001));
        PutWord(word, 65536); // a counter past 65535 goes out as 0
        QCOMPARE(GetWord(word), uint16_t(0));
    }
};

QTEST_GUILESS_MAIN(TestTftp)
#include "tst_tftp.moc"
