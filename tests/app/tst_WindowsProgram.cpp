// The Windows program files as Windows sees them: the resources the system
// reads from them (the icon, the manifest, the version) and the show state
// a starter passes the window program. Only the Windows build has them; on
// any other system every test here says so and skips.
#include <QTest>

#ifdef Q_OS_WIN
#include <QDir>
#include <QProcessEnvironment>

#include <windows.h>
#endif

class tst_WindowsProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void iconAtEverySize();
    void manifest_data();
    void manifest();
    void version_data();
    void version();
    void startupShowState_data();
    void startupShowState();
};

void tst_WindowsProgram::init()
{
#ifndef Q_OS_WIN
    QSKIP("resources and start-up show commands are Windows'; this is not the Windows build");
#endif
}

#ifdef Q_OS_WIN

namespace {

QString program(const QString &name)
{
    return QDir::toNativeSeparators(QStringLiteral(REINDEX_BIN_DIR "/") + name);
}

LPCWSTR w(const QString &s)
{
    return reinterpret_cast<LPCWSTR>(s.utf16());
}

// A program file opened for its resources only.
class Resources
{
public:
    explicit Resources(const QString &path)
        : module_(LoadLibraryExW(w(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~Resources()
    {
        if (module_)
            FreeLibrary(module_);
    }
    bool isOpen() const { return module_ != nullptr; }
    QByteArray bytes(LPCWSTR name, LPCWSTR type) const
    {
        const HRSRC found = FindResourceW(module_, name, type);
        if (!found)
            return QByteArray();
        const HGLOBAL loaded = LoadResource(module_, found);
        const auto *data = static_cast<const char *>(LockResource(loaded));
        return data ? QByteArray(data, int(SizeofResource(module_, found))) : QByteArray();
    }

private:
    HMODULE module_;
};

#pragma pack(push, 2)
struct IconDirectoryEntry
{
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

QString versionValue(const QByteArray &info, const QString &key)
{
    void *value = nullptr;
    UINT length = 0;
    const QString path = QStringLiteral("\\StringFileInfo\\041904B0\\") + key;
    if (!VerQueryValueW(info.constData(), w(path), &value, &length) || length == 0)
        return QString();
    return QString::fromWCharArray(static_cast<const wchar_t *>(value), int(length) - 1);
}

// The visible top-level window of a process, once it has one.
HWND windowOf(DWORD process)
{
    struct Search
    {
        DWORD process;
        HWND found;
    } search{process, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM p) -> BOOL {
            auto *s = reinterpret_cast<Search *>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            wchar_t title[64] = {};
            GetWindowTextW(hwnd, title, 64);
            if (owner == s->process && IsWindowVisible(hwnd)
                && QString::fromWCharArray(title) == QStringLiteral(u"Переиндексация БД")) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

#endif

void tst_WindowsProgram::iconAtEverySize()
{
#ifdef Q_OS_WIN
    const Resources file(program(QStringLiteral("reindex.exe")));
    QVERIFY(file.isOpen());
    const QByteArray group = file.bytes(L"MAINICON", MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    QVERIFY2(group.size() >= 6, "no icon named MAINICON");
    const int count = *reinterpret_cast<const WORD *>(group.constData() + 4);
    QCOMPARE(group.size(), 6 + count * int(sizeof(IconDirectoryEntry)));
    QStringList sizes;
    for (int i = 0; i < count; ++i) {
        const auto *e = reinterpret_cast<const IconDirectoryEntry *>(group.constData() + 6 + i * sizeof(IconDirectoryEntry));
        sizes << QStringLiteral("%1x%2").arg(e->width).arg(e->bitCount);
    }
    sizes.sort();
    // 256 colours at 16, 32 and 48 pixels; 32-bit colour at 16, 24, 32, 48 and 128.
    QStringList expected{"16x8", "32x8", "48x8", "16x32", "24x32", "32x32", "48x32", "128x32"};
    expected.sort();
    QCOMPARE(sizes, expected);
#endif
}

void tst_WindowsProgram::manifest_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("the window") << "reindex.exe";
    QTest::newRow("the twin") << "reindex-cli.exe";
}

void tst_WindowsProgram::manifest()
{
#ifdef Q_OS_WIN
    QFETCH(QString, name);
    const Resources file(program(name));
    QVERIFY(file.isOpen());
    const QString text = QString::fromUtf8(file.bytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))); // RT_MANIFEST
    QVERIFY2(!text.isEmpty(), "no manifest");
    // Never asks to be elevated, and draws its controls in the current style.
    QVERIFY(text.contains(QLatin1String("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>")));
    QVERIFY(text.contains(QLatin1String("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"")));
    QVERIFY(text.contains(QLatin1String("publicKeyToken=\"6595b64144ccf1df\"")));
#endif
}

void tst_WindowsProgram::version_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::newRow("the window") << "reindex.exe" << QStringLiteral(u"Переиндексация БД");
    QTest::newRow("the twin") << "reindex-cli.exe" << QStringLiteral(u"Переиндексация БД: без окна, для сценариев");
}

void tst_WindowsProgram::version()
{
#ifdef Q_OS_WIN
    QFETCH(QString, name);
    QFETCH(QString, description);
    const QString path = program(name);
    const DWORD size = GetFileVersionInfoSizeW(w(path), nullptr);
    QVERIFY2(size > 0, "no version information");
    QByteArray info(int(size), '\0');
    QVERIFY(GetFileVersionInfoW(w(path), 0, size, info.data()));
    QCOMPARE(versionValue(info, QStringLiteral("FileDescription")), description);
    QCOMPARE(versionValue(info, QStringLiteral("ProductName")), QStringLiteral(u"Переиндексация БД"));
    QCOMPARE(versionValue(info, QStringLiteral("OriginalFilename")), name);
    QCOMPARE(versionValue(info, QStringLiteral("FileVersion")), QStringLiteral(REINDEX_VERSION));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    QVERIFY(VerQueryValueW(info.constData(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    const QStringList parts = QStringLiteral(REINDEX_VERSION).split(u'.');
    QCOMPARE(int(HIWORD(fixed->dwFileVersionMS)), parts.value(0).toInt());
    QCOMPARE(int(LOWORD(fixed->dwFileVersionMS)), parts.value(1).toInt());
    QCOMPARE(int(HIWORD(fixed->dwFileVersionLS)), parts.value(2).toInt());
#endif
}

void tst_WindowsProgram::startupShowState_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("state");
    // Windows' SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED, SW_SHOWNORMAL and SW_SHOWMINIMIZED.
    QTest::newRow("a shortcut set to Minimized") << 7 << "minimized";
    QTest::newRow("a shortcut set to Maximized") << 3 << "maximized";
    QTest::newRow("a shortcut set to Normal") << 1 << "normal";
    QTest::newRow("minimized and activated: normal") << 2 << "normal";
}

// The window program started as a shortcut starts it: the show command in
// its start-up information decides how its window first shows.
void tst_WindowsProgram::startupShowState()
{
#ifdef Q_OS_WIN
    QFETCH(int, command);
    QFETCH(QString, state);
    // The window program on the system's own platform, not on the tests' offscreen one.
    QString environment;
    for (const QString &v : QProcessEnvironment::systemEnvironment().toStringList())
        if (!v.startsWith(QLatin1String("QT_QPA_PLATFORM="), Qt::CaseInsensitive))
            environment += v + QChar(u'\0');
    environment += QChar(u'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = WORD(command);
    PROCESS_INFORMATION started = {};
    QString commandLine = QLatin1Char('"') + program(QStringLiteral("reindex.exe")) + QLatin1Char('"');
    QVERIFY(CreateProcessW(nullptr, reinterpret_cast<LPWSTR>(commandLine.data()), nullptr, nullptr, FALSE,
                           CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &started));
    HWND window = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((window = windowOf(started.dwProcessId)) != nullptr, 60000);
    const QString shown = IsIconic(window) ? QStringLiteral("minimized")
                          : IsZoomed(window) ? QStringLiteral("maximized")
                                             : QStringLiteral("normal");
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(started.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(started.hProcess, 1);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    QCOMPARE(shown, state);
#endif
}

QTEST_GUILESS_MAIN(tst_WindowsProgram)
#include "tst_WindowsProgram.moc"
