#include "InputLengthLimit.h"

#include <algorithm>

InputLengthLimit::InputLengthLimit(int limit, QObject *parent) : QValidator(parent), limit_(limit)
{
}

QValidator::State InputLengthLimit::validate(QString &input, int &cursor) const
{
    if (bypassed_)
        return Acceptable;
    auto [text, at] = limited(previous_, input, cursor, limit_);
    if (text != input) {
        input = std::move(text);
        cursor = at;
    }
    return Acceptable;
}

std::pair<QString, int> InputLengthLimit::limited(const QString &before, const QString &after, int cursor,
                                                  int limit)
{
    if (after.size() <= limit)
        return {after, cursor};

    // Split the edit into a kept head, a replaced middle and a kept tail:
    // the tail is what stands after the cursor, the head what both share.
    cursor = std::clamp(cursor, 0, int(after.size()));
    const qsizetype tail = after.size() - cursor;
    if (tail > before.size() || !before.endsWith(QStringView(after).mid(cursor))) {
        // Not an edit at the cursor (an undo, say): refuse any growth.
        if (after.size() > before.size())
            return {before, int(before.size())};
        return {after, cursor};
    }
    qsizetype head = 0;
    const qsizetype headLimit = std::min<qsizetype>(cursor, before.size() - tail);
    while (head < headLimit && before.at(head) == after.at(head))
        ++head;
    const qsizetype kept = head + tail;
    const qsizetype room = std::max<qsizetype>(0, limit - kept);
    const qsizetype inserted = cursor - head;
    if (inserted <= room)
        return {after, cursor};
    QString text = after.left(head + room) + after.mid(cursor);
    return {text, int(head + room)};
}
