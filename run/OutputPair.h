#pragma once

#include <QByteArrayView>
#include <QString>

namespace run {

// Replaces the two output files as a pair. Each is first written in full to a
// temporary file beside it; only when both are complete are they renamed over
// the outputs. Until then the previous outputs stay as they were, and a
// failure, or destruction before commit(), removes the temporary files.
class OutputPair
{
public:
    OutputPair(QString first, QString second);
    ~OutputPair();
    OutputPair(const OutputPair &) = delete;
    OutputPair &operator=(const OutputPair &) = delete;

    // Writes the bytes for output 0 or 1. An output that could not be
    // replaced is a create failure, a short write a write failure.
    void stage(int index, QByteArrayView bytes);

    // Renames both staged files over the outputs.
    void commit();

    static QString temporaryPathFor(const QString &output);

private:
    void checkReplaceable(int index) const;
    void discard() noexcept;

    QString outputs_[2];
    QString temporaries_[2];
    bool staged_[2] = {false, false};
};

} // namespace run
