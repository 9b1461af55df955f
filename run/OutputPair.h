#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

namespace run {

// Replaces the two output files as a pair. Each is first written in full and
// flushed to disk where no one sees it (an unnamed file where the system has
// them, else "<output>.tmp"); only when both are complete are they renamed
// over the outputs. A failure before that leaves both previous outputs as
// they were and no temporary file behind; a failed second rename puts the
// first output back. A run killed on the way leaves the pair to the next one,
// which makes it whole: a commit mark, written once both files are complete
// and the first output is backed up, tells it which way.
class OutputPair
{
public:
    OutputPair(QString first, QString second);
    ~OutputPair();
    OutputPair(const OutputPair &) = delete;
    OutputPair &operator=(const OutputPair &) = delete;

    // Writes output 0 or 1 from the bytes of a file from `skip` on, streamed,
    // calling `tick` (when given) after every piece. A source that cannot be
    // opened is the open failure, a short read the read failure; an output
    // that could not be replaced is a create failure, a short write a write
    // failure.
    void stageCopy(int index, const QString &from, qint64 skip, const std::function<void()> &tick = {});

    // Renames both staged files over the outputs.
    void commit();

    // Brings a pair that a crashed run left mid-way to one piece: forward
    // when its commit mark is there, else back, removing every leftover.
    static void recover(const QString &first, const QString &second);

    static QString temporaryPathFor(const QString &output);
    static QString backupPathFor(const QString &output);
    static QString commitMarkFor(const QString &output);
    // Stands for the backup of a first output that did not exist.
    static QString absenceNoteFor(const QString &output);

private:
    class Staged;
    Staged &restage(int index);
    void checkReplaceable(int index) const;
    void discard() noexcept;

    QString outputs_[2];
    QString targets_[2];
    Staged *staged_[2] = {nullptr, nullptr};
};

} // namespace run
