#include "app/main_commands.h"

#include "upload/category_choice.h"

#include "app/settings_file.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "form/form.h"
#include "upload/category_choice.h"
#include "upload/title_source.h"

#include <QDir>

MainCommands::MainCommands(Form &form, QObject *parent)
    : CommandRegistry(form, parent)
{
    connect(&m_form, &Form::changed, this, &MainCommands::onChanged, Qt::AutoConnection);

    showLibrarySize();
    addCommand(QStringLiteral("按钮_保存账号"), [this] { saveSettingsCommand(); });
    addCommand(QStringLiteral("按钮3"), [this] { applyRecommendedSettings(); });
    addCommand(QStringLiteral("单选框_移动"), [this] { chooseMoveUsedVideos(); });
    addCommand(QStringLiteral("按钮26"), [this] { closeCommand(); });
    addCommand(QStringLiteral("标签15"), [this] {
        if (m_openFolder)
            m_openFolder(m_form.text(QStringLiteral("标签15")));
    });
}

void MainCommands::onChanged(const QString &name)
{
    if (name == QStringLiteral("编辑框_视频素材目录"))
        m_form.setText(QStringLiteral("标签14"), QStringLiteral("修改素材目录后，一定点击【修改账号信息】让设置生效"));
    else if (name == QStringLiteral("组合框_一级分类"))
        categories::fillSecondLevel(m_form, categories::keptTree());
    else if (name == QStringLiteral("编辑框3"))
        showLibrarySize();
}

void MainCommands::showLibrarySize()
{
    const qsizetype titles = TitleSource::libraryLines(m_form.text(QStringLiteral("编辑框3"))).size();
    m_form.setText(QStringLiteral("标签4"), QStringLiteral("标题库共%1个标题").arg(titles));
}

void MainCommands::saveSettingsCommand()
{
    settings::saveSettings(m_form);
    messagebox::show(QStringLiteral("保存成功"));
}

void MainCommands::applyRecommendedSettings()
{
    m_form.setChecked(QStringLiteral("选择框_自动循环"), true);
    m_form.setChecked(QStringLiteral("选择框_自动放弃"), true);
    m_form.setText(QStringLiteral("放弃秒"), QStringLiteral("300"));
    m_form.setText(QStringLiteral("编辑框_视频间隔"), QStringLiteral("20"));
    m_form.setText(QStringLiteral("按钮3"), QStringLiteral("已设置为作者推荐"));
}

void MainCommands::chooseMoveUsedVideos()
{
    const QString key = QStringLiteral("编辑框_使用过视频目录");
    if (!m_form.text(key).isEmpty())
        return;
    const QString folder = rundir::join(u"已使用视频");
    m_form.setText(key, folder);
    QDir().mkpath(folder);
}

void MainCommands::closeCommand()
{
    if (m_hideWindow)
        m_hideWindow();
    destroyHandling();
}

void MainCommands::destroyHandling()
{
    if (m_ending)
        return;
    m_ending = true;
    if (m_unregisterHotKey)
        m_unregisterHotKey();
    settings::saveSettings(m_form);
    if (m_exitProcess)
        m_exitProcess();
}
