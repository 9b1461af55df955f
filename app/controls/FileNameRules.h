#pragma once

#include <QString>

// How a file-name field reads the text in it before browsing: whether the
// text could name a file at all, and where its folder part ends. On Windows
// a folder ends at "\" or ":" and "/" is one of the characters no file name
// holds; elsewhere "/" is the separator, so it cannot be a forbidden one.
class FileNameRules
{
public:
    static FileNameRules windows();
    static FileNameRules posix();
    // The rules of the system the program runs on.
    static FileNameRules native();

    // Not empty and free of every forbidden character.
    bool isPlausible(const QString &text) const;
    // Up to and including the last separator; empty without one.
    QString folderPart(const QString &text) const;
    // What follows the last separator; the whole text without one.
    QString namePart(const QString &text) const;

    const QString &separators() const { return separators_; }
    const QString &forbidden() const { return forbidden_; }

private:
    FileNameRules(QString separators, QString forbidden);

    qsizetype lastSeparator(const QString &text) const;

    QString separators_;
    QString forbidden_;
};
