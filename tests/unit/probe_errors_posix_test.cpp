#include <gtest/gtest.h>

#include <cerrno>
#include <netdb.h>

#include "probe/errors.h"

namespace tv {
namespace {

TEST(ProbeErrorsPosix, ErrnoToWinsock) {
    struct {
        int e, wsa;
    } rows[] = {
        {ECONNREFUSED, 10061}, {ECONNRESET, 10054},   {ETIMEDOUT, 10060},     {EAGAIN, 10035},
        {EWOULDBLOCK, 10035},  {EINPROGRESS, 10035},  {ENETUNREACH, 10051},   {EHOSTUNREACH, 10065},
        {ENETDOWN, 10050},     {ECONNABORTED, 10053}, {EADDRNOTAVAIL, 10049}, {EACCES, 10013},
        {EMFILE, 10024},       {EPIPE, 10054},        {EINTR, 10004},         {0, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(wsaFromErrno(r.e), r.wsa) << "errno " << r.e;
    EXPECT_EQ(wsaFromErrno(EPROTO), EPROTO); // unknown: passed through, below 10000
}

TEST(ProbeErrorsPosix, ResolverCodesReachTheirWords) {
    EXPECT_EQ(stateWord(dnsStateFromResolveError(wsaFromGai(EAI_NONAME, 0))), "nx");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(wsaFromGai(EAI_NODATA, 0))), "nx");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(wsaFromGai(EAI_AGAIN, 0))), "timeout");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(wsaFromGai(EAI_FAIL, 0))), "fail");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(wsaFromGai(EAI_MEMORY, 0))), "fail");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(wsaFromGai(EAI_SYSTEM, ECONNREFUSED))), "fail");
    EXPECT_EQ(wsaFromGai(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_EQ(wsaFromGai(EAI_SYSTEM, 0), 11003); // never "success"
    EXPECT_EQ(wsaFromGai(0, 0), 0);
}

} // namespace
} // namespace tv
