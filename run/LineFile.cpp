#include "LineFile.h"

#include "FileSystem.h"
#include "RunError.h"
#include "Utf8Check.h"

#include <db/EngineText.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace run {

bool LineFile::exists(const QString &path)
{
    return fs::existsNotFolder(path);
}

QString LineFile::fullPath(const QString &path)
{
    return shown(QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath())));
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

// Each message is made in one pass over its pattern: a "%1" in a path is part
// of the path, not a place for the next argument.
QString LineFile::notUtf8Failure(const QString &path, qsizetype line)
{
    // In one step: a path may hold "%2" itself.
    return QStringLiteral(u"Файл \"%1\" не является текстом в кодировке UTF-8: ошибка в строке %2")
        .arg(fullPath(path), QString::number(line));
}

QString LineFile::nulFailure(const QString &path, qsizetype line)
{
    return QStringLiteral(u"Файл \"%1\" не является текстом: нулевой байт в строке %2")
        .arg(fullPath(path), QString::number(line));
}

QString LineFile::notDecodableFailure(const QString &path, qsizetype line, const QString &codePage)
{
    return QStringLiteral(u"Файл \"%1\" не является текстом в кодировке %2: ошибка в строке %3")
        .arg(fullPath(path), codePage, QString::number(line));
}

LineFile::Split LineFile::splitField(QByteArrayView line)
{
    const void *bar = line.isEmpty() ? nullptr : std::memchr(line.data(), '|', std::size_t(line.size()));
    if (!bar)
        return {QByteArrayView(), line};
    const qsizetype p = static_cast<const char *>(bar) - line.data();
    return {line.first(p), line.sliced(p + 1)};
}

QString LineFile::text(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

void appendEscaped(QString &out, uint value)
{
    out += QLatin1String("\\x") + QString::number(value, 16).toUpper().rightJustified(2, u'0');
}

} // namespace

QString LineFile::shown(QStringView text)
{
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return isControl(c.unicode()); }))
        return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            appendEscaped(out, c.unicode());
        else
            out += c;
    }
    return out;
}

QString LineFile::shownBytes(QByteArrayView bytes)
{
    QString out;
    for (;;) {
        const qsizetype bad = firstNulOrIllFormedUtf8(bytes);
        if (bad < 0)
            return out + shown(text(bytes));
        out += shown(text(bytes.first(bad)));
        appendEscaped(out, uchar(bytes[bad]));
        bytes = bytes.sliced(bad + 1);
    }
}

} // namespace run
