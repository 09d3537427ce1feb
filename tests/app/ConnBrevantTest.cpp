// The designed connection and echo components and the before-connect event: the list in its
// order, the four entries rewritten by name, the empty address, repeated openings, and the
// connect message the bundled server receives.
#include <gtest/gtest.h>

#include "RunFixture.h"
#include "app/ConnBrevant.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;

constexpr char16_t kDigest[] = u"6485B9B5C668BE12667E6690BE732C1F";

std::vector<std::u16string> Expected(std::u16string host, std::u16string port) {
    return {u"DriverUnit=Data.DBXDataSnap",
            u"CommunicationProtocol=tcp/ip",
            u"DatasnapContext=datasnap/",
            u"DriverAssemblyLoader=AtualizadorBrevant.Driver.TClientDriverLoader,"
            u"AtualizadorBrevant.Driver,Version=1.0.0.0,Culture=neutral,PublicKeyToken=null",
            u"DriverName=DataSnap",
            u"HostName=" + host,
            u"Port=" + port,
            u"Filters={}",
            u"DSProxyPort=8080",
            std::u16string(u"DSAuthenticationPassword=") + kDigest,
            u"DSAuthenticationUser=Atualizador"};
}

TEST(ConnBrevant, DesignedListThenTheEventRewritesFourEntriesInPlace) {
    TSQLConnection conn;
    DesignConnBrevant(conn);
    EXPECT_EQ(conn.GetConnectionName(), u"DataSnapCONNECTION");
    EXPECT_EQ(conn.GetDriverName(), u"DataSnap");
    EXPECT_FALSE(conn.GetLoginPrompt());
    const auto& lines = conn.Params().Lines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[5], u"HostName=localhost");
    EXPECT_EQ(lines[6], u"port=211");
    EXPECT_EQ(lines[9].size(), std::u16string(u"DSAuthenticationPassword=").size() + 68);

    ConnBrevantBeforeConnect(conn, u" \t10.0.0.5  ", 3000);
    EXPECT_EQ(lines, Expected(u"10.0.0.5", u"3000"));
    // Every opening rewrites the same entries: the list never grows.
    ConnBrevantBeforeConnect(conn, u"servidor", 0);
    ConnBrevantBeforeConnect(conn, u"servidor", 99999);
    EXPECT_EQ(lines, Expected(u"servidor", u"99999"));
}

TEST(ConnBrevant, EmptyAddressDeletesTheHostUntilTheNextOpening) {
    TSQLConnection conn;
    DesignConnBrevant(conn);
    ConnBrevantBeforeConnect(conn, u"  ", 211);
    EXPECT_FALSE(conn.Params().HasName(u"HostName"));
    EXPECT_EQ(conn.Params().Count(), 10);
    ConnBrevantBeforeConnect(conn, u"outro", 211);
    EXPECT_EQ(conn.Params().Lines().back(), u"HostName=outro");
    EXPECT_EQ(conn.Params().Lines()[5], u"Port=211");
}

TEST(ConnBrevant, EchoComponentParameters) {
    TSQLConnection conn;
    TSqlServerMethod echo;
    DesignEchoString(echo, conn);
    EXPECT_EQ(echo.GetSQLConnection(), &conn);
    EXPECT_EQ(echo.GetServerMethodName(), u"TZvServer.EchoString");
    ASSERT_EQ(echo.Params().Count(), 2);
    const TParam& value = echo.Params()[0];
    EXPECT_EQ(value.Name, u"Value");
    EXPECT_EQ(value.DataType, TParamDataType::ftWideString);
    EXPECT_EQ(value.ParamType, TParamType::ptInput);
    EXPECT_EQ(value.Precision, 2000);
    const TParam& result = echo.Params()[1];
    EXPECT_EQ(result.Name, u"ReturnParameter");
    EXPECT_EQ(result.DataType, TParamDataType::ftWideString);
    EXPECT_EQ(result.ParamType, TParamType::ptResult);
    EXPECT_EQ(result.Precision, 2000);
    EXPECT_EQ(result.Size, 2000);
}

// Opening, closing and opening again: each connect message carries the list in its order, with
// the window's current address and port and the digest; the design-time credentials never leave.
TEST(ConnBrevant, ConnectMessagesCarryTheRewrittenList) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    TAtualizador& run = r.Run();
    r.view.Endereco = u"  127.0.0.1 ";
    run.ConnBrevant().SetConnected(true);
    run.ConnBrevant().SetConnected(false);
    r.view.Endereco = u"localhost";
    run.ConnBrevant().SetConnected(true);
    run.ConnBrevant().SetConnected(false);
    ASSERT_EQ(s.server->ConnectionCount(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(s.server->WaitConnectionClosed(i, 10s));
        const Bytes b = s.server->ReceivedBytes(i);
        const std::string got(b.begin(), b.end());
        const std::string expected =
            std::string(5, '\x05') +
            R"({"method":"connect","params":[{"DriverUnit":"Data.DBXDataSnap",)"
            R"("CommunicationProtocol":"tcp/ip","DatasnapContext":"datasnap/",)"
            R"("DriverAssemblyLoader":"AtualizadorBrevant.Driver.TClientDriverLoader,)"
            R"(AtualizadorBrevant.Driver,Version=1.0.0.0,Culture=neutral,PublicKeyToken=null",)"
            R"("DriverName":"DataSnap","HostName":")" +
            std::string(i == 0 ? "127.0.0.1" : "localhost") + R"(","Port":")" +
            std::to_string(s.port) +
            R"(","Filters":"{}","DSProxyPort":"8080",)"
            R"("DSAuthenticationPassword":"6485B9B5C668BE12667E6690BE732C1F",)"
            R"("DSAuthenticationUser":"Atualizador"}]})";
        EXPECT_EQ(got.substr(0, expected.size()), expected);
        EXPECT_EQ(got.find("projeto"), std::string::npos);
    }
    EXPECT_EQ(run.ConnBrevant().Params().Count(), 11);
}

}  // namespace
}  // namespace ab::testing
