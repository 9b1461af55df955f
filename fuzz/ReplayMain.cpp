// Runs a fuzz target over saved inputs without a fuzzing engine: every file
// named, and every file in every folder named, once, in name order. This is
// how the seed corpus and the saved crash inputs replay as ordinary tests in
// builds made with any compiler.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QFile::decodeName(argv[i]);
        if (arg.startsWith(u'-'))
            continue; // libFuzzer options, accepted so that both builds take the same command
        const QFileInfo info(arg);
        if (info.isDir()) {
            QStringList inDir;
            QDirIterator it(arg, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                inDir << it.next();
            inDir.sort();
            files += inDir;
        } else if (info.exists()) {
            files << arg;
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
    }
    int count = 0;
    for (const QString &path : files) {
        if (QFileInfo(path).fileName().startsWith(u'.') || path.endsWith(QLatin1String("README")))
            continue;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 2;
        }
        const QByteArray bytes = f.readAll();
        std::fprintf(stderr, "replaying %s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
        ++count;
    }
    std::fprintf(stderr, "%d inputs replayed, every invariant held\n", count);
    return 0;
}
