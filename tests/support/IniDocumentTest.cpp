#include "support/IniDocument.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct Write
{
    QString section;
    QString key;
    std::optional<QString> value; // nothing: remove the key
};

QByteArray apply(const QByteArray& input, const std::vector<Write>& writes)
{
    IniDocument doc = IniDocument::Parse(input);
    for (const Write& w : writes) {
        (void)(w.value ? doc.SetValue(w.section, w.key, *w.value) : doc.RemoveKey(w.section, w.key));
    }
    return doc.Serialize();
}

} // namespace

TEST(IniDocument, ReadsFollowTheLineRules)
{
    struct Case
    {
        const char* name;
        QByteArray text;
        QString section;
        QString key;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"case-insensitive names", "[General]\nNumberFiles=3\n", "general", "NUMBERFILES", "3"},
        {"unicode case folding", "[Straße]\nÄpfel=1\n", "STRAßE", "äpfel", "1"},
        {"blanks around key and value", "[A]\n \t key \t=  v a  \t\n", "A", "key", "v a"},
        {"one pair of quotes removed", "[A]\nk= \"  padded \" \n", "A", "k", "  padded "},
        {"inner quotes kept", "[A]\nk=\"\"x\"\"\n", "A", "k", "\"x\""},
        {"quote at one end kept", "[A]\nk=\"open\n", "A", "k", "\"open"},
        {"equals signs in the value", "[A]\nurl=a=b==c\n", "A", "url", "a=b==c"},
        {"present empty value", "[A]\nk=\n", "A", "k", ""},
        {"first duplicate key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"first duplicate section wins", "[A]\nk=1\n[B]\n[a]\nk=2\n", "A", "k", "1"},
        {"keys before any section ignored, empty section name", "k=0\n[]\nk=1\n", "", "k", "1"},
        {"header blanks and trailing text", "  [ Mail Server ] ; note\nHost=x\n", "mail server", "host", "x"},
        {"[ without ] is no header", "[A]\n[B\nj=2\n", "A", "j", "2"},
        {"line without =", "[A]\njustaword\n", "A", "justaword", std::nullopt},
        {"semicolon comment", "[A]\n;k=1\n", "A", ";k", std::nullopt},
        {"hash comment", "[A]\n  # k=1\nk=2\n", "A", "k", "2"},
        {"CRLF", "[A]\r\nk=v\r\n", "A", "k", "v"},
        {"lone CR on the last line", "[A]\nk=v\r", "A", "k", "v"},
        {"byte order mark", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "1"},
        {"byte order mark inside is text", "[A]\n\xEF\xBB\xBFk=1\n", "A", u"\uFEFFk"_s, "1"},
        {"invalid UTF-8", "[A]\nk=a\377b\n", "A", "k", u"a\uFFFDb"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IniDocument::Parse(c.text).Value(c.section, c.key), c.expected);
    }
}

TEST(IniDocument, WritesLandWhereExpected)
{
    struct Case
    {
        const char* name;
        QByteArray input;
        std::vector<Write> writes;
        QByteArray expected;
    };
    const Case cases[] = {
        {"new key before trailing blanks", "[A]\nk=1\n\n \n[B]\n", {{"a", "n", "3"}}, "[A]\nk=1\nn=3\n\n \n[B]\n"},
        {"after a closing comment", "[A]\nk=1\n; B:\n\n[B]\n", {{"A", "n", "3"}}, "[A]\nk=1\n; B:\nn=3\n\n[B]\n"},
        {"into a header-only section", "[A]", {{"A", "n", "3"}}, "[A]\nn=3\n"},
        {"after a last line without newline", "[A]\nk=1", {{"A", "n", "3"}}, "[A]\nk=1\nn=3\n"},
        {"sections in order", "", {{"B", "x", "1"}, {"C", "y", "2"}, {"b", "z", "3"}}, "[B]\nx=1\nz=3\n\n[C]\ny=2\n"},
        {"section after no newline", "[A]\nk=1", {{"B", "j", "2"}}, "[A]\nk=1\n\n[B]\nj=2\n"},
        {"section after a preamble", "; notes\n", {{"B", "j", "2"}}, "; notes\n\n[B]\nj=2\n"},
        {"key spelling kept", "[A]\n  NumberFiles = 3 \n", {{"a", "numberfiles", "4"}}, "[A]\nNumberFiles=4\n"},
        {"CRLF kept",
         "[A]\r\nk=1\r\n",
         {{"A", "k", "2"}, {"A", "n", "3"}, {"B", "j", "4"}},
         "[A]\r\nk=2\r\nn=3\r\n\r\n[B]\r\nj=4\r\n"},
        {"lone CR to CRLF", "[A]\r\nk=1\r", {{"A", "n", "3"}}, "[A]\r\nk=1\r\nn=3\r\n"},
        {"first duplicate section",
         "[A]\nk=1\n[a]\nk=2\n",
         {{"A", "k", "9"}, {"A", "n", "1"}},
         "[A]\nk=9\nn=1\n[a]\nk=2\n"},
        {"first duplicate key", "[A]\nk=1\nk=2\n", {{"A", "k", "9"}}, "[A]\nk=9\nk=2\n"},
        {"awkward values encoded",
         "[A]\n",
         {{"A", "a", " x "}, {"A", "b", "\"q\""}, {"A", "c", ""}, {"A", "d", "a=b"}, {"A", "e", "l1\r\nl2"}},
         "[A]\na=\" x \"\nb=\"\"q\"\"\nc=\nd=a=b\ne=l1  l2\n"},
        {"line breaks and NUL in names and values become blanks",
         "[A]\nk=1\n",
         {{"New\r\n[A", "k\nk", u"x\n[A]\nk=9\r\n\0"_s}},
         "[A]\nk=1\n\n[New  [A]\nk k=\"x [A] k=9   \"\n"},
        {"names no line can hold are not written",
         "[A]\n",
         {{"A", "a=b", "1"}, {"A", "; k", "1"}, {"A", "[k", "1"}, {"A]B", "k", "1"}},
         "[A]\n"},
        {"remove a key", "[A]\nk=1\nj=2\n", {{"A", "K", std::nullopt}}, "[A]\nj=2\n"},
        {"remove keeps section", "[A]\nk=1\n[B]\n", {{"A", "k", std::nullopt}, {"A", "n", "2"}}, "[A]\nn=2\n[B]\n"},
        {"remove a last line without newline", "[A]\nj=1\nk=2", {{"A", "k", std::nullopt}}, "[A]\nj=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(apply(c.input, c.writes), c.expected);
    }
}

TEST(IniDocument, UntouchedBytesSurviveWritesElsewhere)
{
    const QByteArray longLine = "Blob=" + QByteArray(3 * 1024 * 1024, 'x') + "\n";
    const QByteArray head = "; written by hand\r\n[Unknown]\r\n  odd line\r\n# note\n" +
                            QByteArray("bin=\0\x01\xFF\xFE\n[A\n", 12) + longLine + "[Mail]\nHost = a \nSig=\xC0\n";
    const QByteArray tail = "Port=25\n\n[Other]\nx=\"\xC3\x28\"\n";
    const QByteArray input = head + tail;
    IniDocument doc = IniDocument::Parse(input);
    EXPECT_EQ(doc.Serialize(), input);
    EXPECT_EQ(doc.Value(u"Unknown", u"Blob").value_or(QString()).size(), longLine.size() - 6);
    ASSERT_TRUE(doc.RemoveKey(u"Mail", u"Port"));
    ASSERT_TRUE(doc.SetValue(u"Mail", u"User", u"me"));
    ASSERT_TRUE(doc.SetValue(u"Added", u"k", u"v"));
    EXPECT_EQ(doc.Serialize(), head + "User=me\r\n\n[Other]\nx=\"\xC3\x28\"\n\r\n[Added]\r\nk=v\r\n");
}

// Small sections are searched line by line and large ones through a table;
// both must read, find duplicates, write and remove alike, also when writes
// make a small section large.
TEST(IniDocument, SectionsOfEverySizeFindTheirKeys)
{
    for (const int count : {1, 3, 15, 16, 17, 40}) {
        SCOPED_TRACE(count);
        QByteArray text = "[Other]\nKey1=elsewhere\n[S]\n";
        for (int i = 1; i <= count; ++i) {
            text += "Key" + QByteArray::number(i) + " = v" + QByteArray::number(i) + "\n";
        }
        text += "key1=second\nGr\303\266\303\237e=ascii-less\nOdd\rKey=inner CR\n";
        IniDocument doc = IniDocument::Parse(text);
        for (int i = 1; i <= count; ++i) {
            EXPECT_EQ(doc.Value(u"s", u"KEY%1"_s.arg(i)), u"v%1"_s.arg(i));
        }
        EXPECT_EQ(doc.Value(u"S", u"GR\u00D6\u00DFE"), u"ascii-less"_s);
        // A CR inside a key reads as a blank, however long the section.
        EXPECT_EQ(doc.Value(u"S", u"odd key"), u"inner CR"_s);

        // The first of two spellings is read and written; removing it reveals the second.
        EXPECT_TRUE(doc.SetValue(u"S", u"KEY1", u"first"));
        EXPECT_EQ(doc.Value(u"S", u"key1"), u"first"_s);
        EXPECT_TRUE(doc.RemoveKey(u"S", u"key1"));
        EXPECT_EQ(doc.Value(u"S", u"Key1"), u"second"_s);
        EXPECT_TRUE(doc.RemoveKey(u"S", u"Key1"));
        EXPECT_EQ(doc.Value(u"S", u"Key1"), std::nullopt);
        EXPECT_EQ(doc.Value(u"Other", u"Key1"), u"elsewhere"_s);

        // Added keys, enough to pass any table size, read back and write once.
        for (int i = 1; i <= 20; ++i) {
            EXPECT_TRUE(doc.SetValue(u"S", u"New%1"_s.arg(i), QString::number(i)));
        }
        for (int i = 1; i <= 20; ++i) {
            EXPECT_EQ(doc.Value(u"s", u"new%1"_s.arg(i)), QString::number(i));
        }
    }
}
