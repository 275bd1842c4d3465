#include "form/window_layout.h"

namespace {

using K = ControlKind;

ControlDef def(const char *name, K kind, const char *parent, const QString &text, QRect geometry, bool checked = false, const char *group = "")
{
    return ControlDef{QString::fromUtf8(name), kind, QString::fromUtf8(parent), text, geometry, checked, QString::fromUtf8(group), false};
}

ControlDef multi(ControlDef d)
{
    d.multiLine = true;
    return d;
}

// Page names of the tab controls; a control on a page has the parent "tabs#index".
const char *kMainPage = "选择夹1#0";
const char *kSettingsPage = "选择夹1#1";
const char *kBrowserPage = "选择夹1#2";

QList<ControlDef> buildMainLayout()
{
    const QString t = QString();
    return {
        // Top level.
        def("开始", K::Button, "", QStringLiteral("开始"), {616, 8, 64, 40}),
        def("按钮1", K::Button, "", QStringLiteral("重启软件"), {849, 8, 72, 40}),
        def("按钮26", K::Button, "", QStringLiteral("关闭软件"), {928, 8, 72, 40}),
        def("选择夹1", K::TabControl, "", QStringLiteral("主界面|设置|浏览器"), {8, 11, 592, 477}),
        def("分组框6", K::GroupBox, "", QStringLiteral("账号列表（右键点击操作）"), {608, 64, 408, 416}),
        def("状态条1", K::StatusBar, "", QStringLiteral("|||"), {2, 499, 1020, 20}),

        // The account list group.
        def("超级列表框1", K::List, "分组框6", t, {8, 20, 392, 330}),
        def("标签5", K::Label, "分组框6", QStringLiteral("当前发布第             个账号"), {8, 358, 200, 22}),
        def("编辑框_账号序列", K::Edit, "分组框6", QStringLiteral("1"), {72, 357, 48, 22}),
        def("选择框_获取详细信息", K::Check, "分组框6", QStringLiteral("读取账号详细信息"), {220, 358, 170, 22}),
        def("按钮_保存账号", K::Button, "分组框6", QStringLiteral("保存设置"), {8, 384, 120, 26}),
        def("按钮_读取所有账号", K::Button, "分组框6", QStringLiteral("读取所有账号"), {136, 384, 120, 26}),

        // Page "主界面": upload settings.
        def("分组框2", K::GroupBox, kMainPage, QStringLiteral("上传设置（如果不给账号配置目录，会默认使用下面目录的视频素材）"), {8, 8, 570, 158}),
        def("标签1", K::Label, "分组框2", QStringLiteral("账号视频素材目录："), {10, 24, 120, 22}),
        def("编辑框_视频素材目录", K::Edit, "分组框2", t, {130, 22, 340, 24}),
        def("按钮8", K::Button, "分组框2", QStringLiteral("浏览"), {478, 21, 80, 26}),
        def("标签8", K::Label, "分组框2", QStringLiteral("账号标识："), {10, 56, 120, 22}),
        def("编辑框_账号标识", K::Edit, "分组框2", QStringLiteral("100"), {130, 54, 100, 24}),
        def("按钮_删除本账号", K::Button, "分组框2", QStringLiteral("删除本账号"), {238, 53, 100, 26}),
        def("按钮_修改账号信息", K::Button, "分组框2", QStringLiteral("修改账号信息"), {346, 53, 100, 26}),
        def("按钮14", K::Button, "分组框2", QStringLiteral("配置登陆此账号"), {454, 53, 104, 26}),
        def("标签14", K::Label, "分组框2", t, {10, 84, 548, 20}),
        def("选择框1", K::Check, "分组框2", QStringLiteral("每个账号使用不同的分类（开发中）"), {10, 104, 300, 22}),
        // The proxy of the account being edited, in the free right end of the last line.
        def("标签_代理", K::Label, "分组框2", QStringLiteral("代理："), {316, 106, 44, 20}),
        def("编辑框_代理", K::Edit, "分组框2", t, {360, 104, 198, 22}),
        // Where the account's browser runs, a line of its own: an endpoint's address is long.
        def("标签_浏览器地址", K::Label, "分组框2", QStringLiteral("浏览器："), {10, 132, 120, 22}),
        def("编辑框_浏览器地址", K::Edit, "分组框2", t, {130, 130, 428, 22}),

        // Page "主界面": job control.
        def("分组框_控制", K::GroupBox, kMainPage, QStringLiteral("任务控制（如果你的账号限制30个，这里设置上传30个切换即可）"), {8, 172, 570, 96}),
        def("选择框_切换账号", K::Check, "分组框_控制", QStringLiteral("上传            个视频后切换账号(不勾选每个账号发1个后就切换)"), {10, 22, 400, 22}, true),
        def("编辑框_单账号上传", K::Edit, "分组框_控制", QStringLiteral("3"), {62, 21, 48, 22}),
        def("单选框1", K::Radio, "分组框_控制", QStringLiteral("使用平台官方创作者接口（非创作者账号也可以发布）"), {10, 46, 400, 22}, true, "接口"),
        def("按钮3", K::Button, "分组框_控制", QStringLiteral("设置为作者推荐配置"), {420, 22, 140, 28}),
        def("标签_耗时", K::Label, "分组框_控制", t, {10, 70, 548, 20}),

        // Page "主界面": inner tabs.
        def("选择夹2", K::TabControl, kMainPage, QStringLiteral("原创标签和分类|封面图选项|标签选项|标题选项|上传视频设置"), {8, 274, 570, 168}),
        def("选择框_保存草稿", K::Check, "选择夹2#0", QStringLiteral("只保存草稿，不发布"), {10, 10, 200, 22}),
        def("选择框_同步抖音", K::Check, "选择夹2#0", QStringLiteral("同步到平台旗下的短视频应用"), {220, 10, 300, 22}),
        def("选择框_加水印", K::Check, "选择夹2#0", QStringLiteral("加专属版权水印（仅原创视频可以加）"), {10, 36, 300, 22}),
        def("单选框_原创", K::Radio, "选择夹2#0", QStringLiteral("原创视频"), {10, 62, 100, 22}, false, "原创"),
        def("单选框_转载", K::Radio, "选择夹2#0", QStringLiteral("转载视频"), {120, 62, 100, 22}, false, "原创"),
        def("标签11", K::Label, "选择夹2#0", QStringLiteral("视频分类："), {10, 92, 80, 22}),
        def("组合框_一级分类", K::Combo, "选择夹2#0", t, {90, 90, 150, 24}),
        def("组合框_二级分类", K::Combo, "选择夹2#0", t, {248, 90, 150, 24}),
        def("按钮4", K::Button, "选择夹2#0", QStringLiteral("刷新分类"), {406, 89, 90, 26}),

        def("单选框_选择视频_随机", K::Radio, "选择夹2#4", QStringLiteral("随机选取视频（推荐）"), {10, 10, 250, 22}, true, "选择视频"),
        def("单选框_选择视频_顺序", K::Radio, "选择夹2#4", QStringLiteral("按照顺序选取视频"), {10, 36, 250, 22}, false, "选择视频"),
        def("选择框_读取子文件夹", K::Check, "选择夹2#4", QStringLiteral("读取子文件夹内的视频     选中后，账号上传的时候，会读取子文件夹下面的视频"), {10, 62, 540, 22}, true),

        def("单选框_本地封面", K::Radio, "选择夹2#1", QStringLiteral("使用本地同名封面（和视频文件放一起的同名jpg文件）"), {10, 36, 500, 22}, false, "封面"),
        def("单选框_系统封面_随机", K::Radio, "选择夹2#1", QStringLiteral("随机选择系统封面图"), {10, 10, 300, 22}, true, "封面"),
        def("单选框_本地随机封面", K::Radio, "选择夹2#1", QStringLiteral("随机调用此文件夹的jpg文件做封面"), {10, 62, 250, 22}, false, "封面"),
        def("编辑框_随机封面目录", K::Edit, "选择夹2#1", t, {10, 88, 500, 24}),

        // Page "设置".
        def("分组框1", K::GroupBox, kSettingsPage, QStringLiteral("标题前后附加信息："), {8, 8, 570, 140}),
        multi(def("编辑框_标题前", K::Edit, "分组框1", t, {10, 22, 270, 108})),
        multi(def("编辑框_标题后", K::Edit, "分组框1", t, {290, 22, 270, 108})),
        def("分组框3", K::GroupBox, kSettingsPage, QStringLiteral("上传配置"), {8, 154, 570, 130}),
        def("标签2", K::Label, "分组框3", QStringLiteral("视频上传间隔                 秒"), {10, 24, 220, 22}),
        def("编辑框_视频间隔", K::Edit, "分组框3", QStringLiteral("120"), {96, 22, 60, 22}),
        def("选择框_自动循环", K::Check, "分组框3", QStringLiteral("循环发布，账号用完后从第一个继续开始"), {10, 48, 400, 22}, true),
        def("选择框_自动放弃", K::Check, "分组框3", QStringLiteral("单个视频上传超过               秒直接放弃（推荐勾选，防止各种意外情况导致软件停止）"), {10, 72, 550, 22}, true),
        def("放弃秒", K::Edit, "分组框3", QStringLiteral("300"), {130, 71, 60, 22}),
        def("选择框_2账号间隔", K::Check, "分组框3", QStringLiteral("账号之间间隔时间              秒"), {10, 96, 300, 22}),
        def("编辑框_账号间隔", K::Edit, "分组框3", QStringLiteral("80"), {124, 95, 60, 22}),
        def("标签_同时账号数", K::Label, "分组框3", QStringLiteral("同时运行账号数："), {330, 96, 110, 22}),
        def("编辑框_同时账号数", K::Edit, "分组框3", QStringLiteral("1"), {440, 95, 60, 22}),
        def("分组框7", K::GroupBox, kSettingsPage, QStringLiteral("使用过的文件如何处理"), {8, 290, 570, 80}),
        def("单选框_删除", K::Radio, "分组框7", QStringLiteral("删除"), {10, 22, 80, 22}, true, "使用过"),
        def("单选框_移动", K::Radio, "分组框7", QStringLiteral("移动到指定目录"), {100, 22, 140, 22}, false, "使用过"),
        def("编辑框_使用过视频目录", K::Edit, "分组框7", t, {10, 48, 460, 24}),
        def("按钮9", K::Button, "分组框7", QStringLiteral("浏览"), {478, 47, 80, 26}),
        def("分组框_定时", K::GroupBox, kSettingsPage, QStringLiteral("定时发布（每天的发布时间，逗号分隔）"), {8, 376, 570, 56}),
        def("选择框_定时发布", K::Check, "分组框_定时", QStringLiteral("定时发布"), {10, 22, 90, 22}),
        def("编辑框_定时时间", K::Edit, "分组框_定时", QStringLiteral("08:00,12:00,18:00"), {110, 21, 300, 22}),

        // Page "主界面", inner tabs "标签选项" and "标题选项".
        def("单选框标签固定", K::Radio, "选择夹2#2", QStringLiteral("标签固定为（+号分割）"), {10, 10, 180, 22}, false, "标签"),
        def("编辑框_固定标签", K::Edit, "选择夹2#2", QStringLiteral("原创+视频"), {200, 9, 300, 22}),
        def("单选框_系统推荐标签", K::Radio, "选择夹2#2", QStringLiteral("自动使用         个系统推荐标签"), {10, 62, 300, 22}, false, "标签"),
        def("编辑框_系统标签个数", K::Edit, "选择夹2#2", QStringLiteral("8"), {84, 61, 40, 22}),
        def("单选框_混合标签", K::Radio, "选择夹2#2", QStringLiteral("固定标签+系统标签补够               个"), {10, 88, 300, 22}, true, "标签"),
        def("编辑框_混合标签个数", K::Edit, "选择夹2#2", QStringLiteral("10"), {152, 87, 40, 22}),
        def("单选框ai标签", K::Radio, "选择夹2#2", QStringLiteral("使用ai自动生成标签(开发中，即将发布)"), {10, 36, 300, 22}, false, "标签"),
        def("单选框3", K::Radio, "选择夹2#3", QStringLiteral("使用视频文件名当做标题"), {10, 10, 180, 22}, false, "标题"),
        def("单选框4", K::Radio, "选择夹2#3", QStringLiteral("从标题库随机选择标题"), {196, 10, 170, 22}, false, "标题"),
        def("单选框5", K::Radio, "选择夹2#3", QStringLiteral("从标题库按照顺序选择标题"), {372, 10, 190, 22}, false, "标题"),
        multi(def("编辑框3", K::Edit, "选择夹2#3", t, {10, 36, 400, 92})),
        def("标签4", K::Label, "选择夹2#3", t, {420, 36, 140, 92}),

        // Page "浏览器".
        def("按钮11", K::Button, kBrowserPage, QStringLiteral("获取当前浏览器版本"), {8, 8, 150, 30}),
        def("按钮_检测发布页面", K::Button, kBrowserPage, QStringLiteral("检测发布页面"), {8, 46, 150, 30}),
        def("标签_版本", K::Label, kBrowserPage, t, {166, 8, 410, 120}),
        def("标签15", K::Label, kBrowserPage, QStringLiteral("软件运行位置"), {8, 136, 568, 22}),
        def("分组框15", K::GroupBox, kBrowserPage, QStringLiteral("浏览器信息（浏览器能正常打开，不用理会这里的内容）"), {8, 166, 570, 200}),
        def("标签7", K::Label, "分组框15", QStringLiteral("google浏览器全路径："), {10, 24, 140, 22}),
        def("编辑框_google", K::Edit, "分组框15", QStringLiteral("C:\\Users\\Administrator\\AppData\\Local\\Google\\Chrome\\Application\\chrome.exe"), {150, 22, 410, 24}),
        def("标签3", K::Label, "分组框15",
            QStringLiteral("默认不需要配置浏览器路径，自动读取，如果自动读取失败，会使用自定义配置的路径。\r\n\r\n如果你已经安装了浏览器，但是还是提示安装，就需要在这里配置。"),
            {10, 54, 550, 80}),
        def("按钮16", K::Button, "分组框15", QStringLiteral("浏览器异常修复"), {10, 150, 140, 30}),
    };
}

QList<ControlDef> buildStartLayout()
{
    return {
        def("图片框_广告", K::Picture, "", QString(), {10, 10, 720, 100}),
        def("透明标签_更新", K::Label, "", QString(), {10, 120, 560, 24}),
        def("超级按钮_打开", K::Button, "", QStringLiteral("打开最新版"), {590, 116, 140, 32}),
        def("状态条1", K::StatusBar, "", QStringLiteral("||"), {0, 160, 740, 20}),
    };
}

} // namespace

const QList<ControlDef> &mainWindowLayout()
{
    static const QList<ControlDef> layout = buildMainLayout();
    return layout;
}

const QList<ControlDef> &startWindowLayout()
{
    static const QList<ControlDef> layout = buildStartLayout();
    return layout;
}

void declareControls(Form &form, const QList<ControlDef> &layout)
{
    for (const ControlDef &d : layout)
        form.addControl(d.name, d.kind, d.text, d.checked, d.group);
}
