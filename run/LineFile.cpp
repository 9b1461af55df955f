#include "LineFile.h"

#include "CodePage.h"
#include "LineList.h"
#include "RunError.h"
#include "Utf8Check.h"

#include <db/EngineText.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace run {

namespace {

constexpr char signature[] = "\xEF\xBB\xBF";

} // namespace

bool LineFile::exists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.isSymLink())
        return !info.isDir(); // a dangling link is no directory
    return info.exists() && !info.isDir();
}

QString LineFile::fullPath(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

QString LineFile::openFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot open file \"%1\". %2").arg(fullPath(path), db::trimEngineText(reason));
}

QString LineFile::createFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot create file \"%1\". %2").arg(fullPath(path), db::trimEngineText(reason));
}

QString LineFile::readFailure()
{
    return QStringLiteral("Stream read error");
}

QString LineFile::writeFailure()
{
    return QStringLiteral("Stream write error");
}

QString LineFile::notUtf8Failure(const QString &path, qsizetype line)
{
    return QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке %2")
        .arg(fullPath(path))
        .arg(line);
}

QString LineFile::notDecodableFailure(const QString &path, qsizetype line, const QString &codePage)
{
    return QStringLiteral(u"Файл \"%1\" не является текстом в кодировке %2: ошибка в строке %3")
        .arg(fullPath(path), codePage)
        .arg(line);
}

qsizetype LineFile::lineOfOffset(QByteArrayView text, qsizetype offset)
{
    qsizetype line = 1;
    const char *s = text.data();
    for (qsizetype i = 0; i < offset; ++i) {
        if (s[i] == '\r') {
            ++line;
            if (i + 1 < offset && s[i + 1] == '\n')
                ++i;
        } else if (s[i] == '\n') {
            ++line;
        }
    }
    return line;
}

namespace {

QByteArray readAllOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RunError(LineFile::openFailure(path, file.errorString()));
    if (QFileInfo(file).isDir())
        throw RunError(LineFile::openFailure(path, qt_error_string(EISDIR)));
    // One allocation of the file's size: reading in growing pieces would
    // briefly need half as much again for a large list.
    const qint64 size = file.size();
    QByteArray bytes;
    if (size > 0 && !file.isSequential()) {
        bytes = QByteArray(qsizetype(size), Qt::Uninitialized); // resize() would add room to grow
        qint64 got = 0;
        while (got < size) {
            const qint64 r = file.read(bytes.data() + got, size - got);
            if (r <= 0)
                break;
            got += r;
        }
        if (got < size)
            throw RunError(LineFile::readFailure());
        if (!file.atEnd())
            bytes.append(file.readAll()); // it grew while being read
    } else {
        bytes = file.readAll();
    }
    if (file.error() != QFileDevice::NoError)
        throw RunError(LineFile::readFailure());
    return bytes;
}

} // namespace

void LineFile::load(const QString &path, LineList &lines, const CodePage *codePage)
{
    QByteArray bytes = readAllOf(path);
    if (codePage) {
        const qsizetype undefined = codePage->firstUndefined(bytes);
        if (undefined >= 0)
            throw RunError(notDecodableFailure(path, lineOfOffset(bytes, undefined), codePage->name()));
        bytes = codePage->toUtf8(bytes);
    }
    qsizetype start = 0;
    if (bytes.size() >= 3 && QByteArrayView(bytes).first(3) == QByteArrayView(signature, 3))
        start = 3;
    const QByteArrayView text = QByteArrayView(bytes).sliced(start);
    const qsizetype bad = firstIllFormedUtf8(text);
    if (bad >= 0)
        throw RunError(notUtf8Failure(path, lineOfOffset(text, bad)));
    // The lines stay UTF-8; each is decoded when the run takes it.
    lines.assignUtf8(std::move(bytes), start);
}

LineFile::Split LineFile::splitField(QStringView line)
{
    const qsizetype p = line.indexOf(u'|');
    if (p < 0)
        return {QStringView(), line};
    return {line.first(p), line.sliced(p + 1)};
}

void LineFile::saveWithSignature(const LineList &lines, const QString &path)
{
    const QByteArray bytes = lines.joinedUtf8();
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
        throw RunError(createFailure(path, file.errorString()));
    if (file.write(signature, 3) != 3 || file.write(bytes) != bytes.size())
        throw RunError(writeFailure());
}

QByteArray LineFile::readWhole(const QString &path)
{
    return readAllOf(path);
}

void LineFile::quietDelete(const QString &path)
{
    QFile::remove(path);
}

} // namespace run
