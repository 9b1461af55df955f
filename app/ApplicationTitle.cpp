#include "ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

QString applicationTitle(const QString &programPath)
{
    QString name = QFileInfo(programPath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1).toUpper() + name.mid(1).toLower();
}

const QString &applicationTitle()
{
    static const QString title = applicationTitle(QCoreApplication::applicationFilePath());
    return title;
}
