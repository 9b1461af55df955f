#include "FileNameRules.h"

FileNameRules::FileNameRules(QString separators, QString forbidden)
    : separators_(std::move(separators)), forbidden_(std::move(forbidden))
{
}

FileNameRules FileNameRules::windows()
{
    return FileNameRules(QStringLiteral("\\:"), QStringLiteral("<>\"|*?/"));
}

FileNameRules FileNameRules::posix()
{
    return FileNameRules(QStringLiteral("/"), QStringLiteral("<>\"|*?"));
}

FileNameRules FileNameRules::native()
{
#ifdef Q_OS_WIN
    return windows();
#else
    return posix();
#endif
}

bool FileNameRules::isPlausible(const QString &text) const
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (forbidden_.contains(c))
            return false;
    }
    return true;
}

qsizetype FileNameRules::lastSeparator(const QString &text) const
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (separators_.contains(text.at(i)))
            return i;
    }
    return -1;
}

QString FileNameRules::folderPart(const QString &text) const
{
    return text.left(lastSeparator(text) + 1);
}

QString FileNameRules::namePart(const QString &text) const
{
    return text.mid(lastSeparator(text) + 1);
}
