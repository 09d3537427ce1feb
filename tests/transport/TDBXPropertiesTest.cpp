// Connection property list: lookups, the list operations and their key rules, the server driver's
// initial lines and typed accessors.
#include <gtest/gtest.h>

#include "platform/Exception.h"
#include "transport/TDBXProperties.h"
#include "transport/TDBXServerProperties.h"

namespace ab {
namespace {

TDBXProperties ListOf(std::initializer_list<const char16_t*> lines) {
    TDBXProperties list;
    for (const auto* line : lines)
        list.Lines().emplace_back(line);
    return list;
}

std::vector<std::u16string> Lines(const TDBXProperties& list) {
    return list.Lines();
}

TEST(TDBXProperties, LookupIsCaseInsensitiveFirstMatchAndSplitsAtFirstEquals) {
    auto list = ListOf({u"NoEquals", u"a=1", u"A=2", u"Loader=x=1;y=2", u"=orphan"});
    EXPECT_EQ(list.GetValue(u"a"), u"1");
    EXPECT_EQ(list.GetValue(u"LOADER"), u"x=1;y=2");
    EXPECT_EQ(list.GetValue(u"NoEquals"), u"");
    EXPECT_EQ(list.IndexOfName(u"noequals"), -1);
    EXPECT_EQ(list.GetValue(u"missing"), u"");
}

TEST(TDBXProperties, SetValueReplacesInPlaceWithNewSpellingAppendsOrDeletes) {
    auto list = ListOf({u"HostName=h", u"port=211", u"Filters={}"});
    list.SetValue(u"Port", u"3000");
    EXPECT_EQ(Lines(list),
              (std::vector<std::u16string>{u"HostName=h", u"Port=3000", u"Filters={}"}));
    list.SetValue(u"HostName", u"");
    list.SetValue(u"Nothing", u"");
    EXPECT_EQ(Lines(list), (std::vector<std::u16string>{u"Port=3000", u"Filters={}"}));
    list.SetValue(u"HostName", u"srv");
    EXPECT_EQ(list.Lines().back(), u"HostName=srv");
    list.Add(u"Port", u"1");  // duplicates are allowed; lookups see the first
    EXPECT_EQ(list.GetValue(u"port"), u"3000");
}

TEST(TDBXProperties, IntegerAndBooleanRules) {
    auto list =
        ListOf({u"Empty=", u"N=42", u"Neg=-4", u"Bad=12a", u"T=true", u"t2=Tx", u"F=false"});
    EXPECT_EQ(list.GetInteger(u"Empty"), -1);
    EXPECT_EQ(list.GetInteger(u"Absent"), -1);
    EXPECT_EQ(list.GetInteger(u"N"), 42);
    EXPECT_EQ(list.GetInteger(u"Neg"), -4);
    try {
        list.GetInteger(u"Bad");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"'12a' is not a valid integer value");
    }
    EXPECT_TRUE(list.GetBoolean(u"T"));
    EXPECT_TRUE(list.GetBoolean(u"t2"));
    EXPECT_FALSE(list.GetBoolean(u"F"));
    EXPECT_FALSE(list.GetBoolean(u"Empty"));
}

TEST(TDBXProperties, GetListsKeepsOrder) {
    auto list = ListOf({u"b=2", u"a= 1 "});
    std::vector<std::u16string> names, values;
    list.GetLists(names, values);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"b", u"a"}));
    EXPECT_EQ(values, (std::vector<std::u16string>{u"2", u" 1 "}));
}

TEST(TDBXProperties, AddPropertiesCopiesExactlyIntoEmptyAndTrimsOtherwise) {
    const auto source = ListOf({u"A= x ", u"B=\ty"});
    TDBXProperties empty;
    empty.AddProperties(source);
    EXPECT_EQ(Lines(empty), Lines(source));
    auto filled = ListOf({u"Z=0"});
    filled.AddProperties(source);
    EXPECT_EQ(Lines(filled), (std::vector<std::u16string>{u"Z=0", u"A=x", u"B=y"}));
}

TEST(TDBXProperties, AddUniqueAndMerge) {
    auto list = ListOf({u"host=a", u"Port=1"});
    list.AddUniqueProperties(ListOf({u"HostName=x", u"PORT= 9", u"Extra= e "}));
    EXPECT_EQ(Lines(list),
              (std::vector<std::u16string>{u"host=a", u"Port=1", u"HostName=x", u"Extra=e"}));

    auto merged = ListOf({u"host=a", u"Port=1"});
    merged.MergeProperties(ListOf({u"PORT= 9 ", u"New= n "}));
    EXPECT_EQ(Lines(merged), (std::vector<std::u16string>{u"host=a", u"PORT= 9 ", u"New=n"}));
}

TEST(TDBXServerProperties, InitialLinesAndCloneStartFromThem) {
    TDBXServerProperties props;
    const std::vector<std::u16string> defaults{
        u"DriverUnit=Data.DbxDatasnap",  u"HostName=localhost", u"Port=211",
        u"CommunicationProtocol=tcp/ip", u"Filters=",           u"DatasnapContext=datasnap/"};
    EXPECT_EQ(Lines(props), defaults);
    EXPECT_EQ(Lines(TDBXServerProperties::DefaultLines()), defaults);

    TDBXServerProperties other;
    other.Lines() = {u"port=5", u"User=u"};
    auto clone = other.Clone();
    ASSERT_NE(dynamic_cast<TDBXServerProperties*>(clone.get()), nullptr);
    EXPECT_EQ(Lines(*clone),
              (std::vector<std::u16string>{u"DriverUnit=Data.DbxDatasnap", u"HostName=localhost",
                                           u"port=5", u"CommunicationProtocol=tcp/ip", u"Filters=",
                                           u"DatasnapContext=datasnap/", u"User=u"}));
    // A plain list clones into a plain, empty-started list.
    auto plain = ListOf({u"a=1"}).Clone();
    EXPECT_EQ(Lines(*plain), (std::vector<std::u16string>{u"a=1"}));
}

TEST(TDBXServerProperties, TypedAccessorsFallBackForBadIntegers) {
    TDBXServerProperties props;
    EXPECT_EQ(props.GetPort(), 211);
    EXPECT_EQ(props.GetBufferKBSize(), 32);
    EXPECT_EQ(props.GetDSProxyPort(), 8888);
    props.SetValue(u"Port", u"abc");
    props.SetValue(u"BufferKBSize", u"x");
    EXPECT_EQ(props.GetPort(), 211);
    EXPECT_EQ(props.GetBufferKBSize(), 32);
    props.SetPort(3000);
    props.SetBufferKBSize(64);
    props.SetDSProxyPort(8080);
    EXPECT_EQ(props.GetValue(u"Port"), u"3000");
    EXPECT_EQ(props.GetBufferKBSize(), 64);
    EXPECT_EQ(props.GetValue(u"DSProxyPort"), u"8080");
}

}  // namespace
}  // namespace ab
