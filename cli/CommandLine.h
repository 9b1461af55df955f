#pragma once

#include <run/CodePage.h>

#include <QString>
#include <QStringList>

#include <optional>

// What the twin was asked to do, read from its arguments.
class CommandLine
{
public:
    enum class Action { Run, Check, Help, Version, Usage };

    // Reads the arguments after the program name. Action::Usage comes with
    // the reason in usageError().
    static CommandLine parse(const QStringList &arguments);

    static const char *helpText();

    Action action = Action::Run;
    QString usageError;
    QString sections;
    QString forums;
    bool report = false;
    QString mapFile;                   // empty: no map
    std::optional<run::CodePage> codePage; // none: UTF-8
    QString directory;                 // empty: the program's own folder
};
