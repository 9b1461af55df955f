#include "SystemConverter.h"

#include <run/CodePage.h>

#include <QTest>

using run::CodePage;

class tst_CodePage : public QObject
{
    Q_OBJECT

private slots:
    void findsByName_data();
    void findsByName();
    void charactersFromTheCharts_data();
    void charactersFromTheCharts();
    void everyByteAgreesWithTheSystemConverter_data();
    void everyByteAgreesWithTheSystemConverter();
    void decodesToUtf8_data();
    void decodesToUtf8();
};

void tst_CodePage::findsByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("canonical"); // empty: none

    QTest::newRow("windows-1251") << "windows-1251" << "windows-1251";
    QTest::newRow("CP1251") << "CP1251" << "windows-1251";
    QTest::newRow("Win1251") << "Win1251" << "windows-1251";
    QTest::newRow("KOI8-R") << "KOI8-R" << "koi8-r";
    QTest::newRow("koi8r") << "koi8r" << "koi8-r";
    QTest::newRow("cp866") << "cp866" << "cp866";
    QTest::newRow("IBM866") << "IBM866" << "cp866";
    QTest::newRow("866") << "866" << "cp866";
    QTest::newRow("utf-8 needs no code page") << "utf-8" << QString();
    QTest::newRow("a neighbour") << "windows-1252" << QString();
    QTest::newRow("koi8-u") << "koi8-u" << QString();
    QTest::newRow("spaced") << "cp 1251" << QString();
    QTest::newRow("empty") << "" << QString();
}

void tst_CodePage::findsByName()
{
    QFETCH(QString, name);
    QFETCH(QString, canonical);
    const std::optional<CodePage> found = CodePage::byName(name);
    QCOMPARE(found.has_value(), !canonical.isEmpty());
    if (found)
        QCOMPARE(found->name(), canonical);
}

void tst_CodePage::charactersFromTheCharts_data()
{
    QTest::addColumn<QString>("codePage");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("character"); // 0: undefined

    QTest::newRow("1251 ASCII") << "windows-1251" << 0x41 << 0x41;
    QTest::newRow("1251 Ђ") << "windows-1251" << 0x80 << 0x0402;
    QTest::newRow("1251 €") << "windows-1251" << 0x88 << 0x20AC;
    QTest::newRow("1251 98 undefined") << "windows-1251" << 0x98 << 0;
    QTest::newRow("1251 ™") << "windows-1251" << 0x99 << 0x2122;
    QTest::newRow("1251 Ё") << "windows-1251" << 0xA8 << 0x0401;
    QTest::newRow("1251 Ґ") << "windows-1251" << 0xA5 << 0x0490;
    QTest::newRow("1251 ё") << "windows-1251" << 0xB8 << 0x0451;
    QTest::newRow("1251 №") << "windows-1251" << 0xB9 << 0x2116;
    QTest::newRow("1251 А") << "windows-1251" << 0xC0 << 0x0410;
    QTest::newRow("1251 я") << "windows-1251" << 0xFF << 0x044F;
    QTest::newRow("koi8 ─") << "koi8-r" << 0x80 << 0x2500;
    QTest::newRow("koi8 nbsp") << "koi8-r" << 0x9A << 0x00A0;
    QTest::newRow("koi8 ё") << "koi8-r" << 0xA3 << 0x0451;
    QTest::newRow("koi8 Ё") << "koi8-r" << 0xB3 << 0x0401;
    QTest::newRow("koi8 ©") << "koi8-r" << 0xBF << 0x00A9;
    QTest::newRow("koi8 ю") << "koi8-r" << 0xC0 << 0x044E;
    QTest::newRow("koi8 а") << "koi8-r" << 0xC1 << 0x0430;
    QTest::newRow("koi8 А") << "koi8-r" << 0xE1 << 0x0410;
    QTest::newRow("koi8 Ъ") << "koi8-r" << 0xFF << 0x042A;
    QTest::newRow("866 А") << "cp866" << 0x80 << 0x0410;
    QTest::newRow("866 п") << "cp866" << 0xAF << 0x043F;
    QTest::newRow("866 │") << "cp866" << 0xB3 << 0x2502;
    QTest::newRow("866 р") << "cp866" << 0xE0 << 0x0440;
    QTest::newRow("866 Ё") << "cp866" << 0xF0 << 0x0401;
    QTest::newRow("866 ё") << "cp866" << 0xF1 << 0x0451;
    QTest::newRow("866 №") << "cp866" << 0xFC << 0x2116;
    QTest::newRow("866 nbsp") << "cp866" << 0xFF << 0x00A0;
}

void tst_CodePage::charactersFromTheCharts()
{
    QFETCH(QString, codePage);
    QFETCH(int, byte);
    QFETCH(int, character);
    const std::optional<CodePage> page = CodePage::byName(codePage);
    QVERIFY(page);
    QCOMPARE(int(page->character(uchar(byte))), character);
    const QByteArray one(1, char(byte));
    QCOMPARE(page->firstUndefined(one), character == 0 ? 0 : -1);
}

void tst_CodePage::everyByteAgreesWithTheSystemConverter_data()
{
    QTest::addColumn<QString>("codePage");
    QTest::addColumn<QByteArray>("systemName"); // iconv's
    QTest::addColumn<uint>("systemNumber");     // Windows'
    QTest::newRow("windows-1251") << "windows-1251" << QByteArray("CP1251") << 1251u;
    QTest::newRow("koi8-r") << "koi8-r" << QByteArray("KOI8-R") << 20866u;
    QTest::newRow("cp866") << "cp866" << QByteArray("CP866") << 866u;
}

void tst_CodePage::everyByteAgreesWithTheSystemConverter()
{
    QFETCH(QString, codePage);
    QFETCH(QByteArray, systemName);
    QFETCH(uint, systemNumber);
    SystemConverter system(systemName, systemNumber);
    if (!system.ok())
        QSKIP("the system has no converter for this code page");
    const std::optional<CodePage> page = CodePage::byName(codePage);
    QVERIFY(page);
    for (int b = 0; b < 256; ++b) {
        QVERIFY2(page->character(uchar(b)) == system.character(uchar(b)),
                 qPrintable(QStringLiteral("byte 0x%1: U+%2, the system says U+%3")
                                .arg(b, 2, 16, QLatin1Char('0'))
                                .arg(int(page->character(uchar(b))), 4, 16, QLatin1Char('0'))
                                .arg(int(system.character(uchar(b))), 4, 16, QLatin1Char('0'))));
    }
}

void tst_CodePage::decodesToUtf8_data()
{
    QTest::addColumn<QString>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<int>("firstUndefined");

    QTest::newRow("empty") << "cp866" << QByteArray() << QByteArray() << -1;
    QTest::newRow("line breaks and NUL keep their bytes")
        << "windows-1251" << QByteArray("1|\xC0\r\n\0\n\r", 8) << QByteArray("1|\xD0\x90\r\n\0\n\r", 9) << -1;
    QTest::newRow("one, two and three bytes") << "windows-1251" << QByteArray("a\xE9\x88") << QByteArray("aй€") << -1;
    QTest::newRow("box drawing") << "cp866" << QByteArray("\xC9\xCD\xBB") << QByteArray("╔═╗") << -1;
    QTest::newRow("undefined dropped, found") << "windows-1251" << QByteArray("ab\x98\xC0") << QByteArray("abА") << 2;
    QTest::newRow("the same byte defined elsewhere") << "koi8-r" << QByteArray("ab\x98") << QByteArray("ab≤") << -1;
}

void tst_CodePage::decodesToUtf8()
{
    QFETCH(QString, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, utf8);
    QFETCH(int, firstUndefined);
    const std::optional<CodePage> page = CodePage::byName(codePage);
    QVERIFY(page);
    QCOMPARE(page->toUtf8(bytes), utf8);
    QCOMPARE(page->firstUndefined(bytes), qsizetype(firstUndefined));
}

QTEST_GUILESS_MAIN(tst_CodePage)
#include "tst_CodePage.moc"
