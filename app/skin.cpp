#include "app/skin.h"

#include "app/log.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QStyleFactory>

#include <algorithm>

// The theme lives in a static library: its resource must be registered by name.
static void registerSkinResource()
{
    Q_INIT_RESOURCE(skin);
}

namespace skin {

namespace {
// Light and small fonts that hold the Chinese glyphs, best first: the default
// CJK fonts of some systems are several times larger in memory. Only one that
// is installed may be asked for: a missing family falls back to whatever the
// system enumerates first (under Wine a maths font, in which edit boxes draw
// no text at all).
#ifdef Q_OS_WIN
constexpr const char *kFontFamilies[] = {"Microsoft YaHei", "SimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC"};
#else
constexpr const char *kFontFamilies[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei", "SimSun"};
#endif

void clampAdjustments(int &hue, int &saturation)
{
    hue = std::clamp(hue, -180, 180);
    saturation = std::clamp(saturation, -100, 100);
}
} // namespace

QColor adjustColor(const QColor &color, int hue, int saturation)
{
    clampAdjustments(hue, saturation);
    if (hue == 0 && saturation == 0)
        return color;
    int h = 0, s = 0, v = 0, a = 0;
    color.getHsv(&h, &s, &v, &a);
    if (h >= 0) // grey has no hue to turn
        h = ((h + hue) % 360 + 360) % 360;
    s = std::clamp(s * (100 + saturation) / 100, 0, 255);
    return QColor::fromHsv(h < 0 ? 0 : h, h < 0 ? 0 : s, v, a).toRgb();
}

QString adjustStyleSheet(const QString &styleSheet, int hue, int saturation)
{
    static const QRegularExpression colour(QStringLiteral("#[0-9a-fA-F]{6}\\b"));
    QString out;
    out.reserve(styleSheet.size());
    qsizetype last = 0;
    for (auto it = colour.globalMatch(styleSheet); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(styleSheet).mid(last, m.capturedStart() - last);
        out += adjustColor(QColor(m.captured()), hue, saturation).name();
        last = m.capturedEnd();
    }
    out += QStringView(styleSheet).mid(last);
    return out;
}

QPalette skinPalette(int hue, int saturation)
{
    auto c = [hue, saturation](const char *hex) { return adjustColor(QColor(QLatin1String(hex)), hue, saturation); };
    QPalette p;
    p.setColor(QPalette::Window, c("#f3f6fa"));
    p.setColor(QPalette::WindowText, c("#1f2d3d"));
    p.setColor(QPalette::Base, c("#ffffff"));
    p.setColor(QPalette::AlternateBase, c("#eef3f9"));
    p.setColor(QPalette::Text, c("#1f2d3d"));
    p.setColor(QPalette::Button, c("#2f6fb2"));
    p.setColor(QPalette::ButtonText, c("#ffffff"));
    p.setColor(QPalette::Highlight, c("#2f6fb2"));
    p.setColor(QPalette::HighlightedText, c("#ffffff"));
    p.setColor(QPalette::ToolTipBase, c("#fbfcfe"));
    p.setColor(QPalette::ToolTipText, c("#1f2d3d"));
    p.setColor(QPalette::Disabled, QPalette::WindowText, c("#8897a8"));
    p.setColor(QPalette::Disabled, QPalette::Text, c("#8897a8"));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, c("#e8edf3"));
    return p;
}

QString themeStyleSheet()
{
    registerSkinResource();
    QFile file(QStringLiteral(":/skin/tolvar.qss"));
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp) << "the skin's style sheet is missing from the program:" << file.errorString();
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

QString preferredFontFamily()
{
    for (const char *family : kFontFamilies) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family)))
            return QString::fromLatin1(family);
    }
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!chinese.isEmpty())
        return chinese.first();
    qCWarning(lcApp) << "no font with Chinese glyphs is installed; the windows use the system's default font";
    return {};
}

void attachSkin(int hue, int saturation)
{
    clampAdjustments(hue, saturation);
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app)
        return;
    // Fusion draws the same on every system, so the theme looks alike everywhere.
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);
    const QString family = preferredFontFamily();
    if (!family.isEmpty()) {
        QFont font = QApplication::font();
        font.setFamilies({family});
        QApplication::setFont(font);
    }
    QApplication::setPalette(skinPalette(hue, saturation));
    app->setStyleSheet(adjustStyleSheet(themeStyleSheet(), hue, saturation));
}

} // namespace skin
