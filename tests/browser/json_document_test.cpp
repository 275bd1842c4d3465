#include "base/gbk.h"
#include "browser/json_document.h"

#include <gtest/gtest.h>

TEST(JsonDocumentParse, RefusesTooShortOrBracketlessTextWithoutTrying)
{
    JsonDocument doc;
    EXPECT_FALSE(doc.parseText("{"));
    EXPECT_FALSE(doc.parseText(""));
    // A bracket only after the first 100 bytes does not count.
    EXPECT_FALSE(doc.parseText(QByteArray(100, ' ') + "{\"a\":1}"));
    EXPECT_TRUE(doc.parseText(QByteArray(98, ' ') + "{\"a\":1}"));
    EXPECT_EQ(doc.getInt("a"), 1);
    EXPECT_FALSE(doc.parseText("\"just a string\""));
    EXPECT_FALSE(doc.isParsed());
    EXPECT_TRUE(doc.sourceText().isEmpty());
}

TEST(JsonDocumentParse, WindowsPathWithSingleBackslashesParsesOnRepair)
{
    const QByteArray text = R"({"path":"C:\Users\me\video.mp4","u":"\u4e2d"})";
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(text));
    EXPECT_EQ(doc.getText("path", true), QByteArray(R"(C:\Users\me\video.mp4)"));
    EXPECT_EQ(gbk::decode(doc.getText("u")), QStringLiteral("中"));
    EXPECT_EQ(doc.sourceText(), JsonDocument::repairEscapes(text));
}

TEST(JsonDocumentParse, GbkTextIsConvertedToUtf8AndReadBackAsGbk)
{
    const QByteArray gbkText = gbk::encode(QStringLiteral("{\"name\":\"旅行视频\"}"));
    ASSERT_FALSE(JsonDocument::isUtf8(gbkText));
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(gbkText));
    EXPECT_EQ(doc.getText("name"), gbk::encode(QStringLiteral("旅行视频")));
    EXPECT_EQ(doc.getText("name", true), QStringLiteral("旅行视频").toUtf8());
    EXPECT_TRUE(JsonDocument::isUtf8(doc.sourceText()));
}

TEST(JsonDocumentParse, Utf8ChineseReadsAsGbkOrRaw)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(QStringLiteral("{\"User-Agent\":\"浏览器/1.0\"}").toUtf8()));
    EXPECT_EQ(doc.getText("User-Agent"), gbk::encode(QStringLiteral("浏览器/1.0")));
    EXPECT_EQ(doc.getText("User-Agent", true), QStringLiteral("浏览器/1.0").toUtf8());
    // A broken UTF-8 text with Chinese goes the GBK way and still fails cleanly.
    EXPECT_FALSE(doc.parseText(QStringLiteral("{\"a\":\"中\",}").toUtf8()));
    EXPECT_FALSE(doc.isParsed());
}

TEST(JsonDocumentParse, FailedParseClearsPreviousDocument)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText("{\"a\":7}"));
    EXPECT_FALSE(doc.parseText("{\"a\":"));
    EXPECT_EQ(doc.getInt("a", 3), 3);
    EXPECT_TRUE(doc.getText("a").isEmpty());
    EXPECT_FALSE(doc.exists("a"));
}

TEST(JsonDocumentPath, ToPointerExamples)
{
    EXPECT_EQ(JsonDocument::toPointer("data.list[0].name"), "/data/list/0/name");
    EXPECT_EQ(JsonDocument::toPointer("a\\.b"), "/a.b");
    EXPECT_EQ(JsonDocument::toPointer("/data/list/"), "/data/list");
    EXPECT_EQ(JsonDocument::toPointer("list[2]"), "/list/2");
    EXPECT_EQ(JsonDocument::toPointer(""), "/");
    EXPECT_TRUE(JsonDocument::isPath("a.b"));
    EXPECT_TRUE(JsonDocument::isPath("a[0]"));
    EXPECT_FALSE(JsonDocument::isPath("User-Agent"));
}

TEST(JsonDocumentPath, RepairEscapesKeepsValidEscapes)
{
    EXPECT_EQ(JsonDocument::repairEscapes(R"(C:\a)"), QByteArray(R"(C:\\a)"));
    EXPECT_EQ(JsonDocument::repairEscapes(R"(a\\b)"), QByteArray(R"(a\\b)"));
    EXPECT_EQ(JsonDocument::repairEscapes(R"(\u4e2d)"), QByteArray(R"(\u4e2d)"));
}

TEST(JsonDocumentPath, Utf8Test)
{
    EXPECT_TRUE(JsonDocument::isUtf8("plain"));
    EXPECT_TRUE(JsonDocument::isUtf8(QStringLiteral("中文").toUtf8()));
    EXPECT_FALSE(JsonDocument::isUtf8("\xE4\xB8"));     // cut off at the end
    EXPECT_FALSE(JsonDocument::isUtf8("\x80"));         // continuation without a lead
    EXPECT_FALSE(JsonDocument::isUtf8("\xC3\x28"));     // bad continuation
}

TEST(JsonDocumentRead, DefaultsForMissingAndZeroValues)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(R"({"zero":0,"n":42,"big":9007199254740993,"f":0.5,"tiny":1e-9,"s":"","t":true,
                                  "data":{"list":[{"name":"a","v":1},{"name":"b","v":2}]}})"));
    EXPECT_EQ(doc.getInt("missing", 5), 5);
    EXPECT_EQ(doc.getInt("zero", 5), 5);
    EXPECT_EQ(doc.getInt("n", 5), 42);
    EXPECT_EQ(doc.getInt64("big"), 9007199254740993LL);
    EXPECT_DOUBLE_EQ(doc.getDouble("f", 3.0), 0.5);
    EXPECT_DOUBLE_EQ(doc.getDouble("tiny", 3.0), 3.0);
    EXPECT_DOUBLE_EQ(doc.getDouble("tiny", 1e-8), 1e-9); // a tiny default does not replace
    EXPECT_FLOAT_EQ(doc.getFloat("missing", 2.5f), 2.5f);
    EXPECT_EQ(doc.getText("s", false, "dflt"), QByteArray("dflt"));
    EXPECT_EQ(doc.getText("n", false, "dflt"), QByteArray("dflt")); // not a string
    EXPECT_TRUE(doc.getBool("t"));
    EXPECT_FALSE(doc.getBool("n"));
    EXPECT_EQ(doc.getText("data.list[1].name"), QByteArray("b"));
    EXPECT_EQ(doc.elementText("data.list", 1, "name"), QByteArray("a"));
    EXPECT_EQ(doc.elementInt("data/list", 2, "v"), 2);
    EXPECT_EQ(doc.size("data.list"), 2);
    EXPECT_EQ(doc.memberCount({}), 8);
    EXPECT_EQ(doc.memberCount("data"), 1);
    EXPECT_EQ(doc.valueJson("data.list[0]"), QByteArray(R"({"name":"a","v":1})"));
    QList<QByteArray> names;
    EXPECT_EQ(doc.memberNames("data.list[0]", names), 2);
    EXPECT_EQ(names, (QList<QByteArray>{"name", "v"}));
}

TEST(JsonDocumentRead, TypeCodes)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(R"({"t":true,"f":false,"b":"0xByte0AFF","o":{"t":true},"a":[],"n":null,"x":1,"s":"s"})"));
    EXPECT_EQ(doc.type("t"), JsonDocument::TypeBoolean);
    EXPECT_EQ(doc.type("f"), JsonDocument::TypeBoolean);
    EXPECT_EQ(doc.type("o.t"), JsonDocument::TypeTrue); // paths keep the library's codes
    EXPECT_EQ(doc.type("b"), JsonDocument::TypeBytes);
    EXPECT_EQ(doc.type("o"), JsonDocument::TypeObject);
    EXPECT_EQ(doc.type("a"), JsonDocument::TypeArray);
    EXPECT_EQ(doc.type("n"), JsonDocument::TypeNull);
    EXPECT_EQ(doc.type("x"), JsonDocument::TypeNumber);
    EXPECT_EQ(doc.type("s"), JsonDocument::TypeString);
    // A missing value reads as 0 like every other read of one.
    EXPECT_EQ(doc.type("nope"), 0);
    EXPECT_EQ(doc.type("o.nope"), 0);
    EXPECT_EQ(doc.elementType("a", 1, "k"), 0);
    EXPECT_EQ(JsonDocument().type("t"), 0);
    EXPECT_EQ(doc.getBytes("b"), QByteArray("\x0A\xFF", 2));
}

TEST(JsonDocumentEdit, RemoveRewritesSourceOnlyOnSuccess)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(R"({"a":{"b":1,"c":2},"l":[1,2,3]})"));
    EXPECT_FALSE(doc.remove("a.zz"));
    EXPECT_EQ(doc.sourceText(), QByteArray(R"({"a":{"b":1,"c":2},"l":[1,2,3]})"));
    EXPECT_TRUE(doc.remove("a.b"));
    EXPECT_TRUE(doc.remove("l[0]"));
    EXPECT_EQ(doc.sourceText(), QByteArray(R"({"a":{"c":2},"l":[2,3]})"));
    JsonDocument copy(doc);
    doc.clear();
    EXPECT_EQ(copy.getInt("a.c"), 2);
    EXPECT_TRUE(doc.parseText("{}"));
    EXPECT_TRUE(doc.isEmptyObject());
    EXPECT_TRUE(doc.parseIntegers({}));
    EXPECT_TRUE(doc.isEmptyArray());
    EXPECT_TRUE(doc.parseTexts({QStringLiteral("甲"), QStringLiteral("b")}));
    EXPECT_EQ(doc.getText("/0"), gbk::encode(QStringLiteral("甲")));
}

TEST(JsonWriterTest, OpensContainersOnDemandAndClosesOnText)
{
    JsonWriter w;
    w.setString("name", QStringLiteral("旅行"));
    w.setInt("n", -3);
    w.setBool("ok", true);
    w.setNull("none");
    w.setDouble("nan", std::nan(""));
    w.setBytes("bin", QByteArray("\x01\xAB", 2));
    w.setIntArray("ids", {1, 2});
    w.setRaw("raw", "{\"x\":[1]}");
    w.setRaw("bad", "{broken");
    w.addInt(5); // a value without a key inside an object is dropped
    EXPECT_TRUE(w.isObjectOpen());
    const QByteArray text = w.text();
    EXPECT_EQ(text, QStringLiteral(R"({"name":"旅行","n":-3,"ok":true,"none":null,"nan":null,"bin":"0xByte01AB","ids":[1,2],"raw":{"x":[1]}})").toUtf8());
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(text));
    EXPECT_EQ(doc.getBytes("bin"), QByteArray("\x01\xAB", 2));

    w.addString("a"); // opens an array
    w.addInt64(1LL << 40);
    JsonWriter inner;
    inner.setInt("k", 1);
    w.addWriter(inner);
    w.addDocument(doc);
    const QByteArray list = w.text();
    EXPECT_TRUE(list.startsWith(R"(["a",1099511627776,{"k":1},{"name")"));
    EXPECT_TRUE(list.endsWith("]"));
    EXPECT_TRUE(w.text().isEmpty()); // released after text()
}
