#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

#include <aclapi.h>
#include <winioctl.h>

#include <algorithm>

namespace run::fs {

namespace {

// Every path reaches the system as UTF-16, absolute, with its own
// separators; one too long for the classic limit goes in the form that has
// none, which the system takes only when it is already clean.
QString win(const QString &path)
{
    if (path.startsWith(QLatin1String("\\\\?\\")))
        return path;
    QString full = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (full.size() < MAX_PATH - 12)
        return full;
    if (full.startsWith(QLatin1String("\\\\")))
        return QLatin1String("\\\\?\\UNC\\") + full.mid(2);
    return QLatin1String("\\\\?\\") + full;
}

LPCWSTR w(const QString &s)
{
    return reinterpret_cast<LPCWSTR>(s.utf16());
}

HANDLE h(qintptr native)
{
    return reinterpret_cast<HANDLE>(native);
}

constexpr qintptr invalid = -1; // INVALID_HANDLE_VALUE

// The system's own text for one of its codes, in the user's language.
QString systemText(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text;
    if (n > 0 && buffer)
        text = QString::fromWCharArray(buffer, int(n));
    LocalFree(buffer);
    // The system ends its texts with a full stop and a line break; the run's
    // messages put them inside their own sentences.
    while (!text.isEmpty() && (text.back() <= u' ' || text.back() == u'.'))
        text.chop(1);
    if (text.isEmpty())
        text = QStringLiteral("System error %1").arg(code);
    return text;
}

// Keeps the thread's last error across the calls of a clean-up.
class LastErrorKept
{
public:
    LastErrorKept() : code_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(code_); }

private:
    DWORD code_;
};

// A file is its volume and its index there. The index is never given to a
// new file while the old one's record could be mistaken for it: NTFS counts
// each reuse of a record into the index. The creation time tells nothing
// more: a file made where one was just removed inherits it (the file
// system's "tunnelling"), and Wine reports the last write as creation.
FileId idOf(const BY_HANDLE_FILE_INFORMATION &info)
{
    return {quint64(info.dwVolumeSerialNumber), (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0};
}

// An entry opened for its attributes only, which no other opener's sharing
// refuses; a folder too. `follow` false opens a link itself.
HANDLE openForAttributes(const QString &path, bool follow)
{
    const QString name = win(path);
    return CreateFileW(w(name), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                       nullptr);
}

std::optional<BY_HANDLE_FILE_INFORMATION> infoOf(const QString &path, bool follow)
{
    if (path.isEmpty())
        return std::nullopt;
    const HANDLE file = openForAttributes(path, follow);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(file, &info);
    {
        LastErrorKept kept;
        CloseHandle(file);
    }
    if (!ok)
        return std::nullopt;
    return info;
}

// The attributes of the entry itself, links not followed.
std::optional<DWORD> attributesOf(const QString &path)
{
    const QString name = win(path);
    const DWORD a = GetFileAttributesW(w(name));
    if (a == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return a;
}

// The layout the system documents for what FSCTL_GET_REPARSE_POINT gives
// for a symbolic link or a junction.
struct ReparseData
{
    ULONG tag;
    USHORT dataLength;
    USHORT reserved;
    USHORT substituteOffset;
    USHORT substituteLength;
    USHORT printOffset;
    USHORT printLength;
    union {
        struct
        {
            ULONG flags;
            WCHAR path[1];
        } link;
        struct
        {
            WCHAR path[1];
        } junction;
    };
};
constexpr ULONG relativeLink = 1; // SYMLINK_FLAG_RELATIVE

// Where a symbolic link or a junction points, as written in it; empty for
// anything else.
QString linkTarget(const QString &path)
{
    const QString name = win(path);
    const HANDLE file = CreateFileW(w(name), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QString();
    alignas(8) char buffer[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
    DWORD got = 0;
    const bool ok =
        DeviceIoControl(file, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    if (!ok || got < offsetof(ReparseData, link))
        return QString();
    const auto *data = reinterpret_cast<const ReparseData *>(buffer);
    const WCHAR *names;
    bool relative = false;
    if (data->tag == IO_REPARSE_TAG_SYMLINK) {
        names = data->link.path;
        relative = data->link.flags & relativeLink;
    } else if (data->tag == IO_REPARSE_TAG_MOUNT_POINT) {
        names = data->junction.path;
    } else {
        return QString();
    }
    const auto *end = reinterpret_cast<const char *>(buffer) + got;
    auto text = [&](USHORT offset, USHORT length) {
        const auto *from = reinterpret_cast<const char *>(names) + offset;
        if (from + length > end)
            return QString();
        return QString::fromWCharArray(reinterpret_cast<const wchar_t *>(from), length / sizeof(WCHAR));
    };
    QString target = text(data->printOffset, data->printLength);
    if (target.isEmpty()) {
        target = text(data->substituteOffset, data->substituteLength);
        if (target.startsWith(QLatin1String("\\??\\")))
            target.remove(0, 4);
    }
    if (target.isEmpty())
        return QString();
    target = QDir::fromNativeSeparators(target);
    return relative ? QDir(folderOf(path)).absoluteFilePath(target) : target;
}

// Names are compared as the file system compares them: without case.
bool sameName(const QString &a, const QString &b)
{
    return CompareStringOrdinal(w(a), int(a.size()), w(b), int(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

Handle::~Handle()
{
    close();
}

Handle::Handle(Handle &&other) noexcept : native_(other.native_), error_(std::move(other.error_))
{
    other.native_ = invalid;
}

Handle &Handle::operator=(Handle &&other) noexcept
{
    if (this != &other) {
        close();
        native_ = other.native_;
        error_ = std::move(other.error_);
        other.native_ = invalid;
    }
    return *this;
}

bool Handle::isOpen() const noexcept
{
    return native_ != invalid;
}

void Handle::fail()
{
    error_ = systemText(GetLastError());
}

bool Handle::write(QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 30));
        DWORD n = 0;
        if (!WriteFile(h(native_), p, chunk, &n, nullptr) || n == 0) {
            if (n == 0 && GetLastError() == ERROR_SUCCESS)
                SetLastError(ERROR_DISK_FULL);
            fail();
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

qint64 Handle::read(char *into, qint64 size)
{
    DWORD n = 0;
    if (!ReadFile(h(native_), into, DWORD(std::min<qint64>(size, 1 << 30)), &n, nullptr)) {
        if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE)
            return 0;
        fail();
        return -1;
    }
    return qint64(n);
}

bool Handle::sync()
{
    if (!FlushFileBuffers(h(native_))) {
        fail();
        return false;
    }
    return true;
}

FileId Handle::id() const
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h(native_), &info))
        return FileId{};
    return idOf(info);
}

void Handle::close()
{
    if (native_ != invalid)
        CloseHandle(h(native_));
    native_ = invalid;
}

QString lastError()
{
    return systemText(GetLastError());
}

bool lastErrorWasExists()
{
    const DWORD code = GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

// Windows opens no folder as a file: what it says then is that access is
// denied, and that is what a person on Windows reads for a folder.
QString isFolderText()
{
    return systemText(ERROR_ACCESS_DENIED);
}

QString deniedText()
{
    return systemText(ERROR_ACCESS_DENIED);
}

Handle createNew(const QString &path, const QString &likeTarget, bool *exists)
{
    const QString name = win(path);
    // CREATE_NEW on the name itself, a link included: never an existing file,
    // never one a link leads to. Nobody else may open it while it is written.
    const HANDLE file = CreateFileW(w(name), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A folder of that name is refused as denied, not as taken.
        if (exists) {
            LastErrorKept kept;
            *exists = lastErrorWasExists() || attributesOf(path).has_value();
        }
        return Handle();
    }
    if (exists)
        *exists = false;
    // Who may read the replaced file may read its successor: its own access
    // list goes over, and what it inherited it inherits again.
    if (!likeTarget.isEmpty()) {
        const QString target = win(likeTarget);
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoW(w(target), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &descriptor)
            == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR_CONTROL control = 0;
            DWORD revision = 0;
            if (dacl && GetSecurityDescriptorControl(descriptor, &control, &revision)) {
                const SECURITY_INFORMATION which = DACL_SECURITY_INFORMATION
                    | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
                (void)SetSecurityInfo(file, SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
            }
            LocalFree(descriptor);
        }
    }
    return Handle(reinterpret_cast<qintptr>(file));
}

Handle openOwnForReading(const QString &path)
{
    const QString name = win(path);
    const HANDLE file = CreateFileW(w(name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Handle();
    BY_HANDLE_FILE_INFORMATION info;
    DWORD refusal = ERROR_SUCCESS;
    if (!GetFileInformationByHandle(file, &info))
        refusal = GetLastError();
    else if (GetFileType(file) != FILE_TYPE_DISK)
        refusal = ERROR_INVALID_FUNCTION;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        refusal = ERROR_ACCESS_DENIED;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = ERROR_CANT_ACCESS_FILE; // a link: its target is not the run's
    if (refusal != ERROR_SUCCESS) {
        CloseHandle(file);
        SetLastError(refusal);
        return Handle();
    }
    return Handle(reinterpret_cast<qintptr>(file));
}

// Opening a pipe here waits for nobody, and a folder does not open as a
// file: the toolkit's own opening serves, and the open file is judged by
// what its name leads to.
bool openList(QFile &list, const QString &path, QString *reason)
{
    list.setFileName(path);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *reason = list.errorString();
        return false;
    }
    const QFileInfo info(list);
    if (info.isDir())
        *reason = isFolderText();
    else if (!info.isFile())
        *reason = notRegularFileText();
    else
        return true;
    list.close();
    return false;
}

// A file with an open handle keeps its name until the handle closes, and a
// rename over it fails meanwhile: nothing is held, and the space goes in
// the step that takes the last name away.
Handle holdForRelease(const QString &, qint64)
{
    return Handle();
}

std::optional<FileId> of(const QString &path)
{
    const std::optional<BY_HANDLE_FILE_INFORMATION> info = infoOf(path, true);
    return info ? std::optional<FileId>(idOf(*info)) : std::nullopt;
}

std::optional<FileId> ofEntry(const QString &path)
{
    const std::optional<BY_HANDLE_FILE_INFORMATION> info = infoOf(path, false);
    return info ? std::optional<FileId>(idOf(*info)) : std::nullopt;
}

QString resolved(const QString &path)
{
    QString at = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The system's own limit on the reparse points of one name.
    for (int hop = 0; hop < 63; ++hop) {
        const std::optional<DWORD> a = attributesOf(at);
        if (!a || !(*a & FILE_ATTRIBUTE_REPARSE_POINT))
            return at;
        const QString target = linkTarget(at);
        if (target.isEmpty())
            return at;
        at = QDir::cleanPath(target);
    }
    return at;
}

bool sameFile(const QString &a, const QString &b)
{
    const std::optional<FileId> first = of(a);
    const std::optional<FileId> second = of(b);
    if (first && second)
        return *first == *second;
    if (first || second)
        return false;
    const QString ra = resolved(a);
    const QString rb = resolved(b);
    const std::optional<FileId> folderA = of(folderOf(ra));
    return folderA && folderA == of(folderOf(rb)) && sameName(nameOf(ra), nameOf(rb));
}

bool isFolder(const QString &path)
{
    const std::optional<BY_HANDLE_FILE_INFORMATION> info = infoOf(path, true);
    return info && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isRegularFile(const QString &path)
{
    const std::optional<DWORD> a = attributesOf(path);
    return a && !(*a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

bool existsNotFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    // The entry's own attributes: a link to a file passes even when the file
    // is gone, one to a folder (or a junction) is a folder.
    const QString name = win(path);
    const DWORD a = GetFileAttributesW(w(name));
    if (a != INVALID_FILE_ATTRIBUTES)
        return !(a & FILE_ATTRIBUTE_DIRECTORY);
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return false;
    default:
        break;
    }
    // Held by another in a way that hides even its attributes: the folder's
    // listing still tells what it is.
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(w(name), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool replaceable(const QString &target, QString *reason)
{
    const std::optional<BY_HANDLE_FILE_INFORMATION> info = infoOf(target, true);
    if (!info)
        return true; // nothing there to keep
    if (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        *reason = isFolderText();
        return false;
    }
    // A rename would put a new file in the place of even a read-only one; its
    // owner marked it so to keep it.
    if (info->dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        *reason = deniedText();
        return false;
    }
    // Replacing needs the right to write and to remove it, and nobody holding
    // it open against removal: asked now, before anything is renamed.
    const QString name = win(target);
    const HANDLE file = CreateFileW(w(name), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = lastError();
        return false;
    }
    CloseHandle(file);
    return true;
}

bool rename(const QString &from, const QString &to, QString *reason)
{
    const QString source = win(from);
    const QString target = win(to);
    if (MoveFileExW(w(source), w(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (reason)
        *reason = lastError();
    return false;
}

bool link(const QString &existing, const QString &newName)
{
    const QString source = win(existing);
    const QString second = win(newName);
    return CreateHardLinkW(w(second), w(source), nullptr);
}

bool remove(const QString &path)
{
    const QString name = win(path);
    return DeleteFileW(w(name));
}

// A folder's names need no step of their own on Windows: its file systems
// keep them in their journal, and every rename the run makes is written
// through (MOVEFILE_WRITE_THROUGH) before it returns.
void syncFolder(const QString &) {}

QStringList namesIn(const QString &folder)
{
    QStringList names;
    const QString pattern = win(folder) + QLatin1String("\\*");
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(w(pattern), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names << name;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

QString uniqueTag()
{
    // The system's own generator: each process draws its own.
    const quint64 value = QRandomGenerator::system()->generate64();
    return QStringLiteral("%1").arg(value, 16, 16, QLatin1Char('0'));
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

QString nameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace run::fs
