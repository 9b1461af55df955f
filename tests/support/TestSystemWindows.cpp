#include "TestSystem.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#include <aclapi.h>

#include <memory>

namespace testSystem {

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString systemText(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = n > 0 ? QString::fromWCharArray(buffer, int(n)) : QString();
    LocalFree(buffer);
    while (!text.isEmpty() && (text.back() <= u' ' || text.back() == u'.'))
        text.chop(1);
    return text;
}

// The user this process runs as.
std::unique_ptr<char[]> currentUser()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto buffer = std::make_unique<char[]>(size);
    const bool ok = GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
    CloseHandle(token);
    return ok ? std::move(buffer) : nullptr;
}

PSID sidOf(const std::unique_ptr<char[]> &user)
{
    return reinterpret_cast<TOKEN_USER *>(user.get())->User.Sid;
}

} // namespace

QString programName(const QString &name)
{
    return name + QLatin1String(".exe");
}

bool symlink(const QString &target, const QString &link)
{
    // Windows wants to know whether the link is to a folder; a relative
    // target is asked about from the link's folder.
    const QString seen = QDir::isAbsolutePath(target) ? target : QFileInfo(link).dir().filePath(target);
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (QFileInfo(seen).isDir())
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    // Some systems (Wine among them) say yes and make nothing: a link is only
    // one once its name is there as a reparse point.
    if (!CreateSymbolicLinkW(native(link).c_str(), native(target).c_str(), flags))
        return false;
    const DWORD a = GetFileAttributesW(native(link).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool hardLink(const QString &existing, const QString &newName)
{
    return CreateHardLinkW(native(newName).c_str(), native(existing).c_str(), nullptr);
}

bool makeReadOnly(const QString &path)
{
    const DWORD a = GetFileAttributesW(native(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(native(path).c_str(), a | FILE_ATTRIBUTE_READONLY);
}

bool makeWritable(const QString &path)
{
    const DWORD a = GetFileAttributesW(native(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(native(path).c_str(), a & ~FILE_ATTRIBUTE_READONLY);
}

// Windows has no group of a file that reads it by right: the owner alone.
bool restrictToOwner(const QString &path, Readers)
{
    const std::unique_ptr<char[]> user = currentUser();
    if (!user)
        return false;
    EXPLICIT_ACCESS_W access = {};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sidOf(user));
    PACL acl = nullptr;
    if (SetEntriesInAclW(1, &access, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    std::wstring name = native(path);
    // Protected: nothing inherited from the folder is let in.
    const DWORD rc = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, acl, nullptr);
    LocalFree(acl);
    return rc == ERROR_SUCCESS;
}

bool isRestrictedToOwner(const QString &path, Readers)
{
    const std::unique_ptr<char[]> user = currentUser();
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!user
        || GetNamedSecurityInfoW(native(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 &acl, nullptr, &descriptor)
               != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool only = acl && GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED)
                && acl->AceCount == 1;
    if (only) {
        void *ace = nullptr;
        only = GetAce(acl, 0, &ace) && static_cast<ACE_HEADER *>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE
               && EqualSid(&static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart, sidOf(user));
    }
    LocalFree(descriptor);
    return only;
}

bool namesAreBytes()
{
    return false;
}

bool namesMayHoldControlCharacters()
{
    return false;
}

bool makeFifo(const QString &)
{
    return false;
}

bool isFifo(const QString &)
{
    return false;
}

QString deniedText()
{
    return systemText(ERROR_ACCESS_DENIED);
}

QString noSuchFileText()
{
    return systemText(ERROR_FILE_NOT_FOUND);
}

QString noSuchFolderText()
{
    return systemText(ERROR_PATH_NOT_FOUND);
}

} // namespace testSystem
