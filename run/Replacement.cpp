#include "Replacement.h"

#include "Journal.h"
#include "LineFile.h"
#include "ReportText.h"
#include "RunError.h"
#include "SpaceRelease.h"

namespace run {

namespace {

constexpr qint64 copyBufferSize = 1 << 20;
// Small enough that one sync holds the run for a few tens of milliseconds,
// even while the disk is busy with something else.
constexpr qint64 syncEvery = 8 << 20;

// Reads `from` to its end through one buffer, handing every piece after the
// first `skip` bytes to `take`.
void pour(fs::Handle &from, qint64 skip, const std::function<void(QByteArrayView)> &take,
          const std::function<void()> &tick)
{
    QByteArray buffer(copyBufferSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = from.read(buffer.data(), buffer.size());
        if (got < 0)
            throw RunError(LineFile::readFailure());
        if (got == 0)
            return;
        const qint64 dropped = qMin(skip, got);
        skip -= dropped;
        take(QByteArrayView(buffer.constData() + dropped, got - dropped));
        if (tick && got == buffer.size()) // more may follow
            tick();
    }
}

} // namespace

Replacement::Replacement(Journal &journal, const QStringList &files) : journal_(journal)
{
    pieces_.resize(std::size_t(files.size()));
    for (qsizetype i = 0; i < files.size(); ++i) {
        pieces_[std::size_t(i)].shown = files[i];
        pieces_[std::size_t(i)].target = fs::resolved(files[i]);
    }
}

Replacement::~Replacement()
{
    if (committed_)
        return;
    for (Piece &p : pieces_) {
        discard(p);
        if (!p.backup.isEmpty())
            journal_.removeOwn(p.backup);
    }
}

void Replacement::discard(Piece &p) noexcept
{
    p.handle.close();
    if (!p.staged.isEmpty())
        journal_.removeOwn(p.staged);
    p.staged.clear();
    p.unsynced = 0;
    p.complete = false;
}

void Replacement::checkReplaceable(const Piece &p) const
{
    QString reason;
    if (!fs::replaceable(p.target, &reason))
        throw RunError(LineFile::createFailure(p.shown, reason));
}

void Replacement::begin(int index)
{
    Piece &p = pieces_.at(std::size_t(index));
    checkReplaceable(p);
    discard(p);
    p.handle = journal_.createOwn(Journal::Role::Staged, p.target, QStringLiteral(".tmp"), p.target, p.shown,
                                  &p.staged);
}

void Replacement::write(int index, QByteArrayView bytes)
{
    Piece &p = pieces_.at(std::size_t(index));
    if (!p.handle.write(bytes))
        throw RunError(LineFile::writeFailure());
    // On the disk as it goes, a bounded piece at a time: one flush of a
    // whole large file at its end would hold the window for as long as the
    // disk takes to write it all.
    p.unsynced += bytes.size();
    if (p.unsynced >= syncEvery) {
        if (!p.handle.sync())
            throw RunError(LineFile::writeFailure());
        p.unsynced = 0;
    }
}

void Replacement::copy(int index, fs::Handle &from, qint64 skip, const std::function<void()> &tick)
{
    pour(from, skip, [this, index](QByteArrayView bytes) { write(index, bytes); }, tick);
}

void Replacement::finish(int index)
{
    Piece &p = pieces_.at(std::size_t(index));
    if (!p.handle.sync())
        throw RunError(LineFile::writeFailure());
    p.handle.close();
    p.complete = true;
}

void Replacement::replace(Journal &journal, const QString &file, QByteArrayView bytes)
{
    Replacement r(journal, {file});
    r.begin(0);
    r.write(0, bytes);
    r.finish(0);
    r.commit();
}

// The previous content of a file to be replaced, for as long as a later
// rename may fail: a second name of the very file where the file system has
// them, else a complete copy. Only a backup the journal calls kept is ever
// put back.
void Replacement::keepBackup(Piece &p)
{
    p.hadTarget = fs::ofEntry(p.target).has_value();
    if (!p.hadTarget) {
        journal_.absent(p.target);
        return;
    }
    if (!journal_.linkBackup(p.target, &p.backup)) {
        fs::Handle in = fs::openOwnForReading(p.target);
        if (!in.isOpen())
            throw RunError(LineFile::createFailure(p.shown, fs::lastError()));
        fs::Handle out =
            journal_.createOwn(Journal::Role::Backup, p.target, QStringLiteral(".bak"), p.target, p.shown, &p.backup);
        pour(in, 0, [&out](QByteArrayView bytes) {
            if (!out.write(bytes))
                throw RunError(LineFile::writeFailure());
        }, {});
        if (!out.sync())
            throw RunError(LineFile::writeFailure());
    }
    fs::syncFolder(fs::folderOf(p.backup));
    journal_.kept(p.backup, p.target);
}

void Replacement::commit(SpaceRelease *release)
{
    // Every check that can fail is made before the first rename.
    for (const Piece &p : pieces_) {
        if (!p.complete)
            throw RunError(LineFile::writeFailure());
        checkReplaceable(p);
    }
    for (std::size_t i = 0; i + 1 < pieces_.size(); ++i)
        keepBackup(pieces_[i]);
    QStringList folders;
    for (const Piece &p : pieces_)
        if (!folders.contains(fs::folderOf(p.target)))
            folders << fs::folderOf(p.target);
    for (const QString &f : std::as_const(folders))
        fs::syncFolder(f);
    journal_.commit();

    if (release)
        for (const Piece &p : pieces_)
            release->hold(p.target);
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        Piece &p = pieces_[i];
        p.stagedId = fs::ofEntry(p.staged).value_or(fs::FileId{});
        QString reason;
        if (!fs::rename(p.staged, p.target, &reason))
            putBack(i, reason);
        journal_.renamedOwn(p.staged);
        p.staged.clear();
    }
    committed_ = true;
    for (const QString &f : std::as_const(folders))
        fs::syncFolder(f);
    for (Piece &p : pieces_)
        if (!p.backup.isEmpty())
            journal_.removeOwn(p.backup);
}

void Replacement::putBack(std::size_t failed, const QString &reason)
{
    const QString failure = LineFile::createFailure(pieces_[failed].shown, reason);
    try {
        journal_.undo();
    } catch (const RunError &) {
        // Without the undo record on the disk a later run finishes the
        // replacement instead: nothing may be put back or thrown away, and
        // the next run makes the files whole whichever way the journal says.
        committed_ = true;
        throw RunError(reportText(failure) + u'\n'
                       + QStringLiteral(u"Отмену замены не удалось записать: следующий запуск оставит либо все "
                                        u"прежние файлы, либо все новые."));
    }
    for (std::size_t j = failed; j-- > 0;) {
        Piece &p = pieces_[j];
        bool restored;
        if (p.hadTarget) {
            restored = fs::rename(p.backup, p.target, nullptr);
            if (restored) {
                journal_.renamedOwn(p.backup);
                p.backup.clear();
            }
        } else {
            restored = fs::ofEntry(p.target) == p.stagedId && fs::remove(p.target);
        }
        if (!restored) {
            // Nothing more is moved or removed: the journal tells the next
            // run what to put back, and the user where it is meanwhile.
            committed_ = true;
            const QString left = p.hadTarget
                ? QStringLiteral(u"Прежний файл \"%1\" не удалось вернуть на место: он сохранён как \"%2\" "
                                 u"и будет возвращён при следующем запуске.")
                      .arg(LineFile::fullPath(p.shown), LineFile::fullPath(p.backup))
                : QStringLiteral(u"Новый файл \"%1\" не удалось убрать: он будет убран при следующем запуске.")
                      .arg(LineFile::fullPath(p.shown));
            throw RunError(reportText(failure) + u'\n' + left);
        }
    }
    for (std::size_t j = failed; j-- > 0;)
        fs::syncFolder(fs::folderOf(pieces_[j].target));
    throw RunError(failure);
}

} // namespace run
