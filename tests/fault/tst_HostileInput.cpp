// Hostile lines through the whole run: each either completes with exactly the
// expected outputs, or is refused with its file and line while the previous
// outputs stay byte for byte and nothing temporary is left.
#include "ProgramDir.h"
#include "RecordingHost.h"

#include <db/DbError.h>
#include <db/Tables.h>
#include <run/ReindexRun.h>
#include <run/RunError.h>

#include <QTest>

using run::ReindexRun;

namespace {

const QByteArray oldSections = "old sections\r\n";
const QByteArray oldForums = "old forums\r\n";

const QString notUtf8 = QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке %2");
const QString nul = QStringLiteral(u"Файл \"%1\" не является текстом: нулевой байт в строке %2");
const QString notInteger = QStringLiteral(u"Файл \"%1\", строка %2: идентификатор \"%3\" не является целым числом");
const QString sectionNotInteger =
    QStringLiteral(u"Файл \"%1\", строка %2: идентификатор раздела \"%3\" не является целым числом");

// A refusal message with its line and field filled in and "%1" left for the
// input's path (one pass, so that the "%1" put in is not taken as a marker).
QString refused(const QString &pattern, int line, const QString &field = QString())
{
    if (pattern.contains(QLatin1String("%3")))
        return pattern.arg(QStringLiteral("%1"), QString::number(line), field);
    return pattern.arg(QStringLiteral("%1"), QString::number(line));
}

QByteArray utf16(const char16_t *text, bool bigEndian, bool withMark)
{
    QByteArray out;
    if (withMark)
        out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t *p = text; *p; ++p) {
        const char hi = char(*p >> 8), lo = char(*p & 0xFF);
        out += bigEndian ? QByteArray{&hi, 1} + QByteArray{&lo, 1} : QByteArray{&lo, 1} + QByteArray{&hi, 1};
    }
    return out;
}

} // namespace

class tst_HostileInput : public QObject
{
    Q_OBJECT

private slots:
    void hostileLines_data();
    void hostileLines();
};

void tst_HostileInput::hostileLines_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    // Completed: both outputs exactly. Refused: the message, %1 the full
    // path of the input named by `input`; the outputs must stay as they were.
    QTest::addColumn<QByteArray>("sectionsOut");
    QTest::addColumn<QByteArray>("forumsOut");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("input");

    const QByteArray okSection = "1|ok\r\n";
    auto refusedSections = [&](const char *name, const QByteArray &sections, const QString &message) {
        QTest::newRow(name) << sections << QByteArray("5|1|f\r\n") << QByteArray() << QByteArray() << message
                            << QStringLiteral("sections.txt");
    };
    auto refusedForums = [&](const char *name, const QByteArray &forums, const QString &message) {
        QTest::newRow(name) << okSection << forums << QByteArray() << QByteArray() << message
                            << QStringLiteral("forums.txt");
    };
    auto completed = [&](const char *name, const QByteArray &sections, const QByteArray &forums,
                         const QByteArray &sectionsOut, const QByteArray &forumsOut) {
        QTest::newRow(name) << sections << forums << sectionsOut << forumsOut << QString() << QString();
    };

    // Every class of ill-formed UTF-8, on the second line.
    const struct
    {
        const char *name;
        QByteArray bytes;
    } illFormed[] = {
        {"overlong two-byte C0", "\xC0\xAF"},
        {"overlong two-byte C1", "\xC1\xBF"},
        {"overlong three-byte", "\xE0\x80\xAF"},
        {"overlong four-byte", "\xF0\x80\x80\xAF"},
        {"high surrogate", "\xED\xA0\x80"},
        {"low surrogate", "\xED\xBF\xBF"},
        {"surrogate pair encoded one by one", "\xED\xA0\xBD\xED\xB8\x80"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"five-byte form", "\xF8\x88\x80\x80\x80"},
        {"FE byte", "\xFE"},
        {"FF byte", "\xFF"},
        {"stray continuation", "\x80"},
        {"continuation after a whole character", "\xD0\xAF\xBF"},
        {"three-byte cut short before ASCII", "\xE2\x82" "A"},
        {"four-byte cut short before CR LF", "\xF0\x9F\x98\r\n"},
    };
    for (const auto &c : illFormed)
        refusedSections(c.name, okSection + "2|x" + c.bytes + "y\r\n3|z\r\n", refused(notUtf8, 2));
    refusedSections("cut short at the end of the file", okSection + "2|\xE2\x82", refused(notUtf8, 2));
    refusedSections("half a signature", "\xEF\xBB", refused(notUtf8, 1));
    refusedSections("signature, then ill-formed", "\xEF\xBB\xBF\xFF|x\r\n", refused(notUtf8, 1));
    refusedForums("ill-formed in the forum list", "5|1|a\r\n6|1|b\r\n7|1|\xC0\xAF\r\n", refused(notUtf8, 3));

    // The line named is counted as the loader counts lines.
    refusedSections("line counted after a lone CR", "1|a\r2|\xFF", refused(notUtf8, 2));
    refusedSections("line counted after LF CR", "1|a\n\r2|\xFF", refused(notUtf8, 3));
    refusedSections("line counted after an empty line", "1|a\r\n\r\n2|\xFF", refused(notUtf8, 3));
    // A U+0000 is refused wherever it stands, before or after ill-formed bytes.
    refusedSections("U+0000 before ill-formed", QByteArray("1|a\r\n2|b\0\xFF\r\n", 12), refused(nul, 2));
    refusedSections("U+0000 after ill-formed", QByteArray("1|a\r\n2|\xFF\0\r\n", 11), refused(notUtf8, 2));

    // UTF-16: with a byte-order mark it is ill-formed; without one, its
    // ASCII is well-formed but each character has a 00 byte.
    refusedSections("UTF-16LE with its mark", utf16(u"1|Новости\r\n", false, true), refused(notUtf8, 1));
    refusedSections("UTF-16BE with its mark", utf16(u"1|News\r\n", true, true), refused(notUtf8, 1));
    refusedSections("UTF-16LE without a mark", utf16(u"1|News\r\n", false, false), refused(nul, 1));
    refusedForums("UTF-16BE forums without a mark", utf16(u"5|1|f\r\n", true, false), refused(nul, 1));

    // U+0000, lone CR, LF CR.
    refusedSections("U+0000 in a text", QByteArray("1|a\r\n2|b\0c\r\n3|d\r\n", 17), refused(nul, 2));
    refusedForums("U+0000 at the end of a forum's text", QByteArray("5|1|f\0\r\n6|1|g", 13), refused(nul, 1));
    refusedSections("U+0000 first", QByteArray("\0" "1|a\r\n", 6), refused(nul, 1));
    refusedSections("U+0000 inside an identifier", QByteArray("1\0|x\r\n", 6), refused(nul, 1));
    refusedForums("U+0000 on the last line", QByteArray("5|1|f\r\n6|1|g\0", 13), refused(nul, 2));
    completed("lone CR ends lines", "1|a\r2|b\r", "5|2|f\r6|1|g", "1|a\r\n2|b\r\n", "5|2|f\r\n6|1|g\r\n");
    refusedSections("LF CR makes an empty line", "1|a\n\r2|b\r\n", refused(notInteger, 2, ""));
    refusedForums("LF CR at the end of the forums", "5|1|f\n\r", refused(notInteger, 2, ""));

    // Size: a 10 MB line, and 100,000 separators in one line.
    const QByteArray huge = QByteArray("\xD0\xAF", 2).repeated(5 * 1024 * 1024);
    completed("a line of 10 MB", "1|" + huge + "\r\n", "5|1|" + huge, "1|" + huge + "\r\n", "5|1|" + huge + "\r\n");
    const QByteArray bars = QByteArray(100000, '|');
    completed("100,000 separators in one line", "7" + bars + "\r\n", "8|7" + bars + "\r\n",
              "1" + bars + "\r\n", "8|1" + bars + "\r\n");

    // Identifiers that carry SQL, or numbers the engine would read otherwise.
    const char *const smuggled[] = {"1);DROP TABLE Razdel_table;--", "1 OR 1=1", "(1)", "1/*", "-- ",
                                    "0x1F", "1e3", "1.0", "1,2", "1 2", "--1", "+-1", ":id", "?", "?1",
                                    "@a", "$a", "'1'", "\"1\"", "`1`", "CAST(1 AS INT)", "NULL",
                                    "\xC2\xA0" "1", "\xD9\xA1", "\xEF\xBC\x91"};
    for (const char *id : smuggled) {
        const QByteArray name = "section identifier " + QByteArray(id).toPercentEncoding(" ();,-+:?@$'\"`*/=");
        refusedSections(name.constData(), okSection + id + "|x\r\n",
                        refused(notInteger, 2, QString::fromUtf8(id)));
    }
    // A control character is shown escaped in the message, not as it stands.
    refusedSections("section identifier 1%0B", okSection + "1\x0B|x\r\n", refused(notInteger, 2, "1\\x0B"));
    refusedForums("forum identifier with a statement", "5|1|a\r\n6;DELETE FROM Forum_table|1|b\r\n",
                  refused(notInteger, 2, "6;DELETE FROM Forum_table"));
    refusedForums("section identifier of a forum with a condition", "5|1 OR podrazdel_id=2|a\r\n",
                  refused(sectionNotInteger, 1, "1 OR podrazdel_id=2"));
    refusedForums("section identifier of a forum with a marker", "5|:p|a\r\n", refused(sectionNotInteger, 1, ":p"));
    completed("blanks, tabs and signs around digits", " +\t0 |a\r\n\t-\t2147483648\t|b\r\n",
              "2147483647| - 2147483648 |c\r\n- 0|+0|d\r\n", "1|a\r\n2|b\r\n", "2147483647|2|c\r\n0|1|d\r\n");
    refusedSections("an identifier far beyond 64 bits", okSection + "99999999999999999999|x\r\n",
                    QStringLiteral(u"Файл \"%1\", строка 2: идентификатор \"99999999999999999999\" выходит за "
                                   u"пределы от -2147483648 до 2147483647"));
    refusedForums("a section identifier just beyond 32 bits", "5|2147483648|f\r\n",
                  QStringLiteral(u"Файл \"%1\", строка 1: идентификатор раздела \"2147483648\" выходит за "
                                 u"пределы от -2147483648 до 2147483647"));

    // Markers and quotes of every kind stay text, byte for byte.
    const QByteArray markers = ":id ::x :::y :'q' :\"r\" :`s` ?1 ?2 @a $b : :";
    completed("markers in texts", "1|" + markers + "\r\n", "5|1|" + markers + "\r\n", "1|" + markers + "\r\n",
              "5|1|" + markers + "\r\n");
    const QByteArray quotes = "' '' ''' x' 'x \" \"\" ` `` \\' \\\" "
                              "\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xC2\xAB\xC2\xBB\xEF\xBC\x87\xEF\xBC\x82";
    completed("quotes of every kind", "1|" + quotes + "\r\n2|'\r\n3|''\r\n", "5|1|" + quotes + "\r\n6|2|'\r\n",
              "1|" + quotes + "\r\n2|'\r\n3|''\r\n", "5|1|" + quotes + "\r\n6|2|'\r\n");
    const QByteArray closing = "'); DELETE FROM Razdel_table; --";
    completed("a text that closes its literal", "1|" + closing + "\r\n2|b\r\n", "5|1|" + closing + "|more\r\n",
              "1|" + closing + "\r\n2|b\r\n", "5|1|" + closing + "|more\r\n");

    // Characters that other programs take as breaks, marks or ends.
    const QByteArray odd = "\t\x01\x1F\x7F\x0C\xC2\x85\xE2\x80\xA8\xE2\x80\xA9\xEF\xBB\xBF\xEF\xBF\xBE\xEF\xBF\xBF"
                           "\xF4\x8F\xBF\xBF\xE2\x80\xAE";
    completed("control and special characters", "1|" + odd + "\r\n", "5|1|" + odd, "1|" + odd + "\r\n",
              "5|1|" + odd + "\r\n");
}

void tst_HostileInput::hostileLines()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QByteArray, sectionsOut);
    QFETCH(QByteArray, forumsOut);
    QFETCH(QString, refusal);
    QFETCH(QString, input);

    ProgramDir dir;
    dir.write("sections.txt", sections);
    dir.write("forums.txt", forums);
    dir.write("fr_fr.txt", oldSections);
    dir.write("forum.txt", oldForums);
    db::Tables tables(dir.dir());
    RecordingHost host;
    host.directory = dir.dir();
    host.sections = dir.path("sections.txt");
    host.forums = dir.path("forums.txt");

    QString failure;
    try {
        QCOMPARE(ReindexRun(host, tables).run(), ReindexRun::Outcome::Completed);
    } catch (const run::RunError &e) {
        failure = e.message();
    } catch (const db::DbError &e) {
        failure = e.message();
    }

    QStringList entries = dir.entries();
    entries.removeIf([](const QString &e) { return e.startsWith(QLatin1String("Database.mdb")); });
    const QStringList expectedEntries = {"forum.txt", "forums.txt", "fr_fr.txt", "sections.txt"};
    if (refusal.isEmpty()) {
        QCOMPARE(failure, QString());
        QCOMPARE(dir.read("fr_fr.txt"), sectionsOut);
        QCOMPARE(dir.read("forum.txt"), forumsOut);
        QCOMPARE(entries, expectedEntries);
    } else {
        const QString expected = refusal.contains(QLatin1String("%1"))
            ? refusal.arg(QDir::toNativeSeparators(dir.path(input)))
            : refusal;
        QCOMPARE(failure, expected);
        QCOMPARE(dir.read("fr_fr.txt"), oldSections);
        QCOMPARE(dir.read("forum.txt"), oldForums);
        // Refused while loading or storing its lines: nothing was written yet.
        QCOMPARE(entries, expectedEntries);
    }
}

QTEST_GUILESS_MAIN(tst_HostileInput)
#include "tst_HostileInput.moc"
