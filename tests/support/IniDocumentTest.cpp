#include "support/IniDocument.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

static void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toUtf8().constData() << '"';
}

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
        if (w.value) {
            doc.SetValue(w.section, w.key, *w.value);
        } else {
            doc.RemoveKey(w.section, w.key);
        }
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
        {"lone quote kept", "[A]\nk=\"\n", "A", "k", "\""},
        {"quote at one end kept", "[A]\nk=\"open\n", "A", "k", "\"open"},
        {"equals signs in the value", "[A]\nurl=a=b==c\n", "A", "url", "a=b==c"},
        {"present empty value", "[A]\nk=\n", "A", "k", ""},
        {"empty key", "[A]\n=v\n", "A", "", "v"},
        {"first duplicate key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"first duplicate section wins", "[A]\nk=1\n[B]\n[a]\nk=2\n", "A", "k", "1"},
        {"later duplicate section is not read", "[A]\n[a]\nj=2\n", "A", "j", std::nullopt},
        {"keys before any section ignored", "k=0\n[]\n", "", "k", std::nullopt},
        {"empty section name", "k=0\n[]\nk=1\n", "", "k", "1"},
        {"header blanks and trailing text", "  [ Mail Server ] ; note\nHost=x\n", "mail server", "host", "x"},
        {"[ without ] is no header", "[A]\n[B\nj=2\n", "A", "j", "2"},
        {"[ without ] names nothing", "[A]\n[B\nj=2\n", "B", "j", std::nullopt},
        {"line without =", "[A]\njustaword\n", "A", "justaword", std::nullopt},
        {"semicolon comment", "[A]\n;k=1\n", "A", ";k", std::nullopt},
        {"hash comment", "[A]\n  # k=1\nk=2\n", "A", "k", "2"},
        {"CRLF", "[A]\r\nk=v\r\n", "A", "k", "v"},
        {"lone CR on the last line", "[A]\nk=v\r", "A", "k", "v"},
        {"byte order mark", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "1"},
        {"byte order mark inside is text", "[A]\n\xEF\xBB\xBFk=1\n", "A", QStringLiteral("\uFEFFk"), "1"},
        {"byte order mark inside is not skipped", "[A]\n\xEF\xBB\xBFk=1\n", "A", "k", std::nullopt},
        {"invalid UTF-8", "[A]\nk=a\377b\n", "A", "k", QStringLiteral("a\uFFFDb")},
        {"missing section", "[A]\nk=1\n", "B", "k", std::nullopt},
        {"missing key", "[A]\nk=1\n", "A", "j", std::nullopt},
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
        {"new key before trailing blank lines",
         "[A]\nk=1\n\n \n[B]\nj=2\n",
         {{"a", "n", "3"}},
         "[A]\nk=1\nn=3\n\n \n[B]\nj=2\n"},
        {"new key after a closing comment",
         "[A]\nk=1\n; B:\n\n[B]\n",
         {{"A", "n", "3"}},
         "[A]\nk=1\n; B:\nn=3\n\n[B]\n"},
        {"new key into a header-only section", "[A]", {{"A", "n", "3"}}, "[A]\nn=3\n"},
        {"new key after a last line without newline", "[A]\nk=1", {{"A", "n", "3"}}, "[A]\nk=1\nn=3\n"},
        {"new sections and keys in order",
         "",
         {{"B", "x", "1"}, {"C", "y", "2"}, {"b", "z", "3"}},
         "[B]\nx=1\nz=3\n\n[C]\ny=2\n"},
        {"new section after text without newline", "[A]\nk=1", {{"B", "j", "2"}}, "[A]\nk=1\n\n[B]\nj=2\n"},
        {"new section after a preamble", "; notes\n", {{"B", "j", "2"}}, "; notes\n\n[B]\nj=2\n"},
        {"replaced line keeps key spelling",
         "[A]\n  NumberFiles = 3 \n",
         {{"a", "numberfiles", "4"}},
         "[A]\nNumberFiles=4\n"},
        {"CRLF kept on replaced and added lines",
         "[A]\r\nk=1\r\n",
         {{"A", "k", "2"}, {"A", "n", "3"}, {"B", "j", "4"}},
         "[A]\r\nk=2\r\nn=3\r\n\r\n[B]\r\nj=4\r\n"},
        {"lone CR completed to CRLF", "[A]\r\nk=1\r", {{"A", "n", "3"}}, "[A]\r\nk=1\r\nn=3\r\n"},
        {"first duplicate section written",
         "[A]\nk=1\n[B]\n[A]\nk=2\n",
         {{"A", "k", "9"}, {"A", "n", "1"}},
         "[A]\nk=9\nn=1\n[B]\n[A]\nk=2\n"},
        {"first duplicate key written", "[A]\nk=1\nk=2\n", {{"A", "k", "9"}}, "[A]\nk=9\nk=2\n"},
        {"awkward values encoded",
         "[A]\n",
         {{"A", "a", " x "}, {"A", "b", "\"q\""}, {"A", "c", ""}, {"A", "d", "a=b"}, {"A", "e", "l1\r\nl2"}},
         "[A]\na=\" x \"\nb=\"\"q\"\"\nc=\nd=a=b\ne=l1  l2\n"},
        {"remove a key", "[A]\nk=1\nj=2\n", {{"A", "K", std::nullopt}}, "[A]\nj=2\n"},
        {"remove keeps the section", "[A]\nk=1\n[B]\n", {{"A", "k", std::nullopt}, {"A", "n", "2"}}, "[A]\nn=2\n[B]\n"},
        {"remove a last line without newline", "[A]\nj=1\nk=2", {{"A", "k", std::nullopt}}, "[A]\nj=1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(apply(c.input, c.writes), c.expected);
    }
}

TEST(IniDocument, WritesThatChangeNothingReportNoChange)
{
    struct Case
    {
        const char* name;
        QByteArray text;
        Write write;
    };
    const Case cases[] = {
        {"same value, other layout", "[A]\n k = \"1\" \n", {"a", "K", "1"}},
        {"invalid UTF-8 read as U+FFFD", "[A]\nk=\xFF\n", {"A", "k", QStringLiteral("\uFFFD")}},
        {"line break written as space", "[A]\nk=a b\n", {"A", "k", "a\nb"}},
        {"remove a missing key", "[A]\nk=1\n", {"A", "j", std::nullopt}},
        {"remove from a missing section", "[A]\nk=1\n", {"B", "k", std::nullopt}},
        {"remove a key before any section", "k=1\n[A]\n", {"", "k", std::nullopt}},
        {"key with =", "[A]\n", {"A", "a=b", "1"}},
        {"key that reads as a comment", "[A]\n", {"A", "; k", "1"}},
        {"key that reads as a header", "[A]\n", {"A", "[k", "1"}},
        {"section with ]", "[A]\n", {"A]B", "k", "1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IniDocument doc = IniDocument::Parse(c.text);
        EXPECT_FALSE(c.write.value ? doc.SetValue(c.write.section, c.write.key, *c.write.value)
                                   : doc.RemoveKey(c.write.section, c.write.key));
        EXPECT_EQ(doc.Serialize(), c.text);
    }
}

TEST(IniDocument, AwkwardValuesReadBackExactly)
{
    const QString values[] = {
        " x ",
        "\"q\"",
        "",
        "a=b",
        QStringLiteral("Grüße ✓ 𝄞"),
        "\t",
        "\"",
        "\"\"",
        " \"x\" ",
        "; no comment",
        "[x]",
        QStringLiteral("\uFEFF\uFEFFbom"),
        "\"open",
    };
    for (const QString& value : values) {
        SCOPED_TRACE(value.toUtf8().constData());
        for (const QByteArray& start : {QByteArray(), QByteArray("[S]\nk=old\n")}) {
            IniDocument doc = IniDocument::Parse(start);
            EXPECT_TRUE(doc.SetValue(u"S", u"k", value));
            const IniDocument again = IniDocument::Parse(doc.Serialize());
            EXPECT_EQ(again.Value(u"S", u"k"), value);
        }
    }
}

TEST(IniDocument, LineBreaksInNamesOrValuesCannotAddLines)
{
    const QByteArray start = "[General]\nNumberFiles=1\n";
    IniDocument doc = IniDocument::Parse(start);
    const QString note = QStringLiteral("x\n[General]\nNumberFiles=9\r\n") + QChar(0) + QStringLiteral("=y");
    ASSERT_TRUE(doc.SetValue(u"General", u"Note", note));
    ASSERT_TRUE(doc.SetValue(u"New\r\n[Gen", u"k\nNumberFiles", u"9"));
    const QByteArray out = doc.Serialize();
    EXPECT_EQ(out.count('\n'), start.count('\n') + 4);
    const IniDocument again = IniDocument::Parse(out);
    EXPECT_EQ(again.Value(u"General", u"NumberFiles"), QStringLiteral("1"));
    EXPECT_EQ(again.Value(u"General", u"Note"), QStringLiteral("x [General] NumberFiles=9   =y"));
    EXPECT_EQ(again.Value(u"New\r\n[Gen", u"k\nNumberFiles"), QStringLiteral("9"));
    EXPECT_EQ(again.Value(u"New  [Gen", u"k NumberFiles"), QStringLiteral("9"));
}

TEST(IniDocument, UntouchedBytesSurviveWritesElsewhere)
{
    for (const QByteArray& odd : {QByteArray(),
                                  QByteArray("\n"),
                                  QByteArray("\r"),
                                  QByteArray("\r\n\r\n"),
                                  QByteArray("[", 1),
                                  QByteArray("]=\0\xFF", 4),
                                  QByteArray("no newline")}) {
        EXPECT_EQ(IniDocument::Parse(odd).Serialize(), odd);
    }
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

TEST(IniDocument, LargeProfileReadsEditsAndWritesBackWhole)
{
    QByteArray text;
    for (int s = 0; s < 10000; ++s) {
        text += "[Monitor " + QByteArray::number(s) + "]\n";
        for (int k = 0; k < 7; ++k) {
            text += "Key" + QByteArray::number(k) + "=value " + QByteArray::number(s * 7 + k) + "\n";
        }
    }
    // How fast this goes is measured by the profile benchmarks, not here.
    IniDocument doc = IniDocument::Parse(text);
    qint64 wrong = 0;
    for (int s = 0; s < 10000; ++s) {
        const QString section = QStringLiteral("monitor %1").arg(s);
        for (int k = 0; k < 7; ++k) {
            wrong += doc.Value(section, QStringLiteral("KEY%1").arg(k)) != QStringLiteral("value %1").arg(s * 7 + k);
        }
    }
    for (int s = 0; s < 10000; s += 2) {
        doc.SetValue(QStringLiteral("Monitor %1").arg(s), u"Key9", u"new");
        doc.RemoveKey(QStringLiteral("Monitor %1").arg(s), u"Key0");
    }
    EXPECT_EQ(wrong, 0);
    const IniDocument reread = IniDocument::Parse(doc.Serialize());
    EXPECT_EQ(reread.Value(u"Monitor 9998", u"Key9"), QStringLiteral("new"));
    EXPECT_FALSE(reread.Value(u"Monitor 9998", u"Key0").has_value());
    EXPECT_EQ(reread.Value(u"Monitor 9999", u"Key0"), QStringLiteral("value 69993"));
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
            EXPECT_EQ(doc.Value(u"s", QStringLiteral("KEY%1").arg(i)), QStringLiteral("v%1").arg(i));
        }
        EXPECT_EQ(doc.Value(u"S", QStringLiteral("Key%1").arg(count + 1)), std::nullopt);
        EXPECT_EQ(doc.Value(u"S", u"GR\u00D6\u00DFE"), QStringLiteral("ascii-less"));
        EXPECT_EQ(doc.Value(u"S", u"Key"), std::nullopt);
        // A CR inside a key reads as a blank, however long the section.
        EXPECT_EQ(doc.Value(u"S", u"odd key"), QStringLiteral("inner CR"));
        EXPECT_EQ(doc.Value(u"S", u"ODD\rKEY"), QStringLiteral("inner CR"));

        // The first of two spellings is read and written; removing it reveals the second.
        EXPECT_TRUE(doc.SetValue(u"S", u"KEY1", u"first"));
        EXPECT_EQ(doc.Value(u"S", u"key1"), QStringLiteral("first"));
        EXPECT_TRUE(doc.RemoveKey(u"S", u"key1"));
        EXPECT_EQ(doc.Value(u"S", u"Key1"), QStringLiteral("second"));
        EXPECT_TRUE(doc.RemoveKey(u"S", u"Key1"));
        EXPECT_EQ(doc.Value(u"S", u"Key1"), std::nullopt);
        EXPECT_EQ(doc.Value(u"Other", u"Key1"), QStringLiteral("elsewhere"));

        // Added keys, enough to pass any table size, read back and write once.
        for (int i = 1; i <= 20; ++i) {
            EXPECT_TRUE(doc.SetValue(u"S", QStringLiteral("New%1").arg(i), QString::number(i)));
        }
        for (int i = 1; i <= 20; ++i) {
            EXPECT_EQ(doc.Value(u"s", QStringLiteral("new%1").arg(i)), QString::number(i));
            EXPECT_FALSE(doc.SetValue(u"S", QStringLiteral("NEW%1").arg(i), QString::number(i)));
        }
        EXPECT_TRUE(doc.RemoveKey(u"S", u"new7"));
        EXPECT_EQ(doc.Value(u"S", u"New7"), std::nullopt);

        const IniDocument again = IniDocument::Parse(doc.Serialize());
        EXPECT_EQ(again.Value(u"S", u"new20"), QStringLiteral("20"));
        EXPECT_EQ(again.Value(u"S", u"New7"), std::nullopt);
        EXPECT_EQ(again.Value(u"S", QStringLiteral("Key%1").arg(count)),
                  count == 1 ? std::nullopt : std::optional<QString>(QStringLiteral("v%1").arg(count)));
    }
}
