#pragma once

#include <run/RunHost.h>

#include <QStringList>

#include <functional>

// Records every call the run makes on its host, in order, as short words.
class RecordingHost : public run::RunHost
{
public:
    QString sections;
    QString forums;
    QString directory;
    QStringList events;
    // Called on every pump, before it is recorded; lets a test act mid-run.
    std::function<void(int pumpIndex)> onPump;
    // Called while a message waits to be dismissed.
    std::function<void()> onMessage;
    int pumps = 0;
    int operationMaximum = 100;
    int operationPosition = 0;
    int overallPosition = 0;

    QString sectionsFileName() override { return sections; }
    QString forumsFileName() override { return forums; }
    void setStartEnabled(bool enabled) override { events << QStringLiteral("enable %1").arg(enabled); }
    void setOperationMaximum(int maximum) override
    {
        operationMaximum = maximum;
        events << QStringLiteral("max %1").arg(maximum);
    }
    void setOperationPosition(int position) override
    {
        operationPosition = position;
        events << QStringLiteral("pos %1").arg(position);
    }
    void stepOperation() override
    {
        ++operationPosition;
        events << QStringLiteral("step");
    }
    void setOverallPosition(int position) override
    {
        overallPosition = position;
        events << QStringLiteral("overall %1").arg(position);
    }
    void stepOverall() override
    {
        ++overallPosition;
        events << QStringLiteral("overall+");
    }
    void showMessage(const QString &text, const QString &caption, run::MessageIcon icon) override
    {
        static const char *const icons[] = {"warning", "information", "error"};
        events << QStringLiteral("message %1 | %2 | %3").arg(text, caption, QLatin1String(icons[int(icon)]));
        if (onMessage)
            onMessage();
    }
    void pump() override
    {
        if (onPump)
            onPump(pumps);
        ++pumps;
        events << QStringLiteral("pump");
    }
    void setBusyCursor(bool busy) override { events << QStringLiteral("busy %1").arg(busy); }
    QString programDirectory() override { return directory; }
};
