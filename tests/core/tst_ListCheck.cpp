#include <run/CodePage.h>
#include <run/Identifier.h>
#include <run/ListCheck.h>

#include <QFile>
#include <QTemporaryDir>

#include <QTest>

using run::ListCheck;

class tst_ListCheck : public QObject
{
    Q_OBJECT

private slots:
    void valueAsTheDatabaseReadsIt_data();
    void valueAsTheDatabaseReadsIt();
    void findings_data();
    void findings();
};

void tst_ListCheck::valueAsTheDatabaseReadsIt_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << "42" << true << 42;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("many leading zeros") << "000000000000000000000000000012" << true << 12;
    QTest::newRow("blanks and a spaced sign") << " \t- 15\t " << true << -15;
    QTest::newRow("plus") << "+3" << true << 3;
    QTest::newRow("minus zero") << "-0" << true << 0;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("one past the largest") << "2147483648" << false << 0;
    QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("one below the smallest") << "-2147483649" << false << 0;
    QTest::newRow("far beyond 64 bits") << "99999999999999999999999" << false << 0;
    QTest::newRow("wraps to a small value in 64 bits") << "18446744073709551623" << false << 0;
}

void tst_ListCheck::valueAsTheDatabaseReadsIt()
{
    QFETCH(QString, field);
    QFETCH(bool, fits);
    QFETCH(int, value);
    const QByteArray bytes = field.toUtf8();
    const std::optional<db::Number> number = run::identifierValue(bytes);
    QVERIFY(number.has_value());
    const std::optional<qint32> got = run::asInt32(*number);
    QCOMPARE(got.has_value(), fits);
    if (fits)
        QCOMPARE(*got, value);
}

void tst_ListCheck::findings_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QString>("codePage"); // empty: UTF-8
    QTest::addColumn<QStringList>("findings");

    QTest::newRow("empty lists") << QByteArray() << QByteArray() << QString() << QStringList();
    QTest::newRow("signature alone") << QByteArray("\xEF\xBB\xBF") << QByteArray("\xEF\xBB\xBF") << QString()
                                     << QStringList();
    QTest::newRow("a final line break adds no line, a second one does")
        << QByteArray("1|a\r\n") << QByteArray("1|1|b\r\n\r\n") << QString() << QStringList{"F 2 P empty line"};
    QTest::newRow("a NUL is a problem, and the lines after it are judged")
        << QByteArray("1|a\r\n2|b\0\r\n\r\nx|y\r\n", 18) << QByteArray("1|2|c\r\n") << QString()
        << QStringList{"S 2 P NUL byte at column 4", "S 3 P empty line", "S 4 P identifier \"x\" is not a whole number",
                       "F 1 W section identifier 2 names no section; the forum would get 0"};
    QTest::newRow("a NUL at a line's start")
        << QByteArray("1|a\r\n\0" "2|b", 9) << QByteArray("1|2|c\r\n") << QString()
        << QStringList{"S 2 P NUL byte at column 1",
                       "F 1 W section identifier 2 names no section; the forum would get 0"};
    QTest::newRow("the first refused byte of a line tells")
        << QByteArray("1|a\0\xC0\r\n\xC0|b\0", 11) << QByteArray("1|1|\x98\0", 6) << QString()
        << QStringList{"S 1 P NUL byte at column 4", "S 2 P ill-formed UTF-8: byte 0xC0 at column 1",
                       "F 1 P ill-formed UTF-8: byte 0x98 at column 5"};
    QTest::newRow("a NUL in a code page") << QByteArray("1|\xC0\0\r\n", 6) << QByteArray("1|1|\x98\0", 6) << "cp1251"
                                          << QStringList{"S 1 P NUL byte at column 4",
                                                         "F 1 P undecodable in windows-1251: byte 0x98 at column 5"};
    QTest::newRow("overlong and surrogate, each on its line")
        << QByteArray("1|\xE0\x80\xAF\r\n2|\xED\xA0\x80\r\n3|ok") << QByteArray() << QString()
        << QStringList{"S 1 P ill-formed UTF-8: byte 0xE0 at column 3", "S 2 P ill-formed UTF-8: byte 0xED at column 3"};
    QTest::newRow("an ill-formed line is not judged further")
        << QByteArray("\xFF\r\n") << QByteArray("x|\xFF\r\n") << QString()
        << QStringList{"S 1 P ill-formed UTF-8: byte 0xFF at column 1", "F 1 P ill-formed UTF-8: byte 0xFF at column 3"};
    QTest::newRow("a forum with a bad identifier gets no orphan warning")
        << QByteArray("1|a\r\n") << QByteArray("x|9|b\r\n") << QString()
        << QStringList{"F 1 P identifier \"x\" is not a whole number"};
    QTest::newRow("a section refused for its range names no section")
        << QByteArray("4294967297|a\r\n") << QByteArray("1|1|b\r\n") << QString()
        << QStringList{"S 1 P identifier \"4294967297\" is out of range (-2147483648 to 2147483647)",
                       "F 1 W section identifier 1 names no section; the forum would get 0"};
    QTest::newRow("three times repeated") << QByteArray("5|a\n5|b\n6|c\n05|d\n") << QByteArray("1|5|x\n")
                                          << QString()
                                          << QStringList{"S 1 W section identifier 5 is on lines 1, 2, 4; its forums "
                                                         "would get the number of the last, 4"};
    QTest::newRow("texts keep their separators") << QByteArray("1|a|b||\r\n") << QByteArray("2|1||\r\n") << QString()
                                                 << QStringList();
    QTest::newRow("control characters in a field are shown escaped")
        << QByteArray("\x1B]0;pwned\x07|a\r\n\t4294967297\t|b\r\n") << QByteArray("1|\xC2\x9B" "1m\x7F|x\r\n")
        << QString()
        << QStringList{"S 1 P identifier \"\\x1B]0;pwned\\x07\" is not a whole number",
                       "S 2 P identifier \"\\x094294967297\\x09\" is out of range (-2147483648 to 2147483647)",
                       "F 1 P section identifier \"\\x9B1m\\x7F\" is not a whole number"};
    QTest::newRow("code page: a UTF-8 signature is text")
        << QByteArray("\xEF\xBB\xBF" "1|a\r\n") << QByteArray() << "cp1251"
        << QStringList{"S 1 P identifier \"п»ї1\" is not a whole number"};
    QTest::newRow("code page: columns count bytes")
        << QByteArray("1|\xC0\xC1\x98\r\n") << QByteArray("1|1|\x98") << "cp1251"
        << QStringList{"S 1 P undecodable in windows-1251: byte 0x98 at column 5",
                       "F 1 P undecodable in windows-1251: byte 0x98 at column 5"};
}

void tst_ListCheck::findings()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QString, codePage);
    QFETCH(QStringList, findings);
    const std::optional<run::CodePage> page =
        codePage.isEmpty() ? std::nullopt : run::CodePage::byName(codePage);
    QTemporaryDir dir;
    for (const auto &[name, bytes] : {std::pair{"s.txt", sections}, std::pair{"f.txt", forums}}) {
        QFile f(dir.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    const ListCheck check(dir.filePath("s.txt"), dir.filePath("f.txt"), page ? &*page : nullptr);
    QStringList got;
    qsizetype problems = 0;
    for (const ListCheck::Finding &f : check.findings()) {
        const bool problem = f.severity == ListCheck::Severity::Problem;
        problems += problem;
        got << QStringLiteral("%1 %2 %3 %4")
                   .arg(QLatin1String(f.list == ListCheck::List::Sections ? "S" : "F"))
                   .arg(f.line)
                   .arg(QLatin1String(problem ? "P" : "W"), f.message);
    }
    QCOMPARE(got, findings);
    QCOMPARE(check.problemCount(), problems);
    QCOMPARE(check.warningCount(), got.size() - problems);

    // Handed out as they are made, the same findings in the same order, and
    // none of them kept.
    QStringList streamed;
    const ListCheck sunk(dir.filePath("s.txt"), dir.filePath("f.txt"), page ? &*page : nullptr,
                         [&](const ListCheck::Finding &f) {
                             streamed << QStringLiteral("%1 %2 %3 %4")
                                             .arg(QLatin1String(f.list == ListCheck::List::Sections ? "S" : "F"),
                                                  QString::number(f.line),
                                                  QLatin1String(f.severity == ListCheck::Severity::Problem ? "P"
                                                                                                           : "W"),
                                                  f.message);
                         });
    QCOMPARE(streamed, findings);
    QVERIFY(sunk.findings().empty());
    QCOMPARE(sunk.problemCount(), problems);
    QCOMPARE(sunk.warningCount(), got.size() - problems);
}

QTEST_GUILESS_MAIN(tst_ListCheck)
#include "tst_ListCheck.moc"
