#include "accounts/account_document.h"
#include "accounts/account_id.h"
#include "accounts/account_store.h"
#include "accounts/account_table.h"
#include "form/form.h"
#include "form/window_layout.h"
#include "base/gbk.h"
#include "base/message_box.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QSet>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace accounts;

namespace {

class RecordingPresenter final : public messagebox::Presenter {
public:
    messagebox::Answer show(const QString &, const QString &text, messagebox::Buttons) override
    {
        shown.append(text);
        return messagebox::Answer::Ok;
    }
    QStringList shown;
};

class AccountStoreTest : public ::testing::Test {
protected:
    AccountStoreTest()
    {
        declareControls(form, mainWindowLayout());
        QDir().mkpath(accountListDirectory());
        accountDocument().clear();
        messagebox::setPresenter(&presenter);
    }
    ~AccountStoreTest() override { messagebox::setPresenter(nullptr); }

    void writeAccount(const QString &name, const QByteArray &json)
    {
        testsupport::writeAll(run.file("data/list/" + name + ".json"), json);
    }
    QString member(const QString &id, const QString &key)
    {
        AccountDocument doc;
        doc.loadFile(accountFilePath(id));
        return doc.value(key);
    }

    testsupport::TempRunDir run;
    Form form;
    AccountTable table;
    RecordingPresenter presenter;
};

} // namespace

TEST_F(AccountStoreTest, NewIdsAreTheSmallestFreeNumberFrom100)
{
    form.setText("编辑框_视频素材目录", "/videos/a");
    addAccount(form, table);
    EXPECT_EQ(form.text("编辑框_账号标识"), "100");
    EXPECT_EQ(table.row(0).mid(0, 5), (QStringList{"1", "", "/videos/a", "100", "已添加"}));
    EXPECT_EQ(currentRow.load(), 0);
    EXPECT_EQ(member("100", "昵称"), "自动获取");
    EXPECT_EQ(member("100", "素材目录"), "/videos/a");
    EXPECT_EQ(member("100", "缓存id"), "100");

    writeAccount("102", R"({"缓存id":"102"})");
    addAccount(form, table);
    EXPECT_EQ(form.text("编辑框_账号标识"), "101");
    addAccount(form, table);
    EXPECT_EQ(form.text("编辑框_账号标识"), "103");
    EXPECT_EQ(currentRow.load(), 2);
}

TEST_F(AccountStoreTest, ListingUsesTheCacheIdAndJunkFilesGiveEmptyRows)
{
    writeAccount("100", R"({"昵称":"甲","素材目录":"/v/a","缓存id":"100"})");
    writeAccount("200", R"({"昵称":"乙","素材目录":"/v/b","缓存id":"777"})");
    writeAccount("300", "not json at all");
    writeAccount("400", gbk::encode(u"{\"昵称\":\"丙\",\"缓存id\":\"400\"}"));
    QByteArray big(10 * 1024 * 1024, ' ');
    big.prepend("{\"昵称\":\"大\",\"缓存id\":\"500\",\"x\":\"");
    big.append("\"}");
    writeAccount("500", big);
    testsupport::writeAll(run.file("data/list/notes.txt"), "ignored");
    testsupport::writeAll(run.file("data/list/sub/600.json"), R"({"缓存id":"600"})");

    loadAllAccounts(table);
    ASSERT_EQ(table.rowCount(), 5);
    QStringList ids;
    for (int r = 0; r < table.rowCount(); ++r) {
        EXPECT_EQ(table.cell(r, AccountTable::Number), QString::number(r + 1));
        ids.append(table.cell(r, AccountTable::AccountId));
        if (table.cell(r, AccountTable::Nickname) == "乙") {
            EXPECT_EQ(table.cell(r, AccountTable::AccountId), "777");
        }
    }
    ids.sort();
    EXPECT_EQ(ids, (QStringList{"", "100", "400", "500", "777"}));
    EXPECT_EQ(currentRow.load(), 4);
}

TEST_F(AccountStoreTest, EditingAnIdWithoutAFileCreatesItAndTheRowKeepsItsPlace)
{
    writeAccount("100", R"({"昵称":"甲","素材目录":"/v/a","缓存id":"100"})");
    writeAccount("101", R"({"昵称":"乙","素材目录":"/v/b","缓存id":"101"})");
    loadAllAccounts(table);
    currentRow = 0;
    const QString firstId = table.cell(0, AccountTable::AccountId);
    form.setText("编辑框_账号标识", "150");
    form.setText("编辑框_视频素材目录", "/v/new");
    saveAccountEdits(form, table);
    EXPECT_TRUE(QFile::exists(accountFilePath("150")));
    EXPECT_TRUE(QFile::exists(accountFilePath(firstId))); // the old file stays
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.row(0).mid(0, 4), (QStringList{"1", table.cell(0, 1), "/v/new", "150"}));
    EXPECT_EQ(member("150", "素材目录"), "/v/new");
    EXPECT_EQ(member("150", "昵称"), QString()); // nothing borrowed from another account
    EXPECT_TRUE(presenter.shown.isEmpty());
}

TEST_F(AccountStoreTest, EditingAnAccountKeepsItsOwnMembers)
{
    writeAccount("100", R"({"昵称":"甲","素材目录":"/v/a","缓存id":"100","甲的":"x"})");
    writeAccount("101", R"({"昵称":"乙","素材目录":"/v/b","缓存id":"101","乙的":"y"})");
    loadAllAccounts(table);
    // Whatever the shared document last held (the last file, or the job's context)...
    accountDocument().setValue("视频路径", "/v/a/x.mp4");
    currentRow = 1;
    form.setText("编辑框_账号标识", "101");
    form.setText("编辑框_视频素材目录", "/v/b2");
    saveAccountEdits(form, table);
    AccountDocument b;
    ASSERT_TRUE(b.loadFile(accountFilePath("101")));
    EXPECT_EQ(b.toJson(), QStringLiteral(R"({"昵称":"乙","素材目录":"/v/b2","缓存id":"101","乙的":"y"})"));
}

TEST_F(AccountStoreTest, EditsAreValidatedWithTheTwoMessages)
{
    form.setText("编辑框_账号标识", "");
    saveAccountEdits(form, table);
    form.setText("编辑框_账号标识", "100");
    form.setText("编辑框_视频素材目录", "");
    saveAccountEdits(form, table);
    EXPECT_EQ(presenter.shown, (QStringList{"账号标识 不能为空", "视频素材目录 不能为空"}));
    EXPECT_FALSE(QFile::exists(accountFilePath("100")));
}

// An id names a file and a profile folder: one that is no plain name is
// refused before anything is written, and never used to delete a file.
TEST_F(AccountStoreTest, EditsWithAnUnsafeIdAreRefusedAndWriteNothing)
{
    testsupport::writeAll(run.file("data/keep.json"), "{}");
    const auto allFiles = [&] {
        QStringList files;
        QDirIterator it(run.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        return files;
    };
    const QStringList before = allFiles();
    form.setText("编辑框_视频素材目录", "/v/a");
    for (const char *id : {"../x", "..\\x", "a:b", "CON", "nul.txt", "100.", ".."}) {
        form.setText("编辑框_账号标识", id);
        saveAccountEdits(form, table);
    }
    EXPECT_EQ(presenter.shown.size(), 7);
    EXPECT_EQ(presenter.shown.value(0), "账号标识 不能包含 \\ / : * ? \" < > | 等字符");
    EXPECT_EQ(presenter.shown.value(3), accountid::whyUnsafe("CON"));
    deleteAccountFile("../keep");
    deleteAccountFile("..\\keep");
    EXPECT_EQ(allFiles(), before);
    EXPECT_EQ(accountDocument().value("缓存id"), QString());
}

// Two rows with one id would share one browser profile: a new account never
// gets a listed id, and edits that would give a row another's are refused.
TEST_F(AccountStoreTest, NoTwoAccountsGetOneId)
{
    writeAccount("200", R"({"昵称":"甲","素材目录":"/v/a","缓存id":"100"})"); // 100 has no file of its name
    writeAccount("101", R"({"昵称":"乙","素材目录":"/v/b","缓存id":"101"})");
    loadAllAccounts(table);
    form.setText("编辑框_视频素材目录", "/v/c");
    addAccount(form, table);
    EXPECT_EQ(form.text("编辑框_账号标识"), "102");
    EXPECT_FALSE(QFile::exists(accountFilePath("100")));

    currentRow = table.rowOf("101");
    const QList<QStringList> rows = table.snapshot();
    form.setText("编辑框_账号标识", "100");
    form.setText("编辑框_视频素材目录", "/v/b2");
    saveAccountEdits(form, table);
    EXPECT_EQ(presenter.shown, QStringList{"账号标识重复"});
    EXPECT_EQ(table.snapshot(), rows);
    EXPECT_FALSE(QFile::exists(accountFilePath("100")));

    form.setText("编辑框_账号标识", "101"); // its own id is no other's
    saveAccountEdits(form, table);
    EXPECT_EQ(presenter.shown.size(), 1);
    EXPECT_EQ(member("101", "素材目录"), "/v/b2");
}

TEST_F(AccountStoreTest, FilesThatCannotRunAreListedWithTheReason)
{
    writeAccount("100", R"({"昵称":"甲","缓存id":"100"})");
    writeAccount("101", "{ not json");
    writeAccount("102", R"({"昵称":"乙","缓存id":"..\\x"})");
    writeAccount("103", R"({"昵称":"丙"})");
    loadAllAccounts(table);
    ASSERT_EQ(table.rowCount(), 4);
    QMap<QString, QStringList> byNickname;
    for (int r = 0; r < table.rowCount(); ++r)
        byNickname[table.cell(r, AccountTable::Nickname)] = table.row(r).mid(3, 2);
    EXPECT_EQ(byNickname.value("甲"), (QStringList{"100", ""}));
    EXPECT_EQ(byNickname.value(""), (QStringList{"", "账号文件无法读取"}));
    EXPECT_EQ(byNickname.value("乙"), (QStringList{"..\\x", "账号标识无效"}));
    EXPECT_EQ(byNickname.value("丙"), (QStringList{"", "账号标识无效"}));
}

// The job reads the list from its own thread while the user reloads it:
// every read must see one whole list, the one before or the one after.
TEST_F(AccountStoreTest, AReaderNeverSeesAHalfReloadedList)
{
    constexpr int kOld = 40, kNew = 80;
    for (int n = 0; n < kNew; ++n)
        writeAccount(QString::number(100 + n), QStringLiteral(R"({"缓存id":"%1"})").arg(100 + n).toUtf8());
    loadAllAccounts(table);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        do {
            const QList<QStringList> rows = table.snapshot();
            QSet<QString> ids;
            bool numbered = true;
            for (int r = 0; r < rows.size(); ++r) {
                ids.insert(rows[r].value(AccountTable::AccountId));
                numbered = numbered && rows[r].value(AccountTable::Number) == QString::number(r + 1);
            }
            const bool whole = (rows.size() == kOld || rows.size() == kNew) && ids.size() == rows.size() && numbered
                && std::all_of(ids.begin(), ids.end(), [&](const QString &id) { return id.toInt() >= 100 && id.toInt() < 100 + rows.size(); });
            if (!whole)
                ++torn;
            ++reads;
        } while (!done);
    });
    for (int round = 0; round < 30; ++round) {
        for (int n = kOld; n < kNew; ++n) {
            const QString path = accountFilePath(QString::number(100 + n));
            if (round % 2 == 0)
                QFile::remove(path);
            else
                writeAccount(QString::number(100 + n), QStringLiteral(R"({"缓存id":"%1"})").arg(100 + n).toUtf8());
        }
        loadAllAccounts(table);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_EQ(table.rowCount(), kNew);
}

TEST_F(AccountStoreTest, ClearingSendsOnlyAccountFilesToTheTrash)
{
#ifdef Q_OS_WIN
    // Under Wine the recycle bin is the desktop's trash under the
    // XDG_DATA_HOME Wine was started with (Z: is the Unix root); on
    // Windows itself the bin cannot be looked into here.
    const QString trashHome = qEnvironmentVariableIsSet("XDG_DATA_HOME") ? "Z:" + qEnvironmentVariable("XDG_DATA_HOME") : QString();
#else
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    const QString trashHome = dataHome.path();
#endif
    writeAccount("100", R"({"缓存id":"100"})");
    writeAccount("101", R"({"缓存id":"101"})");
    testsupport::writeAll(run.file("data/list/keep.txt"), "keep");
    testsupport::writeAll(run.file("data/list/sub/102.json"), "{}");
    loadAllAccounts(table);
    clearAllAccounts(table);
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(QDir(accountListDirectory()).entryList(QDir::Files), QStringList{"keep.txt"});
    EXPECT_TRUE(QFile::exists(run.file("data/list/sub/102.json")));
    // Recoverable: the files are in the trash, not gone.
    if (trashHome.isEmpty())
        return;
    const QStringList trashed = QDir(trashHome + "/Trash/files").entryList(QDir::Files);
    EXPECT_TRUE(trashed.contains("100.json")) << trashed.join(", ").toStdString();
    EXPECT_TRUE(trashed.contains("101.json"));
#ifndef Q_OS_WIN
    qunsetenv("XDG_DATA_HOME");
#endif
}

TEST_F(AccountStoreTest, TheClearGuardRefusesRootsRelativeAndMissingFolders)
{
#ifndef Q_OS_WIN
    EXPECT_FALSE(isClearableFolder("/"));
    EXPECT_FALSE(isClearableFolder("//"));
    EXPECT_FALSE(isClearableFolder("data/list/"));
    EXPECT_FALSE(isClearableFolder(""));
    EXPECT_FALSE(isClearableFolder(run.file("missing/")));
    EXPECT_TRUE(isClearableFolder(accountListDirectory() + "/"));
    EXPECT_TRUE(isClearableFolder(run.path() + "//data//list"));
#else
    EXPECT_FALSE(isClearableFolder("C:\\"));
    EXPECT_FALSE(isClearableFolder("data\\list\\"));
#endif
}

TEST_F(AccountStoreTest, DeletingAMissingFileIsQuiet)
{
    deleteAccountFile("999");
    writeAccount("100", "{}");
    deleteAccountFile("100");
    EXPECT_FALSE(QFile::exists(accountFilePath("100")));
}
