#include "Fifo.h"
#include "ProgramDir.h"

#include <TestSystem.h>

#include <run/CodePage.h>
#include <run/Identifier.h>
#include <run/LineFile.h>
#include <run/LineReader.h>
#include <run/FileSystem.h>
#include <run/LineWriter.h>
#include <run/RunError.h>
#include <run/SectionNumbers.h>
#include <run/Utf8Check.h>

#include <QTest>

#include <algorithm>
#include <limits>
#include <map>
#include <random>

using run::LineFile;
using run::LineReader;

namespace {

const QString nulRefusal = QStringLiteral(u"Файл \"%1\" не является текстом: нулевой байт в строке %2");

// Buffers so small that breaks, signatures and sequences fall across the
// ends of reads, and the buffer the run uses.
const qsizetype bufferSizes[] = {4, 5, 7, 64, LineReader::defaultBufferSize};

// The lines as the run takes them, after its checking pass; the count the
// checking pass gave must be theirs.
QStringList readLines(const QString &path, qsizetype bufferSize, const run::CodePage *page = nullptr)
{
    LineReader reader(path, page, bufferSize);
    const qsizetype counted = reader.check();
    QStringList out;
    QByteArrayView line;
    while (reader.next(line))
        out << LineFile::text(line);
    if (counted != out.size())
        out << QStringLiteral("<check counted %1>").arg(counted);
    return out;
}

} // namespace

class tst_LineFile : public QObject
{
    Q_OBJECT

private slots:
    void splitsLines_data();
    void splitsLines();
    void loadsBytes_data();
    void loadsBytes();
    void readsLongLinesAndLongFiles();
    void codePageLinesComeOutAsUtf8();
    void refusesWhatNoListHolds_data();
    void refusesWhatNoListHolds();
    void judgesASequenceWhereverTheEightByteStepsCutIt_data();
    void judgesASequenceWhereverTheEightByteStepsCutIt();
    void refusesALineChangedSinceTheCheck_data();
    void refusesALineChangedSinceTheCheck();
    void refusalNamesAPathWithPercentSignsAsItIs_data();
    void refusalNamesAPathWithPercentSignsAsItIs();
    void onlyARegularFileOpens_data();
    void onlyARegularFileOpens();
    void splitsFields_data();
    void splitsFields();
    void savesWithSignature_data();
    void savesWithSignature();
    void sectionNumbers();
    void sectionNumbersForAnyShapeOfIdentifiers_data();
    void sectionNumbersForAnyShapeOfIdentifiers();
    void identifierValues_data();
    void identifierValues();
    void existenceCheck_data();
    void existenceCheck();
    void identifierCheck_data();
    void identifierCheck();
};

void tst_LineFile::splitsLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("one line, no break") << "a" << QStringList{"a"};
    QTest::newRow("CR LF") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("LF") << "a\nb" << QStringList{"a", "b"};
    QTest::newRow("lone CR") << "a\rb" << QStringList{"a", "b"};
    QTest::newRow("LF CR makes an empty line") << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("final break adds no line") << "a\r\n" << QStringList{"a"};
    QTest::newRow("two final breaks add one") << "a\r\n\r\n" << QStringList{"a", ""};
    QTest::newRow("only CR LF") << "\r\n" << QStringList{""};
    QTest::newRow("other breaks are characters")
        << QString::fromUtf16(u"a\u2028b\u0085c\fd") << QStringList{QString::fromUtf16(u"a\u2028b\u0085c\fd")};
    QTest::newRow("CR LF after every line") << "ab\r\ncd\r\nef\r\ngh\r\n" << QStringList{"ab", "cd", "ef", "gh"};
    QTest::newRow("lone CRs") << "abc\rdef\r\rg" << QStringList{"abc", "def", "", "g"};
}

void tst_LineFile::splitsLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    ProgramDir dir;
    dir.write("in.txt", text.toUtf8());
    for (qsizetype size : bufferSizes)
        QCOMPARE(readLines(dir.path("in.txt"), size), lines);
}

void tst_LineFile::loadsBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("signature only") << QByteArray("\xEF\xBB\xBF") << QStringList();
    QTest::newRow("signature skipped") << QByteArray("\xEF\xBB\xBF" "1|a\r\n") << QStringList{"1|a"};
    QTest::newRow("second signature stays")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "1|a") << QStringList{QChar(0xFEFF) + QStringLiteral("1|a")};
    QTest::newRow("two-byte file") << QByteArray("ab") << QStringList{"ab"};
    QTest::newRow("Cyrillic and four-byte")
        << QByteArray("1|\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8 \xF0\x9F\x98\x80\n")
        << QStringList{QString::fromUtf16(u"1|Новости \U0001F600")};
    QTest::newRow("signature then a break") << QByteArray("\xEF\xBB\xBF\r\nx") << QStringList{"", "x"};
    QTest::newRow("part of a signature") << QByteArray("\xEF\xBB") << QStringList{QString::fromUtf8("\xEF\xBB")};
}

void tst_LineFile::loadsBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    ProgramDir dir;
    dir.write("in.txt", bytes);
    if (bytes == "\xEF\xBB") // not UTF-8: only the code page reader takes it
        return;
    for (qsizetype size : bufferSizes)
        QCOMPARE(readLines(dir.path("in.txt"), size), lines);
    QCOMPARE(dir.read("in.txt"), bytes); // reading never changes the file
}

// A line longer than the buffer grows it, and a list longer than it comes
// through in pieces, each line whole.
void tst_LineFile::readsLongLinesAndLongFiles()
{
    ProgramDir dir;
    QByteArray bytes;
    QStringList lines;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray line = QByteArray::number(i) + '|' + QByteArray(i % 97 == 0 ? 5000 : i % 13, 'x')
            + "\xD0\x96";
        bytes += line + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
        lines << QString::fromUtf8(line);
    }
    dir.write("in.txt", bytes);
    for (qsizetype size : {qsizetype(7), qsizetype(4096), LineReader::defaultBufferSize})
        QCOMPARE(readLines(dir.path("in.txt"), size), lines);
    // Read again from the start, the line numbers counted again.
    LineReader reader(dir.path("in.txt"), nullptr, 64);
    QCOMPARE(reader.check(), qsizetype(3000));
    QByteArrayView line;
    QVERIFY(reader.next(line) && reader.next(line));
    QCOMPARE(reader.lineNumber(), qsizetype(2));
    reader.rewind();
    QVERIFY(reader.next(line) && reader.next(line));
    QCOMPARE(reader.lineNumber(), qsizetype(2));
    QCOMPARE(line, QByteArrayView("1|x\xD0\x96"));
}

void tst_LineFile::codePageLinesComeOutAsUtf8()
{
    ProgramDir dir;
    // cp1251: "Новости" and an EF BB BF that is three letters, not a signature.
    dir.write("in.txt", "\xEF\xBB\xBF" "1|\xCD\xEE\xE2\xEE\xF1\xF2\xE8\r\n2|x");
    const std::optional<run::CodePage> page = run::CodePage::byName(u"cp1251");
    QVERIFY(page);
    for (qsizetype size : bufferSizes)
        QCOMPARE(readLines(dir.path("in.txt"), size, &*page),
                 (QStringList{QString::fromUtf16(u"п»ї1|Новости"), "2|x"}));
    dir.write("bad.txt", "1|a\r\n2|\x98");
    LineReader reader(dir.path("bad.txt"), &*page, 5);
    try {
        reader.check();
        QFAIL("an undefined byte was accepted");
    } catch (const run::RunError &e) {
        QCOMPARE(e.message(), LineFile::notDecodableFailure(dir.path("bad.txt"), 2, page->name()));
    }
}

void tst_LineFile::refusesWhatNoListHolds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("nul"); // the refusal of a NUL, else of ill-formed UTF-8
    QTest::newRow("overlong two-byte") << QByteArray("\xC0\x80") << 1 << false;
    QTest::newRow("C1 lead") << QByteArray("a\xC1\xBF") << 1 << false;
    QTest::newRow("overlong three-byte") << QByteArray("ok\n\xE0\x80\xAF") << 2 << false;
    QTest::newRow("overlong four-byte") << QByteArray("\xF0\x8F\xBF\xBF") << 1 << false;
    QTest::newRow("surrogate") << QByteArray("a\r\nb\r\n\xED\xA0\x80") << 3 << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << 1 << false;
    QTest::newRow("F5 lead") << QByteArray("\xF5\x80\x80\x80") << 1 << false;
    QTest::newRow("FF byte") << QByteArray("x\n\xFF") << 2 << false;
    QTest::newRow("stray continuation") << QByteArray("1|a\r2|\x80") << 2 << false;
    QTest::newRow("cut short at the end") << QByteArray("1|\xD0") << 1 << false;
    QTest::newRow("cut short before ASCII") << QByteArray("\xE2\x82" "a") << 1 << false;
    QTest::newRow("UTF-16 with its mark") << QByteArray("\xFF\xFE" "1\0|\0a\0", 8) << 1 << false;
    QTest::newRow("single-byte Cyrillic") << QByteArray("1|ok\n2|\xCD\xEE\xE2\xEE\xF1\xF2\xE8") << 2 << false;
    QTest::newRow("LF CR counts two lines") << QByteArray("a\n\rb\xC0") << 3 << false;
    QTest::newRow("after a long ASCII run") << QByteArray("0123456789abcdef\n0123456789\x80") << 2 << false;
    QTest::newRow("after a long two-byte run")
        << QByteArray("\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xC0\x80") << 1 << false;
    QTest::newRow("overlong among two-byte sequences")
        << QByteArray("ok\n\xD0\x96\xD0\x96\xC1\xBF\xD0\x96\xD0\x96\xD0\x96\xD0\x96") << 2 << false;
    QTest::newRow("continuation missing among two-byte sequences")
        << QByteArray("\xD0\x96\xD0" "A\xD0\x96\xD0\x96\xD0\x96\xD0\x96") << 1 << false;
    // A NUL ends the text for many a program: what follows it would be lost.
    QTest::newRow("NUL inside a line") << QByteArray("1|a\n2|b\0c\n3|d", 13) << 2 << true;
    QTest::newRow("NUL first") << QByteArray("\0" "1|a", 4) << 1 << true;
    QTest::newRow("NUL right after a break") << QByteArray("1|a\r\n\0", 6) << 2 << true;
    QTest::newRow("NUL after a long ASCII run") << QByteArray("1|0123456789abcdef\0", 19) << 1 << true;
    QTest::newRow("NUL among two-byte sequences") << QByteArray("1|\xD0\x96\0\xD0\x96", 7) << 1 << true;
    QTest::newRow("the first bad byte tells: NUL") << QByteArray("a\0\n\xFF", 4) << 1 << true;
    QTest::newRow("the first bad byte tells: ill-formed") << QByteArray("\xFF\0", 2) << 1 << false;
}

void tst_LineFile::refusesWhatNoListHolds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, line);
    QFETCH(bool, nul);
    ProgramDir dir;
    dir.write("bad.txt", bytes);
    const QString expected = nul ? nulRefusal.arg(QDir::toNativeSeparators(dir.path("bad.txt")), QString::number(line))
                                 : LineFile::notUtf8Failure(dir.path("bad.txt"), line);
    for (qsizetype size : bufferSizes) {
        LineReader reader(dir.path("bad.txt"), nullptr, size);
        try {
            reader.check();
            QFAIL("refused bytes were accepted");
        } catch (const run::RunError &e) {
            QCOMPARE(e.message(), expected);
        }
    }
}

void tst_LineFile::judgesASequenceWhereverTheEightByteStepsCutIt_data()
{
    QTest::addColumn<QByteArray>("sequence");
    QTest::addColumn<bool>("wellFormed");
    QTest::newRow("two-byte") << QByteArray("\xD0\x96") << true;
    QTest::newRow("three-byte") << QByteArray("\xE2\x80\x94") << true;
    QTest::newRow("four-byte") << QByteArray("\xF0\x9F\x98\x80") << true;
    QTest::newRow("two-byte cut short") << QByteArray("\xD0") << false;
    QTest::newRow("three-byte cut short") << QByteArray("\xE2\x80") << false;
    QTest::newRow("overlong two-byte") << QByteArray("\xC1\xBF") << false;
    QTest::newRow("stray continuation") << QByteArray("\x80") << false;
    QTest::newRow("two continuations") << QByteArray("\xD0\x96\x96") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("NUL") << QByteArray("\0", 1) << false;
}

// The check steps eight bytes at a time, carrying a two-byte sequence over
// from one step to the next: a sequence at every offset of a step, among
// ASCII and among two-byte sequences, and at the very end.
void tst_LineFile::judgesASequenceWhereverTheEightByteStepsCutIt()
{
    QFETCH(QByteArray, sequence);
    QFETCH(bool, wellFormed);
    for (const QByteArray &filler : {QByteArray("a"), QByteArray("\xD0\x96")}) {
        for (int before = 0; before < 18; ++before) {
            for (int after = 0; after < 10; ++after) {
                const QByteArray text = filler.repeated(before) + sequence + filler.repeated(after);
                const qsizetype at = before * filler.size();
                // A continuation run on into the filler is the fault at its
                // own place, not at the sequence's.
                qsizetype expected = wellFormed ? -1 : at;
                if (sequence == "\xD0\x96\x96")
                    expected = at + 2;
                QVERIFY2(run::firstNulOrIllFormedUtf8(text) == expected,
                         qPrintable(QStringLiteral("%1 before, %2 after: %3 where %4 was expected")
                                        .arg(before)
                                        .arg(after)
                                        .arg(run::firstNulOrIllFormedUtf8(text))
                                        .arg(expected)));
            }
        }
    }
}

// The checking pass and the import are two reads of the file: a line that
// changed in between is refused as it is read, as the checking pass would
// have refused it, naming the same file and line.
void tst_LineFile::refusesALineChangedSinceTheCheck_data()
{
    QTest::addColumn<QByteArray>("changed");
    QTest::addColumn<QString>("codePage"); // empty: UTF-8
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("refusal"); // %1 the file's full path
    const QString notUtf8 = QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке 3");
    QTest::newRow("ill-formed UTF-8") << QByteArray("1|a\r\n2|b\r\n3|\xC0\xAF\r\n4|d\r\n") << QString() << 3 << notUtf8;
    QTest::newRow("a NUL") << QByteArray("1|a\r\n2|b\r\n3|\0\r\n4|d\r\n", 20) << QString() << 3
                           << nulRefusal.arg(QStringLiteral("%1"), QStringLiteral("3"));
    QTest::newRow("a byte the code page leaves undefined")
        << QByteArray("1|a\r\n2|b\r\n3|\x98\r\n4|d\r\n") << "cp1251" << 3
        << QStringLiteral(u"Файл \"%1\" не является текстом в кодировке windows-1251: ошибка в строке 3");
    QTest::newRow("a NUL, in a code page") << QByteArray("1|a\r\n2|\0\r\n", 10) << "cp1251" << 2
                                           << nulRefusal.arg(QStringLiteral("%1"), QStringLiteral("2"));
}

void tst_LineFile::refusesALineChangedSinceTheCheck()
{
    QFETCH(QByteArray, changed);
    QFETCH(QString, codePage);
    QFETCH(int, line);
    QFETCH(QString, refusal);
    const std::optional<run::CodePage> page =
        codePage.isEmpty() ? std::nullopt : run::CodePage::byName(codePage);
    ProgramDir dir;
    for (qsizetype size : bufferSizes) {
        dir.write("in.txt", "1|a\r\n2|b\r\n3|c\r\n4|d\r\n");
        LineReader reader(dir.path("in.txt"), page ? &*page : nullptr, size);
        QCOMPARE(reader.check(), qsizetype(4));
        dir.write("in.txt", changed); // the same file, rewritten
        QByteArrayView got;
        try {
            while (reader.next(got)) {
            }
            QFAIL("a line changed since the check was taken");
        } catch (const run::RunError &e) {
            QCOMPARE(e.message(), refusal.arg(QDir::toNativeSeparators(dir.path("in.txt"))));
            QCOMPARE(reader.lineNumber(), qsizetype(line));
        }
    }
}

// A folder's name may hold what looks like a placeholder of the message.
void tst_LineFile::refusalNamesAPathWithPercentSignsAsItIs_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("codePage"); // empty: UTF-8
    QTest::addColumn<QString>("before");   // the message up to the path
    QTest::addColumn<QString>("after");    // the message after it
    QTest::newRow("ill-formed UTF-8") << QByteArray("\xFF") << QString() << QStringLiteral(u"Файл \"")
                                      << QStringLiteral(u"\" не является текстом в кодировке UTF-8: ошибка в строке 1");
    QTest::newRow("undefined in the code page") << QByteArray("\x98") << "cp1251" << QStringLiteral(u"Файл \"")
                                                << QStringLiteral(u"\" не является текстом в кодировке windows-1251: ошибка в строке 1");
    QTest::newRow("a NUL") << QByteArray("\0", 1) << QString() << QStringLiteral(u"Файл \"")
                           << QStringLiteral(u"\" не является текстом: нулевой байт в строке 1");
}

void tst_LineFile::refusalNamesAPathWithPercentSignsAsItIs()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, codePage);
    QFETCH(QString, before);
    QFETCH(QString, after);
    const std::optional<run::CodePage> page =
        codePage.isEmpty() ? std::nullopt : run::CodePage::byName(codePage);
    ProgramDir dir;
    QVERIFY(QDir(dir.dir()).mkdir(QStringLiteral("100%1 %2 %3")));
    const QString path = dir.path(QStringLiteral("100%1 %2 %3/list.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    LineReader reader(path, page ? &*page : nullptr);
    try {
        reader.check();
        QFAIL("refused bytes were accepted");
    } catch (const run::RunError &e) {
        QCOMPARE(e.message(), before + QDir::toNativeSeparators(path) + after);
    }
}

void tst_LineFile::onlyARegularFileOpens_data()
{
    QTest::addColumn<QString>("name"); // in the test's folder, or a path from the root
    QTest::addColumn<QString>("reason"); // empty: it opens
    QTest::newRow("absent, named relative to the current directory") << "absent.txt" << testSystem::noSuchFileText();
    QTest::newRow("a folder") << "folder" << run::fs::isFolderText();
    QTest::newRow("a link to a file") << "link-file" << "";
#ifndef Q_OS_WIN
    // Opening a pipe would wait for a writer; it could not be read twice.
    QTest::newRow("a named pipe") << "pipe" << "Not a regular file";
    QTest::newRow("a link to a named pipe") << "link-pipe" << "Not a regular file";
    QTest::newRow("a device") << "/dev/null" << "Not a regular file";
    // Judged by what the link leads to, not by the link's own entry.
    QTest::newRow("a link to a folder") << "link-folder" << run::fs::isFolderText();
#endif
}

void tst_LineFile::onlyARegularFileOpens()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    ProgramDir dir;
    dir.write("file.txt", "1|a\r\n");
    QVERIFY(QDir(dir.dir()).mkdir("folder"));
    // A link, not a shortcut file (which is what the toolkit makes on Windows).
    if (!testSystem::symlink(dir.path("file.txt"), dir.path("link-file")) && name == QLatin1String("link-file"))
        QSKIP("the system makes no symbolic link here (Wine on Linux makes none)");
    const Fifo pipe(dir.path("pipe"));
#ifndef Q_OS_WIN
    QVERIFY(pipe.made());
    QVERIFY(QFile::link(dir.path("pipe"), dir.path("link-pipe")));
    QVERIFY(QFile::link(dir.path("folder"), dir.path("link-folder")));
#endif
    QDir::setCurrent(dir.dir());
    const QString path = name.startsWith(u'/') ? name : name == QLatin1String("absent.txt") ? name : dir.path(name);
    try {
        LineReader reader(path);
        QCOMPARE(reader.check(), qsizetype(1));
        QVERIFY2(reason.isEmpty(), "opened");
    } catch (const run::RunError &e) {
        QCOMPARE(e.message(), QStringLiteral("Cannot open file \"%1\". %2")
                                  .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), reason));
    }
}

void tst_LineFile::splitsFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("rest");
    QTest::newRow("plain") << "10|News" << "10" << "News";
    QTest::newRow("further separators stay") << "30|A|B" << "30" << "A|B";
    QTest::newRow("no separator") << "News" << "" << "News";
    QTest::newRow("leading separator") << "|News" << "" << "News";
    QTest::newRow("trailing separator") << "10|" << "10" << "";
    QTest::newRow("empty line") << "" << "" << "";
    QTest::newRow("blanks stay") << " 10 | News " << " 10 " << " News ";
}

void tst_LineFile::splitsFields()
{
    QFETCH(QString, line);
    QFETCH(QString, field);
    QFETCH(QString, rest);
    const QByteArray bytes = line.toUtf8();
    const LineFile::Split split = LineFile::splitField(bytes);
    QCOMPARE(LineFile::text(split.field), field);
    QCOMPARE(LineFile::text(split.rest), rest);
}

void tst_LineFile::savesWithSignature_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("no lines") << QStringList() << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("one line") << QStringList{"1|a"} << QByteArray("\xEF\xBB\xBF" "1|a\r\n");
    QTest::newRow("empty line kept") << QStringList{"", "x"} << QByteArray("\xEF\xBB\xBF\r\nx\r\n");
    QTest::newRow("Cyrillic") << QStringList{QString::fromUtf16(u"1|Ж")} << QByteArray("\xEF\xBB\xBF" "1|\xD0\x96\r\n");
}

void tst_LineFile::savesWithSignature()
{
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, bytes);
    ProgramDir dir;
    run::LineWriter out(run::fs::createNew(dir.path("1.txt"), QString()));
    for (const QString &l : lines)
        out.line(l.toUtf8());
    out.close();
    QCOMPARE(dir.read("1.txt"), bytes);

    // Numbers in decimal, and more than the writer's buffer holds.
    run::LineWriter numbers(run::fs::createNew(dir.path("2.txt"), QString()));
    numbers.line(qint64(0), "|", std::numeric_limits<qint64>::min(), "|", std::numeric_limits<qint64>::max());
    const QByteArray big(3 << 20, 'b');
    numbers.line(qint64(-12), "|", big);
    numbers.close();
    QCOMPARE(dir.read("2.txt"), "\xEF\xBB\xBF" "0|-9223372036854775808|9223372036854775807\r\n-12|" + big + "\r\n");
}

void tst_LineFile::existenceCheck_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::newRow("empty name") << "" << false;
    QTest::newRow("file") << "file.txt" << true;
    QTest::newRow("missing") << "nothing.txt" << false;
    QTest::newRow("directory") << "folder" << false;
    QTest::newRow("under a missing directory") << "none/file.txt" << false;
    QTest::newRow("link to a file") << "link-file" << true;
    QTest::newRow("dangling link") << "link-dangling" << true;
    QTest::newRow("link to a directory") << "link-folder" << false;
}

void tst_LineFile::existenceCheck()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
    ProgramDir dir;
    dir.write("file.txt", "1|a");
    QVERIFY(QDir(dir.dir()).mkdir("folder"));
    if (!testSystem::symlink(dir.path("file.txt"), dir.path("link-file"))) {
        if (name.startsWith(QLatin1String("link")))
            QSKIP("this system makes no symbolic link for this user");
    } else {
        QVERIFY(testSystem::symlink(dir.path("gone.txt"), dir.path("link-dangling")));
        QVERIFY(testSystem::symlink(dir.path("folder"), dir.path("link-folder")));
    }
    QCOMPARE(LineFile::exists(name.isEmpty() ? name : dir.path(name)), exists);
}

void tst_LineFile::identifierCheck_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("digits") << "10" << true;
    QTest::newRow("signs") << "-7" << true;
    QTest::newRow("plus and leading zeros") << "+007" << true;
    QTest::newRow("blanks and tabs around") << " \t12\t " << true;
    QTest::newRow("blank after sign") << "- 5" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("only blanks") << "  " << false;
    QTest::newRow("only a sign") << "-" << false;
    QTest::newRow("two signs") << "--5" << false;
    QTest::newRow("blank inside digits") << "1 2" << false;
    QTest::newRow("value list smuggled") << "2,'x'),(3" << false;
    QTest::newRow("subquery") << "(SELECT 1)" << false;
    QTest::newRow("comment") << "1--" << false;
    QTest::newRow("parameter marker") << ":id" << false;
    QTest::newRow("hex") << "0x10" << false;
    QTest::newRow("decimal point") << "1.5" << false;
    QTest::newRow("exponent") << "1e3" << false;
    QTest::newRow("non-ASCII digits") << QString::fromUtf16(u"١٢") << false;
    QTest::newRow("NBSP around") << QString::fromUtf16(u"\u00A01") << false;
    QTest::newRow("signature before digits") << QChar(0xFEFF) + QStringLiteral("1") << false;
}

void tst_LineFile::identifierCheck()
{
    QFETCH(QString, field);
    QFETCH(bool, accepted);
    QCOMPARE(run::identifierValue(field.toUtf8()).has_value(), accepted);
}

void tst_LineFile::identifierValues_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("real");
    QTest::addColumn<qint64>("integer");
    QTest::newRow("blank after sign") << QByteArray("- 5") << false << qint64(-5);
    QTest::newRow("largest 64-bit") << QByteArray("9223372036854775807") << false << std::numeric_limits<qint64>::max();
    QTest::newRow("smallest 64-bit") << QByteArray("-9223372036854775808") << false << std::numeric_limits<qint64>::min();
    QTest::newRow("one past the largest: real") << QByteArray("9223372036854775808") << true << qint64(0);
    QTest::newRow("wraps in 64 bits: real") << QByteArray("18446744073709551623") << true << qint64(0);
    QTest::newRow("leading zeros") << QByteArray("+0000000000000000000000042") << false << qint64(42);
}

void tst_LineFile::identifierValues()
{
    QFETCH(QByteArray, field);
    QFETCH(bool, real);
    QFETCH(qint64, integer);
    const std::optional<db::Number> value = run::identifierValue(field);
    QVERIFY(value);
    QCOMPARE(value->isReal, real);
    if (!real)
        QCOMPARE(value->integer, integer);
    else
        QVERIFY(value->real > 9.2e18);
}

void tst_LineFile::sectionNumbers()
{
    run::SectionNumbers numbers;
    const qint32 ids[] = {5, -3, 5, 2147483647, -3, 5};
    for (int i = 0; i < 6; ++i)
        numbers.add(ids[i], i + 1);
    numbers.seal();
    QCOMPARE(numbers.numberOf(5), 6);  // the last line with it
    QCOMPARE(numbers.numberOf(-3), 5);
    QCOMPARE(numbers.numberOf(2147483647), 4);
    QCOMPARE(numbers.numberOf(4), 0);   // no section has it
    QCOMPARE(numbers.numberOf(4294967301LL), 0); // 5 in its low 32 bits
    numbers.clear();
    numbers.seal();
    QCOMPARE(numbers.numberOf(5), 0);
}

void tst_LineFile::sectionNumbersForAnyShapeOfIdentifiers_data()
{
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("step");
    QTest::addColumn<int>("repeatEvery");
    // Identifiers whose low bits all agree, or whose high bits do, crowd
    // a table that picks slots by either.
    QTest::newRow("consecutive") << qint64(1) << qint64(1) << 0;
    QTest::newRow("multiples of 65536") << qint64(-2147483647 - 1) << qint64(65536) << 0;
    QTest::newRow("multiples of 2^20, repeated") << qint64(0) << qint64(1 << 20) << 3;
    QTest::newRow("odd, descending, repeated") << qint64(2147483647) << qint64(-2) << 7;
}

void tst_LineFile::sectionNumbersForAnyShapeOfIdentifiers()
{
    QFETCH(qint64, first);
    QFETCH(qint64, step);
    QFETCH(int, repeatEvery);
    // Wrapping in 32 bits gives ids from the whole range in shuffled order.
    std::vector<qint32> ids;
    for (qint64 i = 0; i < 4096; ++i)
        ids.push_back(qint32(quint32(first + i * step)));
    std::mt19937 random(7);
    std::shuffle(ids.begin(), ids.end(), random);
    if (repeatEvery)
        for (std::size_t i = repeatEvery; i < ids.size(); i += repeatEvery)
            ids[i] = ids[random() % i];

    run::SectionNumbers numbers;
    std::map<qint32, qint32> last;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        numbers.add(ids[i], qint32(i + 1));
        last[ids[i]] = qint32(i + 1);
    }
    numbers.seal();
    for (const auto &[id, number] : last)
        QCOMPARE(numbers.numberOf(id), number);
    // Identifiers next to those of the list, and the list's own moved into
    // the high half of 64 bits, have no section.
    for (const qint32 id : ids) {
        for (const qint64 other : {qint64(id) + 1, qint64(id) - 1, qint64(id) + (qint64(1) << 32)}) {
            if (!last.count(qint32(other)) || other != qint32(other))
                QCOMPARE(numbers.numberOf(other), 0);
        }
    }
}

QTEST_GUILESS_MAIN(tst_LineFile)
#include "tst_LineFile.moc"
