#pragma once

#include <QByteArrayView>
#include <QString>

namespace run {

// Replaces one file whole or not at all, as the run's outputs are replaced:
// the bytes go to a temporary file beside it, are flushed to the disk, and
// only then renamed over it. A failure, or destruction before commit(),
// removes the temporary file and leaves the previous file as it was.
class ReplacedFile
{
public:
    explicit ReplacedFile(QString path);
    ~ReplacedFile();
    ReplacedFile(const ReplacedFile &) = delete;
    ReplacedFile &operator=(const ReplacedFile &) = delete;

    // Writes the new content. A file that may not be replaced (a directory,
    // a read-only file) is a create failure, a short write a write failure.
    void stage(QByteArrayView bytes);
    // Renames the staged content over the file.
    void commit();

    // Both steps at once.
    static void replace(const QString &path, QByteArrayView bytes);

    static QString temporaryPathFor(const QString &path);

private:
    void checkReplaceable() const;
    void discard() noexcept;

    QString path_;
    QString target_; // the file itself, or the target of a link to it
    QString temporary_;
    bool staged_ = false;
};

} // namespace run
