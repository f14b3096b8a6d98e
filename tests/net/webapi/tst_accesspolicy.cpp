#include "net/webapi/accesspolicy.h"
#include "net/webapi/parsingquery.h"

#include <gtest/gtest.h>

using Tavrix::Net::WebApi::AccessPolicy;
using Tavrix::Net::WebApi::ParsingQuery;

namespace {

AccessPolicy policyOnPort8180()
{
    AccessPolicy policy;
    policy.setServicePort(8180);
    policy.setLocalHostNames({"ward-pc", "ward-pc.clinic.lan"});
    return policy;
}

} // namespace

TEST(AccessPolicy, OriginsOfTheServiceAndListedAppsAreAllowed)
{
    AccessPolicy policy = policyOnPort8180();
    policy.setAllowedOrigins({"https://App.Example/", "http://other.example:8080"});
    struct Case
    {
        const char* origin;
        const char* host;
        bool allowed;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8180", "127.0.0.1:8180", true},
        {"http://localhost:8180", "127.0.0.1:8181", true},     // UI on localhost, stream on the IP
        {"http://127.0.0.2:8180", "", true},                   // loopback, service port
        {"http://[::1]:8180", "[::1]:8182", true},
        {"http://192.168.1.5:8180", "192.168.1.5:8181", true}, // the UI's page opens a stream port
        {"http://192.168.1.5:8180", "192.168.1.5:8180", true},
        {"http://WARD-PC:8180", "ward-pc:8183", true},
        {"https://dastel.example", "dastel.example", true},   // behind a TLS proxy
        {"https://dastel.example:8443", "dastel.example:8443", true},
        {"https://app.example", "127.0.0.1:8180", true},
        {"https://app.example:443", "127.0.0.1:8180", true},
        {"http://other.example:8080", "127.0.0.1:8180", true},
        {"http://evil.example", "127.0.0.1:8180", false},
        {"http://evil.example:8180", "192.168.1.5:8181", false},
        {"http://127.0.0.1:9999", "127.0.0.1:8180", false},   // another local program's page
        {"http://192.168.1.5:9999", "192.168.1.5:8181", false},
        {"http://app.example", "127.0.0.1:8180", false},      // listed only with https
        {"http://other.example", "127.0.0.1:8180", false},
        {"https://dastel.example", "dastel.example:8443", false},
        {"null", "127.0.0.1:8180", false},
        {"file://", "127.0.0.1:8180", false},
        {"", "127.0.0.1:8180", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(policy.originAllowed(c.origin, c.host), c.allowed) << c.origin << " at " << c.host;

    EXPECT_TRUE(policy.originIsListedForeign("https://app.example", "127.0.0.1:8180"));
    EXPECT_FALSE(policy.originIsListedForeign("http://127.0.0.1:8180", "127.0.0.1:8180"));
    EXPECT_FALSE(policy.originIsListedForeign("http://evil.example", "127.0.0.1:8180"));

    policy.setAllowedOrigins({"*"});
    EXPECT_TRUE(policy.originAllowed("http://evil.example", "127.0.0.1:8180"));
    EXPECT_FALSE(policy.originIsListedForeign("http://evil.example", "127.0.0.1:8180"));
}

TEST(AccessPolicy, HostsAreIpLiteralsLocalNamesOrListed)
{
    AccessPolicy policy = policyOnPort8180();
    policy.setAllowedHosts({"Dastel.Example"});
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},       {"127.0.0.1:8180", true},        {"192.168.1.5:8181", true},
        {"[::1]:8180", true},      {"[fe80::1]", true},             {"localhost:8180", true},
        {"LOCALHOST.", true},      {"ward-pc:8180", true},          {"ward-pc.clinic.lan", true},
        {"dastel.example", true},  {"dastel.example:443", true},    {"attacker-rebound.example", false},
        {"attacker-rebound.example:8180", false}, {"ward-pc.evil.example", false},
        {"127.0.0.1.evil.example", false},        {"", false},      {"[::1", false},
        {"localhost:99999", false},
    };
    for (const auto& [host, allowed] : cases)
        EXPECT_EQ(policy.hostAllowed(host), allowed) << host;
    policy.setAllowedHosts({"*"});
    EXPECT_TRUE(policy.hostAllowed("attacker-rebound.example"));
}

TEST(AccessPolicy, TokenMustMatchExactly)
{
    AccessPolicy policy;
    EXPECT_FALSE(policy.tokenRequired());
    EXPECT_TRUE(policy.tokenMatches(""));
    policy.setAccessToken("s3cret");
    EXPECT_TRUE(policy.tokenRequired());
    const std::pair<const char*, bool> cases[] = {
        {"s3cret", true}, {"s3cre", false}, {"s3crets", false}, {"s3creT", false},
        {"", false},      {"s3crets3cret", false},
    };
    for (const auto& [presented, matches] : cases)
        EXPECT_EQ(policy.tokenMatches(presented), matches) << presented;
}

TEST(AccessPolicy, RequestVerdicts)
{
    AccessPolicy policy = policyOnPort8180();
    policy.setAccessToken("tok en");
    struct Case
    {
        const char* what;
        QByteArray request;
        bool guarded;
        bool tokenFromQuery;
        AccessPolicy::EVerdict verdict;
    };
    using V = AccessPolicy::EVerdict;
    const Case cases[] = {
        {"no headers at all", "POST /cmd HTTP/1.1\r\n\r\n", true, false, V::Unauthorized},
        {"bearer", "POST /cmd HTTP/1.1\r\nAuthorization: Bearer tok en\r\n\r\n", true, false, V::Allowed},
        {"header names in any case", "POST /cmd HTTP/1.1\r\nauthorization: bearer   tok en \r\n\r\n", true, false,
         V::Allowed},
        {"query token not for HTTP", "GET /?token=tok%20en HTTP/1.1\r\n\r\n", true, false, V::Unauthorized},
        {"query token for WebSockets", "GET /?token=tok%20en HTTP/1.1\r\n\r\n", true, true, V::Allowed},
        {"wrong query token", "GET /?token=tok HTTP/1.1\r\n\r\n", true, true, V::Unauthorized},
        {"foreign origin before the token", "POST /cmd HTTP/1.1\r\nORIGIN: http://evil.example\r\n\r\n", true, false,
         V::ForbiddenOrigin},
        {"foreign host first", "POST /cmd HTTP/1.1\r\nhost: evil.example\r\nOrigin: http://evil.example\r\n\r\n", true,
         false, V::ForbiddenHost},
        {"UI page without token", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil.example\r\n\r\n", false,
         false, V::Allowed},
        {"UI page on a foreign host", "GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n", false, false, V::ForbiddenHost},
    };
    for (const Case& c : cases) {
        ParsingQuery query;
        query(c.request);
        EXPECT_EQ(policy.check(query.m_http, query.m_uri, c.guarded, c.tokenFromQuery), c.verdict) << c.what;
    }
}

// Refusals are logged once per name; a scan of more names than are
// remembered forgets the oldest, never the ones just seen.
TEST(AccessPolicy, ARefusedNameIsLoggedOnceEvenAfterAScanOfManyNames)
{
    AccessPolicy policy;
    const auto name = [](int i) { return QStringLiteral("host scan-%1.example").arg(i); };
    const int scanned = AccessPolicy::rememberedRefusals + 500;
    for (int i = 0; i < scanned; ++i)
        ASSERT_TRUE(policy.firstRefusal(name(i))) << i;
    int loggedAgain = 0;
    // The newest names are all still known, seen again in any order.
    for (int i = scanned - 1; i >= scanned - AccessPolicy::rememberedRefusals; --i)
        loggedAgain += policy.firstRefusal(name(i));
    EXPECT_EQ(loggedAgain, 0);
    // The oldest were forgotten: the memory is bounded.
    EXPECT_TRUE(policy.firstRefusal(name(0)));
    EXPECT_FALSE(policy.firstRefusal(name(0)));
}
