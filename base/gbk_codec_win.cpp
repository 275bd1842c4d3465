#include "base/gbk.h"

#include "base/log.h"

#include <QDebug>

#include <climits>

#include <windows.h>

// Code page 936 through the system's own conversion, as the older program
// wrote its files: 0x80 is the euro sign, and what 936 cannot hold becomes '?'.
namespace gbk {

namespace {
constexpr UINT kCodePage = 936;
}

bool isAvailable()
{
    return ::IsValidCodePage(kCodePage) != 0;
}

QByteArray encode(QStringView text)
{
    if (text.isEmpty())
        return {};
    if (text.size() > INT_MAX / 4) {
        qCCritical(lcBase, "gbk: text of %lld characters is too long to convert", static_cast<long long>(text.size()));
        return {};
    }
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(kCodePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        qCCritical(lcBase, "gbk: WideCharToMultiByte(936) failed, error %lu", ::GetLastError());
        return {};
    }
    QByteArray out(needed, Qt::Uninitialized);
    ::WideCharToMultiByte(kCodePage, 0, wide, length, out.data(), needed, nullptr, nullptr);
    return out;
}

QString decode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    if (bytes.size() > INT_MAX) {
        qCCritical(lcBase, "gbk: %lld bytes are too many to convert", static_cast<long long>(bytes.size()));
        return {};
    }
    const int length = static_cast<int>(bytes.size());
    const int needed = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) {
        qCCritical(lcBase, "gbk: MultiByteToWideChar(936) failed, error %lu", ::GetLastError());
        return {};
    }
    QString out(needed, Qt::Uninitialized);
    ::MultiByteToWideChar(kCodePage, 0, bytes.data(), length, reinterpret_cast<wchar_t *>(out.data()), needed);
    return out;
}

} // namespace gbk
