#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

// A throw-away program directory holding a fresh copy of the empty database.
class ProgramDir
{
public:
    ProgramDir()
    {
        QVERIFY2(dir_.isValid(), "no temporary directory");
        QVERIFY(QFile::copy(QStringLiteral(REINDEX_TEST_DATABASE), path(QStringLiteral("Database.mdb"))));
        QFile::setPermissions(path(QStringLiteral("Database.mdb")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // With its trailing separator, as the run expects.
    QString dir() const { return dir_.path() + QDir::separator(); }
    QString path(const QString &name) const { return dir_.filePath(name); }

    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }

    QByteArray read(const QString &name) const
    {
        QFile f(path(name));
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray("<missing>");
        return f.readAll();
    }

    bool has(const QString &name) const { return QFileInfo::exists(path(name)); }

    QStringList entries() const
    {
        return QDir(dir_.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

private:
    QTemporaryDir dir_;
};
