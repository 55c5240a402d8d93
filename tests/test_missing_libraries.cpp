// Initialise when PSAPI.DLL or PDH.DLL cannot be loaded at all.
#include <gtest/gtest.h>

#include "host.h"

using namespace test;

TEST(Without_psapi, ProcessFunctionsReport207AndCountersStillWork) {
    Host host;
    ASSERT_EQ(host.Initialise(), 19);
    EXPECT_EQ(host.Text(kCountProc), "207: Could not load PSAPI.DLL");
    EXPECT_EQ(host.Text(kListMod, {"0", "0"}), "207: Could not load PSAPI.DLL");
    EXPECT_EQ(host.Text(kGetProcInfo, {"0"}), "207: Could not load PSAPI.DLL");
    EXPECT_EQ(host.Text(kGetModInfo, {"0", "0"}), "207: Could not load PSAPI.DLL");
    // missingApi stays clear: the counters go on.
    Outcome o = host.Call(kGetData, {"\\System\\System Up Time", "0"});
    EXPECT_EQ(o.status, 0) << o.text;
    host.Terminate();
}

TEST(Without_pdh, CounterFunctionsReport230AndProcessesStillWork) {
    Host host;
    ASSERT_EQ(host.Initialise(), 19);
    EXPECT_EQ(host.Text(kGetData, {"\\System\\System Up Time", "0"}), "230:  Could not load PDH.DLL");
    EXPECT_EQ(host.Text(kBrowseCntrs, {"0", "0"}), "230:  Could not load PDH.DLL");
    EXPECT_EQ(host.Text(kRemoteConn, {"x"}), "230:  Could not load PDH.DLL");
    EXPECT_EQ(host.Text(kParseCntrPath, {"x"}), "230:  Could not load PDH.DLL");
    EXPECT_EQ(host.Call(kCountProc).status, 0);
    host.Terminate();
}
