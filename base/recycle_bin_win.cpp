#include "base/recycle_bin.h"

#include "base/log.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <string>

#include <windows.h>
#include <shellapi.h>

namespace recyclebin {

// The shell's file operation with undo, as the recycle bin of Explorer:
// it works on every Windows and under Wine, where the newer IFileOperation
// that QFile::moveToTrash uses is missing.
bool moveToRecycleBin(const QString &path)
{
    std::wstring from = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
    from.push_back(L'\0'); // the list ends with two NULs
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    const int rc = ::SHFileOperationW(&op);
    if (rc == 0 && !op.fAnyOperationsAborted && !QFileInfo::exists(path))
        return true;
    qCWarning(lcBase) << "recycle bin: SHFileOperation did not move" << path << "code" << rc;
    return false;
}

} // namespace recyclebin
