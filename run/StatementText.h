#pragma once

#include <QString>
#include <QStringView>

#include <initializer_list>

namespace run {

// The pieces the run builds its statement texts from.
class StatementText
{
public:
    // The parts joined, with room left for the line break a query object adds.
    static QString concat(std::initializer_list<QStringView> parts);

    // A text as a single-quoted literal, its own single quotes doubled.
    static QString quoted(QStringView text);
};

} // namespace run
