#include "Application.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

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

void prepareApplication()
{
    applicationTitle();
    installToolkitTranslation();
}

bool installToolkitTranslation(const QLocale &locale)
{
    static QPointer<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    // Owned by the application, so that it lives exactly as long as the texts
    // it translates can be asked for.
    auto *translator = new QTranslator(QCoreApplication::instance());
    // The translations of the Qt the program runs with: Debian keeps them in
    // its qt6-translations-l10n package, a Windows copy beside its Qt. The
    // "qt" catalog is the one both carry; it pulls in the base module's.
    if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}
