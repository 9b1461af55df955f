#include "LineFile.h"

#include "FileSystem.h"
#include "RunError.h"

#include <db/EngineText.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cstring>

namespace run {

bool LineFile::exists(const QString &path)
{
    return fs::existsNotFolder(path);
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

} // namespace run
