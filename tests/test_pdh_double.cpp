// The counter functions against a PDH.DLL that does what the test says:
// failures Wine's PDH cannot produce, the browse dialog, path parsing and
// remote connection (stubs that end the process in Wine's PDH).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <locale.h>

#include <memory>

#include "host.h"
#include "owner.h"
#include "rig.h"
#include "script.h"

using namespace test;
using pdhdouble::CallNames;
using pdhdouble::Script;

namespace {

const char kPath[] = "\\\\DOUBLE\\Widget(left)\\Turns";

// The extender asks for PDH.DLL from the system folder alone: the double
// stands in for that one load.
decltype(&LoadLibraryExA) realLoadEx;
HMODULE WINAPI LoadDouble(LPCSTR name, HANDLE file, DWORD flags) {
    if (lstrcmpiA(name, "PDH.DLL") != 0 || flags != LOAD_LIBRARY_SEARCH_SYSTEM32) return realLoadEx(name, file, flags);
    return realLoadEx((Directory() + "pdh_full\\pdh.dll").c_str(), file, 0);
}

class WithDouble : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fromDouble.Active());
        ASSERT_EQ(host.Initialise(), 19);
        s = pdhdouble::Attached();
        ASSERT_NE(s, nullptr) << "the double is not the PDH.DLL that was loaded";
        pdhdouble::Reset(*s);  // every status as a test starts, whatever a table stopped by an assertion left
        host.LastError();
        ClearLastErrorLine();
    }
    void TearDown() override {
        if (s) EXPECT_EQ(s->openQueries, 0) << "a query was left open: " << CallNames(*s);
        if (s) EXPECT_EQ(s->refusedHandles, 0) << "a handle PDH never issued: " << CallNames(*s);
        host.Terminate();
    }
    Outcome GetData(const char* flag = "0") { return host.Call(tGetData, {kPath, flag}); }
    Outcome Browse(const char* mode, const char* format = "0") {
        return host.Call(tBrowseCntrs, {mode, format, "", "", ""}, reinterpret_cast<void*>(0x4242));
    }

    Host host;
    rig::Patch fromDouble{host.Module(), "KERNEL32.dll", "LoadLibraryExA", LoadDouble, &realLoadEx};
    Script* s = nullptr;
};

// The flags of this process's window station without WSF_VISIBLE, as a service's; or a refusal.
BOOL stationReadable;
BOOL WINAPI StationFlags(HANDLE object, int index, PVOID info, DWORD size, LPDWORD) {
    const bool asked = stationReadable && object == GetProcessWindowStation() && index == UOI_FLAGS && size >= sizeof(USEROBJECTFLAGS);
    return asked ? (memset(info, 0, sizeof(USEROBJECTFLAGS)), TRUE) : (SetLastError(ERROR_INVALID_PARAMETER), FALSE);
}

HGLOBAL WINAPI NoGlobalAlloc(UINT, SIZE_T) { return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr; }

constexpr PDH_STATUS St(DWORD code) { return static_cast<PDH_STATUS>(code); }

// The C runtime's locale with a decimal symbol of the user's choosing.
const char* decimalSymbol;
lconv* ServeLocale() {
    static lconv served;
    served = *localeconv();
    served.decimal_point = const_cast<char*>(decimalSymbol);
    return &served;
}

}  // namespace

TEST_F(WithDouble, GetDataSamplesTwiceAndReleasesInOrder) {
    Outcome o = GetData("0");
    ASSERT_EQ(o.status, 0) << o.text;
    EXPECT_EQ(o.value, 42);
    EXPECT_EQ(CallNames(*s),
              "PdhOpenQuery PdhAddCounterA PdhGetCounterInfoA PdhGetCounterInfoA "
              "PdhCollectQueryData PdhCollectQueryData PdhGetFormattedCounterValue "
              "PdhRemoveCounter PdhCloseQuery");
    EXPECT_EQ(s->calls[0].value, 1u) << "query user data";
    EXPECT_STREQ(s->calls[0].text, "") << "live data, no log file";
    EXPECT_STREQ(s->calls[1].text, kPath);
    EXPECT_EQ(s->calls[1].value, 1u) << "counter user data";
    EXPECT_EQ(s->calls[2].value + s->calls[3].value, 2u) << "the explain text, in both calls";
    EXPECT_GE(s->calls[5].ms - s->calls[4].ms, 299.0) << "300 ms between the two samples";
    EXPECT_EQ(s->calls[6].value, static_cast<ULONG_PTR>(PDH_FMT_LONG));

    pdhdouble::Forget(*s);
    o = GetData("1");
    EXPECT_EQ(o.text, "2.5");
    EXPECT_EQ(s->calls[6].value, static_cast<ULONG_PTR>(PDH_FMT_DOUBLE));
}

TEST_F(WithDouble, GetDataOpenAndAddFailures) {
    s->openQuery = St(PDH_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(GetData().text, "228: tGetData function failed.");
    EXPECT_EQ(host.LastError(), PDH_MEMORY_ALLOCATION_FAILURE);
    s->openQuery = 0;

    // A path the localised form refuses as unknown gets one try of the
    // English form, with the same query, path and user data; the first
    // refusal stands when that fails too, or when the English form is
    // missing (before Vista).
    const DWORD kObject = PDH_CSTATUS_NO_OBJECT, kCounter = PDH_CSTATUS_NO_COUNTER;
    const std::string sampled = "PdhGetCounterInfoA PdhGetCounterInfoA PdhCollectQueryData "
        "PdhCollectQueryData PdhGetFormattedCounterValue PdhRemoveCounter PdhCloseQuery";
    struct { DWORD status, english; bool missing; std::string result, calls; } rows[] = {
        {kObject, 0, false, "42", "PdhOpenQuery PdhAddCounterA PdhAddEnglishCounterA " + sampled},
        {kCounter, 0, false, "42", "PdhOpenQuery PdhAddCounterA PdhAddEnglishCounterA " + sampled},
        {kObject, kCounter, false, "231: The specified object is not found on the system.",
         "PdhOpenQuery PdhAddCounterA PdhAddEnglishCounterA PdhCloseQuery"},
        {kCounter, kObject, false, "223: The specified counter was not found.",
         "PdhOpenQuery PdhAddCounterA PdhAddEnglishCounterA PdhCloseQuery"},
        {PDH_CSTATUS_BAD_COUNTERNAME, 0, false, "222: Invalid Counter Name.",
         "PdhOpenQuery PdhAddCounterA PdhCloseQuery"},
        {PDH_INVALID_ARGUMENT, 0, false, "228: tGetData function failed.", "PdhOpenQuery PdhAddCounterA PdhCloseQuery"},
        {kObject, 0, true, "231: The specified object is not found on the system.",
         "PdhOpenQuery PdhAddCounterA PdhCloseQuery"},
    };
    std::unique_ptr<rig::Serve> missing;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << "add 0x" << row.status << ", English add 0x" << row.english
                     << (row.missing ? ", no PdhAddEnglishCounterA" : ""));
        if (row.missing && !missing) {
            missing.reset(new rig::Serve("PdhAddEnglishCounterA", nullptr));
            ASSERT_EQ(host.Initialise(), 19);
            s = pdhdouble::Attached();
        }
        pdhdouble::Forget(*s);
        s->addCounter = St(row.status);
        s->addEnglish = St(row.english);
        host.Call(tCloseProc, {"0"});  // a saved code for a success to keep
        Outcome o = GetData();
        EXPECT_EQ(o.status == 0 ? std::to_string(o.value) : o.text, row.result) << row.status;
        EXPECT_EQ(host.LastError(), o.status == 0 ? 6u : row.status) << row.status;
        EXPECT_EQ(CallNames(*s), row.calls) << row.status;
        if (row.calls.find("English") != std::string::npos) {
            EXPECT_STREQ(s->calls[2].text, kPath);
            EXPECT_EQ(s->calls[2].handle, s->calls[1].handle) << "the same query";
            EXPECT_EQ(s->calls[2].value, 1u) << "counter user data";
        }
    }
    EXPECT_EQ(LastErrorLine(), "");
}

namespace {

// What each PDH failure gives, row by row: the message, the code
// tGetLastError keeps (a code of 6 set before the call stands for
// "unchanged"; kAny: not looked at), the settings-file line, and how the
// calls end (a query is closed after every failure once it was opened).
enum Call { kData, kBrowsePath, kBrowseValue, kParse, kConnect };
constexpr DWORD kAny = 0xFFFFFFFF, kKept = 6;
const char* const released = "PdhRemoveCounter PdhCloseQuery", *const kOnce = "PdhParseCounterPathA";
const char* const kTwice = "PdhParseCounterPathA PdhParseCounterPathA";
const char* const k210 = "210 : tBrowseCntrs function failed.";
const char* const k228 = "228: tGetData function failed.";
const char* const kFormatLog = "-1073738822 (Status of PdhGetFormattedCounterValue)";
// The double's statuses a row sets, as its name and its setter.
#define SETS(...) #__VA_ARGS__, [](Script& s) { (void)s; __VA_ARGS__; }
struct PdhFailureRow { const char* name; void (*set)(Script&); Call call; const char* text; DWORD code; const char* log, *end; };
const PdhFailureRow kPdhFailures[] = {
    // The counter information: its call fails, or the record's status is bad.
    {SETS(s.info = St(PDH_INVALID_ARGUMENT); s.infoCStatus = PDH_CSTATUS_NO_INSTANCE;),
     kData, "227: The specified instance is not present.", PDH_INVALID_ARGUMENT, "", released},
    {SETS(s.info = St(PDH_INVALID_ARGUMENT); s.infoCStatus = PDH_CSTATUS_NO_MACHINE;),
     kData, k228, PDH_INVALID_ARGUMENT, "-2147481648 (Status of PdhGetCounterInfo)",
     "PdhGetCounterInfoA PdhGetCounterInfoA PdhRemoveCounter PdhCloseQuery"},
    {SETS(s.infoCStatus = PDH_CSTATUS_NO_INSTANCE;), kData,
     "227: The specified instance is not present.", kKept, "-2147481647 (Status of PdhGetCounterInfo)", released},
    {SETS(s.infoCStatus = PDH_CSTATUS_INVALID_DATA;), kData,
     "227: The specified instance is not present.", kKept, "-1073738822 (Status of PdhGetCounterInfo)", released},
    // New data counts as valid data for tGetData.
    {SETS(s.infoCStatus = PDH_CSTATUS_NEW_DATA;), kData, "", kKept, "", released},
    // A size that cannot hold the record: the record is never read.
    {SETS(s.infoSize = 8;), kData, k228, PDH_MORE_DATA, "", "PdhAddCounterA PdhGetCounterInfoA PdhRemoveCounter PdhCloseQuery"},
    {SETS(s.collect[0] = St(PDH_NO_DATA);), kData, "220: tCollectData failed", PDH_NO_DATA, "", released},
    {SETS(s.collect[1] = St(PDH_NO_DATA);), kData, "220: tCollectData failed", PDH_NO_DATA, "", released},
    {SETS(s.format = St(PDH_INVALID_ARGUMENT); s.valueCStatus = PDH_CSTATUS_INVALID_DATA;), kData,
     "224: An argument is not correct or is incorrectly formatted.", PDH_INVALID_ARGUMENT, kFormatLog, released},
    {SETS(s.format = St(PDH_INVALID_DATA); s.valueCStatus = PDH_CSTATUS_INVALID_DATA;), kData,
     "225: Specified counter does not contain valid data or a successful status code.", PDH_INVALID_DATA, kFormatLog, released},
    {SETS(s.format = St(PDH_INVALID_HANDLE); s.valueCStatus = PDH_CSTATUS_INVALID_DATA;), kData,
     "226: The counter handle is not valid.", PDH_INVALID_HANDLE, kFormatLog, released},
    {SETS(s.format = St(PDH_CALC_NEGATIVE_VALUE); s.valueCStatus = PDH_CSTATUS_INVALID_DATA;), kData,
     k228, PDH_CALC_NEGATIVE_VALUE, kFormatLog, released},
    // A failing status with a clean record status is a failure too, and
    // the value PDH never wrote is not passed off as a result.
    {SETS(s.format = St(PDH_INVALID_HANDLE); s.formatFills = FALSE;), kData,
     "226: The counter handle is not valid.", PDH_INVALID_HANDLE, "", released},
    // The browse dialog's two modes.
    {SETS(s.browse = St(PDH_INVALID_ARGUMENT);), kBrowsePath, k210, PDH_INVALID_ARGUMENT, "", "PdhCloseQuery"},
    {SETS(s.addCounter = St(PDH_CSTATUS_BAD_COUNTERNAME);), kBrowsePath, "222: Invalid Counter Name.",
     PDH_CSTATUS_BAD_COUNTERNAME, "", "PdhAddCounterA PdhCloseQuery"},
    {SETS(s.info = St(PDH_INVALID_ARGUMENT);), kBrowsePath, k210, PDH_INVALID_ARGUMENT, "", released},
    {SETS(s.remove = St(PDH_INVALID_HANDLE);), kBrowsePath, k210, PDH_INVALID_HANDLE, "", released},
    {SETS(s.collect[0] = St(PDH_NO_DATA);), kBrowseValue, k210, PDH_NO_DATA, "", released},
    // The system's last error is logged here, not the record's status (the double sets 13 as it fails).
    {SETS(s.format = St(PDH_INVALID_DATA); s.valueCStatus = PDH_CSTATUS_NO_INSTANCE;), kBrowseValue,
     "233: The specified instance is not present.", ERROR_INVALID_DATA, "13 (PdhGetFormattedCounterValue)", released},
    {SETS(s.format = St(PDH_INVALID_DATA); s.valueCStatus = PDH_CSTATUS_INVALID_DATA;), kBrowseValue,
     k210, ERROR_INVALID_DATA, "13 (PdhGetFormattedCounterValue)", released},
    {SETS(s.format = St(PDH_INVALID_DATA); s.formatFills = FALSE;), kBrowseValue,
     "225: Specified counter does not contain valid data or a successful status code.", kKept, "", released},
    {SETS(s.format = St(PDH_INVALID_ARGUMENT); s.formatFills = FALSE;), kBrowseValue,
     "224: An argument is not correct or is incorrectly formatted.", kKept, "", released},
    {SETS(s.format = St(PDH_INVALID_HANDLE); s.formatFills = FALSE;), kBrowseValue,
     "226: The counter handle is not valid.", kKept, "", released},
    {SETS(s.format = St(PDH_NO_DATA); s.formatFills = FALSE;), kBrowseValue, k210, kKept, "", released},
    // New data is no valid data here: a failure that clears the code.
    {SETS(s.valueCStatus = PDH_CSTATUS_NEW_DATA;), kBrowseValue, k210, 0, "", released},
    // Both releases failing: the removal's code stands after the path, the
    // close's after the value; a failing release replaces a failed
    // collection's code in the dialog, never in tGetData.
    {SETS(s.remove = St(PDH_INVALID_HANDLE); s.close = St(PDH_INVALID_ARGUMENT);), kBrowsePath, k210, PDH_INVALID_HANDLE, "", released},
    {SETS(s.remove = St(PDH_INVALID_HANDLE); s.close = St(PDH_INVALID_ARGUMENT);), kBrowseValue, k210, PDH_INVALID_ARGUMENT, "", released},
    {SETS(s.collect[0] = St(PDH_NO_DATA); s.close = St(PDH_INVALID_HANDLE);), kBrowseValue, k210, PDH_INVALID_HANDLE, "", released},
    {SETS(s.collect[0] = St(PDH_NO_DATA); s.remove = St(PDH_INVALID_HANDLE); s.close = St(PDH_INVALID_ARGUMENT);), kBrowseValue, k210, PDH_INVALID_HANDLE, "", released},  // after a failure the removal's code wins
    {SETS(s.collect[0] = St(PDH_NO_DATA); s.close = St(PDH_INVALID_HANDLE);), kData, "220: tCollectData failed", PDH_NO_DATA, "", released},
    // Path parsing: the size query, then the parse only after a good one.
    {SETS(s.parse = St(PDH_INVALID_ARGUMENT);), kParse, "205: Invalid parameter type. ", PDH_INVALID_ARGUMENT, "", kTwice},
    {SETS(s.parse = St(PDH_INVALID_PATH);), kParse, "222: Invalid Counter Name.", PDH_INVALID_PATH, "", kTwice},
    {SETS(s.parse = St(PDH_MEMORY_ALLOCATION_FAILURE);), kParse,
     "245: Unable to allocate memory in order to complete the function.\n", PDH_MEMORY_ALLOCATION_FAILURE, "", kTwice},
    {SETS(s.parse = St(PDH_CSTATUS_NO_OBJECT);), kParse, "246: tParseCntrPath failed", PDH_CSTATUS_NO_OBJECT, "", kTwice},
    {SETS(s.parseSizeQuery = St(PDH_INVALID_ARGUMENT);), kParse, "205: Invalid parameter type. ",
     PDH_INVALID_ARGUMENT, "", kOnce},
    {SETS(s.parseSizeQuery = St(PDH_INVALID_PATH);), kParse, "222: Invalid Counter Name.", PDH_INVALID_PATH, "", kOnce},
    {SETS(s.parseSizeQuery = St(PDH_MEMORY_ALLOCATION_FAILURE);), kParse,
     "245: Unable to allocate memory in order to complete the function.\n", PDH_MEMORY_ALLOCATION_FAILURE, "", kOnce},
    {SETS(s.parseSizeQuery = St(PDH_CSTATUS_NO_OBJECT);), kParse, "246: tParseCntrPath failed",
     PDH_CSTATUS_NO_OBJECT, "", kOnce},
    // A size query that reports one byte less than the record.
    {SETS(s.parseSize = sizeof(PDH_COUNTER_PATH_ELEMENTS_A) - 1;), kParse, "246: tParseCntrPath failed", PDH_MORE_DATA, "", kOnce},
    // A cancelled dialog whose query will not close.
    {SETS(s.browse = St(PDH_DIALOG_CANCELLED); s.close = St(PDH_INVALID_HANDLE);), kBrowsePath, k210, PDH_INVALID_HANDLE, "",
     "PdhBrowseCountersA PdhCloseQuery"},
    // The machine's name as given; a failure logged.
    {SETS(), kConnect, "", kKept, "", "PdhConnectMachineA"},
    {SETS(s.connect = St(PDH_CSTATUS_NO_MACHINE);), kConnect, "235: Unable to connect to specified machine.",
     PDH_CSTATUS_NO_MACHINE, "-2147481648 (PdhConnectMachineA)", "PdhConnectMachineA"},
    {SETS(s.connect = St(PDH_INVALID_ARGUMENT);), kConnect, "234: tRemoteConn failed.", PDH_INVALID_ARGUMENT,
     "-1073738819 (PdhConnectMachineA)", "PdhConnectMachineA"},
};

}  // namespace

TEST_F(WithDouble, EachPdhFailureGivesItsMessageCodeAndLogLine) {
    for (const auto& row : kPdhFailures) {
        SCOPED_TRACE(testing::Message() << (*row.name ? row.name : "nothing set") << ", call " << static_cast<int>(row.call));
        pdhdouble::Reset(*s);
        row.set(*s);
        host.Call(tCloseProc, {"0"});
        ClearLastErrorLine();
        const Outcome o = row.call == kData ? GetData() : row.call == kParse ? host.Call(tParseCntrPath, {kPath})
                          : row.call == kConnect ? host.Call(tRemoteConn, {"\\\\FARAWAY"}) : Browse(row.call == kBrowsePath ? "0" : "1");
        if (row.call == kConnect) EXPECT_TRUE(!strcmp(s->calls[0].text, "\\\\FARAWAY") && (o.status || o.value == 1));
        EXPECT_EQ(o.text, row.text);
        if (row.code != kAny) EXPECT_EQ(host.LastError(), row.code);
        if (row.log) EXPECT_EQ(LastErrorLine(), row.log);
        const std::string calls = CallNames(*s), end = row.end ? row.end : "";
        const size_t from = row.call == kParse ? 0 : calls.size() - std::min(calls.size(), end.size());
        EXPECT_EQ(calls.substr(from), end) << calls;
    }
    s->openQueries = 0;  // the double kept the queries it refused to close
}

// The result is built only after both releases: a failing one leaves the
// host's value field as it was, in both modes.
TEST_F(WithDouble, GetDataReleaseFailures) {
    struct { DWORD remove, close; const char* text; } rows[] = {
        {PDH_INVALID_HANDLE, 0, "221: tCloseCounter failed. Possibly an invalid handle"},
        {0, PDH_INVALID_HANDLE, "218: Invalid handle."},
        {0, PDH_INVALID_ARGUMENT, "217: tCloseQuery failed."},
        {PDH_INVALID_HANDLE, PDH_INVALID_ARGUMENT, "221: tCloseCounter failed. Possibly an invalid handle"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << "remove 0x" << row.remove << ", close 0x" << row.close);
        for (const char* flag : {"0", "1"}) {
            s->remove = St(row.remove);
            s->close = St(row.close);
            pdhdouble::Forget(*s);
            memset(&host.slot, 0x77, sizeof host.slot);
            Outcome o = GetData(flag);
            EXPECT_EQ(o.text, row.text) << flag;
            EXPECT_EQ(o.value, 0x77777777) << row.text << ", mode " << flag;
            EXPECT_EQ(host.LastError(), row.remove ? row.remove : row.close);
            EXPECT_EQ(CallNames(*s).substr(CallNames(*s).size() - 30), "PdhRemoveCounter PdhCloseQuery");
        }
    }
    s->openQueries = 0;  // the double kept the queries it refused to close
}

TEST_F(WithDouble, BrowseConfiguresTheDialogAndGivesTheReportedFullPath) {
    Outcome o = Browse("abc");  // read as 0
    ASSERT_EQ(o.status, 0) << o.text;
    EXPECT_EQ(o.text, "\\\\DOUBLE\\Widget(left)\\Turns") << "not the dialog's text";
    EXPECT_STREQ(s->calls[2].text, "\\\\DOUBLE\\Widget(browsed)\\Turns") << "added as chosen";
    EXPECT_EQ(s->calls[2].value, 0u) << "counter user data 0";
    EXPECT_EQ(o.returned, LastCallbackReturn());
    EXPECT_EQ(o.calls, 1);
    const PDH_BROWSE_DLG_CONFIG_A& c = s->browseConfig;
    DWORD flags;
    memcpy(&flags, &c, sizeof flags);
    EXPECT_EQ(flags, 0x37u);
    EXPECT_EQ(c.hWndOwner, reinterpret_cast<HWND>(0x4242));
    EXPECT_EQ(c.szDataSource, nullptr);
    EXPECT_NE(c.szReturnPathBuffer, nullptr);
    EXPECT_EQ(c.cchReturnPathLength, 1024u);
    EXPECT_EQ(c.pCallBack, nullptr);
    EXPECT_EQ(c.dwCallBackArg, 0u);
    EXPECT_EQ(c.CallBackStatus, 0);
    EXPECT_EQ(c.dwDefaultDetailLevel, 400u);
    EXPECT_STREQ(s->browseCaption, "Select a counter to monitor.");
    EXPECT_EQ(s->calls[0].value, 0u) << "query user data 0";
    memset(s->browsePath, 'p', 1099);  // fills the dialog's buffer: the last character gives way
    pdhdouble::Forget(*s);
    ASSERT_EQ(Browse("0").status, 0);
    EXPECT_EQ(s->calls[2].text, std::string(1023, 'p'));

    // In a service, whose window station is not visible, nobody could answer
    // the dialog: 210 with 1459 at once, before any PDH call. Flags that
    // cannot be read show the dialog as before.
    for (const BOOL readable : {TRUE, FALSE}) {
        stationReadable = readable;
        rig::Patch station(host.Module(), "USER32.dll", "GetUserObjectInformationA", StationFlags);
        pdhdouble::Forget(*s);
        EXPECT_EQ(Browse("0").text, readable ? "210 : tBrowseCntrs function failed." : "\\\\DOUBLE\\Widget(left)\\Turns");
        EXPECT_EQ(host.LastError(), readable ? 1459u : 0u);
        EXPECT_EQ(s->callCount == 0, readable == TRUE) << "the dialog and its PDH calls";
    }
}

TEST_F(WithDouble, ACancelledDialogReturnsMinusFiveWithoutTheCallback) {
    s->browse = St(PDH_DIALOG_CANCELLED);
    host.Call(tCloseProc, {"0"});  // leaves a saved code
    memset(&host.slot, 0x77, sizeof host.slot);
    Outcome o = Browse("0");
    EXPECT_EQ(o.returned, -5);
    EXPECT_EQ(o.calls, 0);
    for (size_t i = 0; i < sizeof host.slot; ++i) {
        EXPECT_EQ(reinterpret_cast<uint8_t*>(&host.slot)[i], 0x77) << i;
    }
    EXPECT_EQ(host.LastError(), 6u) << "the saved code is untouched";
}

TEST_F(WithDouble, BrowseModeOneTakesOneSample) {
    pdhdouble::Forget(*s);
    Outcome o;
    EXPECT_LE(StackTaken([&] { o = Browse("1", "0"); }), 80u * 1024) << "of the caller's stack, as every keyword";
    ASSERT_EQ(o.status, 0) << o.text;
    EXPECT_EQ(o.value, 42);
    EXPECT_EQ(CallNames(*s),
              "PdhOpenQuery PdhBrowseCountersA PdhAddCounterA PdhCollectQueryData "
              "PdhGetFormattedCounterValue PdhRemoveCounter PdhCloseQuery");
    EXPECT_EQ(s->calls[4].value, static_cast<ULONG_PTR>(PDH_FMT_LONG)) << "no format bit more";
    pdhdouble::Forget(*s);
    EXPECT_EQ(Browse("1", "1").text, "2.5");
    EXPECT_EQ(s->calls[4].value, static_cast<ULONG_PTR>(PDH_FMT_DOUBLE)) << "no format bit more";

    // The decimal point is '.' whatever locale the host set in the C
    // runtime that every module of its process shares, and whatever
    // decimal symbol of up to three characters the user chose.
    ASSERT_NE(setlocale(LC_ALL, "German_Germany.1252"), nullptr);
    ASSERT_STREQ(localeconv()->decimal_point, ",");
    struct { double value; const char* text; } rows[] = {
        {0, "0.00000000e+000"}, {1, "1.0"}, {2.5, "2.5"}, {-3.25, "-3.25"}, {100, "100.0"},
        {12.3456789012, "12.3456789"}, {0.0001, "0.0001"}, {0.00005, "5.00000000e-005"},
        {999999999, "999999999.0"}, {1234567890, "1.23456789e+009"},
    };
    for (const char* symbol : {",", ",,", "::;", "\x81\x45"}) {  // the last a double-byte character
        if (symbol[0] == '\x81') ASSERT_NE(setlocale(LC_ALL, "Japanese_Japan.932"), nullptr);
        decimalSymbol = symbol;
        rig::Patch locale(host.Module(), "msvcrt.dll", "localeconv", ServeLocale);
        ASSERT_TRUE(locale.Active());
        for (const auto& row : rows) {
            s->doubleValue = row.value;
            EXPECT_EQ(Browse("1", "1").text, row.text) << row.value << " with " << symbol;
        }
    }
    setlocale(LC_ALL, "C");

}

TEST_F(WithDouble, ParseGivesSixFieldsInstanceBeforeParent) {
    Outcome o;
    EXPECT_LE(StackTaken([&] { o = host.Call(tParseCntrPath, {kPath}); }), 80u * 1024) << "of the caller's stack, as every keyword";
    ASSERT_EQ(o.status, 0) << o.text;
    EXPECT_EQ(o.text, "\\\\DOUBLE\tWidget\tleft\t\t0\tTurns");
    strcpy(s->parent, "outer");
    s->instanceIndex = 3;
    strcpy(s->machine, "<null>");
    strcpy(s->counter, "<null>");
    EXPECT_EQ(host.Text(tParseCntrPath, {kPath}), "\tWidget\tleft\touter\t3\t");
    EXPECT_EQ(s->calls[0].value + s->calls[1].value, 0u) << "flags 0 in both calls";
    s->instanceIndex = 3000000000u;
    EXPECT_EQ(host.Text(tParseCntrPath, {kPath}), "\tWidget\tleft\touter\t3000000000\t") << "read unsigned";
}

TEST_F(WithDouble, ParseFailures) {
    {
        // The block cannot be had: as when PDH itself reports it.
        rig::Patch alloc(host.Module(), "KERNEL32.dll", "GlobalAlloc", NoGlobalAlloc);
        EXPECT_EQ(host.Text(tParseCntrPath, {kPath}),
                  "245: Unable to allocate memory in order to complete the function.\n");
        EXPECT_EQ(host.LastError(), PDH_MEMORY_ALLOCATION_FAILURE);
    }
    // PDH takes paths of up to 2,048 characters (PDH_MAX_COUNTER_PATH): a
    // longer one never reaches it, in either keyword; a short one after them
    // ends where it ends.
    for (size_t length : {2048, 2049, 5000, 5}) {
        const std::string path(length, 'p');
        pdhdouble::Forget(*s);
        const Outcome parse = host.Call(tParseCntrPath, {path});
        const Outcome data = host.Call(tGetData, {path, "0"});
        const bool reaches = length <= 2048;
        EXPECT_EQ(parse.status == 0 ? "" : parse.text, reaches ? "" : "222: Invalid Counter Name.") << length;
        EXPECT_EQ(data.status == 0 ? "" : data.text, reaches ? "" : "222: Invalid Counter Name.") << length;
        EXPECT_EQ(host.LastError(), reaches ? 0u : PDH_CSTATUS_BAD_COUNTERNAME) << length;
        EXPECT_EQ(CallNames(*s).find("PdhParseCounterPathA PdhParseCounterPathA PdhOpenQuery PdhAddCounterA"),
                  reaches ? 0u : std::string::npos) << length;
        if (reaches) EXPECT_EQ(s->calls[0].text, path.substr(0, pdhdouble::kTextCapacity - 1));
    }
}

// vekrun beside the double, its own by a manifest, which takes from the environment in vekrun's
// process the browse status, the decimal value (42 whole; 2.5 as a decimal
// unless a row says), the counter names it serves, or a refusal to load: a
// dialog chosen or cancelled, and the doctor's checks of what it needs.
TEST(VekrunWithDouble, TheDialogTheProcessListAndTheDoctorsChecksByTheirRows) {
    const std::string copy = Directory() + "pdh_full\\vekrun.exe";
    ASSERT_TRUE(CopyBesideDouble(copy));
    const std::string browse = " tBrowseCntrs 0 0 \"\" \"\" \"\"", doctor = " --doctor", turns = " tGetData \\\\DOUBLE\\Widget(left)\\Turns 0", pdh = "pdh               ", names = "counter names     ";
    const std::string cause = " as a decimal: this PDH stores whole numbers where decimals go, as Wine's does, so decimal reads "
                              "(format 1 of tGetData and tBrowseCntrs) are wrong on this machine. Read counters as whole numbers (format 0) here.\r\n";
    const struct { const char* variable; const char* value; std::string args; DWORD exit; Shown out; std::string err; } rows[] = {
        {"PDH_DOUBLE_BROWSE_STATUS", nullptr, browse, 0, "\\\\DOUBLE\\Widget(left)\\Turns\r\n", ""},
        {"PDH_DOUBLE_BROWSE_STATUS", "0x800007D9", browse, 2, "", "vekrun: tBrowseCntrs: the dialog was cancelled\r\n"},
        {"PDH_DOUBLE_BROWSE_STATUS", "0xC0000BB9", browse, 1, "", "vekrun:" + browse + ": 210 : tBrowseCntrs function failed. (PDH status 0xC0000BB9: The specified counter could not be found)\r\n"},
        {"PDH_DOUBLE_BROWSE_STATUS", "0x800007D0", browse, 1, "", "vekrun:" + browse + ": 210 : tBrowseCntrs function failed. (PDH status 0x800007D0: Unable to connect to the specified computer or the computer is offline)\r\n"},
        {"PDH_DOUBLE_BROWSE_STATUS", "0x800007D9", " --json" + browse, 2, "{\"cancelled\": true}\r\n", "vekrun: tBrowseCntrs: the dialog was cancelled\r\n"},
        {"PDH_DOUBLE_VALUE", nullptr, doctor, 1, HasLines(pdh + "PROBLEM: \\System\\System Up Time reads 42 s as a whole number but 2.5" + cause), ""},
        {"PDH_DOUBLE_VALUE", "40.5", doctor, 1, HasLines(pdh + "PROBLEM: \\System\\System Up Time reads 42 s as a whole number but 40.5" + cause), ""},
        {"PDH_DOUBLE_VALUE", "43.5", doctor, 1, HasLines(pdh + "PROBLEM: \\System\\System Up Time reads 42 s as a whole number but 43.5" + cause), ""},
        {"PDH_DOUBLE_VALUE", "-2.5", " --json tGetData \\\\DOUBLE\\Widget(left)\\Turns 1", 0, "-2.5\r\n", ""},
        {"PDH_DOUBLE_VALUE", "41", doctor, 1, HasLines(pdh + "ok: a query reads \\System\\System Up Time: 41.0 s, whole 42 s\r\n"), ""},
        {"PDH_DOUBLE_VALUE", "43", doctor, 1, HasLines(pdh + "ok: a query reads \\System\\System Up Time: 43.0 s, whole 42 s\r\n"), ""},
        {"PDH_DOUBLE_COUNTER_NAMES", "230|Process|784|ID Process", doctor, 1, HasLines("platform          ok: Windows 6.\n" + names +
         "ok: \"Process\" is 230, \"ID Process\" 784\r\nperformance data  ok: the Process object (230) lists "), ""},
        {"PDH_DOUBLE_COUNTER_NAMES", "230|Process|784|ID Process", " --csv tListProc", 0, HasLines("\"Name\",\"ProcessId\"\r\n\"Idle\",\"0\"\r\n"), ""},
        {"PDH_DOUBLE_COUNTER_NAMES", "230|Process|784|ID Process", " --json tListProc", 0, HasLines("[{\"name\": \"Idle\", \"id\": 0}, \n{\"name\": \"vekrun\", \"id\": "), ""},
        {"PDH_DOUBLE_COUNTER_NAMES", "230|Process|2|System", doctor, 1, HasLines(names + "PROBLEM: the English counter-name list (2 names) lacks \"ID Process\", so"), ""},
        {"PDH_DOUBLE_COUNTER_NAMES", "refuse", doctor, 1, HasLines(names + "PROBLEM: the English counter-name list (HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009, value Counter) cannot be read: "), ""},
        {"PDH_DOUBLE_CLOCK", "1", " --every 3600 --samples 2 tVersion", 0, HasLines("time                           tVersion\r\n  44017\r\n"), ""},
        {"PDH_DOUBLE_CLOCK", "1", " --csv --every 3600 --samples 1 tVersion", 0, HasLines("\"09/23/2026 14:05:06.789\",\"44017\"\r\n"), ""},  // month first
        // A sample's offset from UTC at UTC, east and west of it.
        {"PDH_DOUBLE_ZONE", "0", " --json --every 0.05 --samples 1 tVersion", 0, HasLines("+00:00\", \"value\": 44017}"), ""},
        {"PDH_DOUBLE_ZONE", "-330", " --json --every 0.05 --samples 1 tVersion", 0, HasLines("+05:30\", \"value\": 44017}"), ""},
        {"PDH_DOUBLE_ZONE", "240", " --every 0.05 --samples 1 tVersion", 0, HasLines("-04:00  44017"), ""},
        // A counter that is not there, by each of the statuses that say so, ends the sampling at once.
        {"PDH_DOUBLE_ADD_STATUS", "0xC0000BB8", " --every 0.05 --samples 2" + turns, 1, "", "vekrun:" + turns + ": 231: The specified object is not found on the system. (PDH status 0xC0000BB8); nothing to sample\r\n"},
        {"PDH_DOUBLE_ADD_STATUS", "0xC0000BC0", " --every 0.05 --samples 2" + turns, 1, "", "vekrun:" + turns + ": 222: Invalid Counter Name. (PDH status 0xC0000BC0); nothing to sample\r\n"},
        {"PDH_DOUBLE_INFO_CSTATUS", "0x800007D1", " --every 0.05 --samples 2" + turns, 1, "", "vekrun:" + turns + ": 227: The specified instance is not present.; nothing to sample\r\n"},
        {"PDH_DOUBLE_LACKS", "PdhParseCounterPathA", " tParseCntrPath \\X\\Y", 1, "", "vekrun: tParseCntrPath \\X\\Y: 211: May need newer version of PDH.DLL (run 'vekrun --doctor')\r\n"},
        {"PDH_DOUBLE_ADD_STATUS", "0xC0000BB9", doctor, 1, HasLines(pdh + "PROBLEM: tGetData \\System\\System Up Time: 223: The specified counter was not found. "), ""},  // one full stop
        {"PDH_DOUBLE_LACKS", "PdhCloseQuery", doctor, 1, HasLines(pdh + "PROBLEM: tGetData \\System\\System Up Time: 211: May need newer version of PDH.DLL. Repair the system files with 'sfc /scannow' from an elevated prompt.\r\n"), ""},
        {"PDH_DOUBLE_LACKS", "PdhAddEnglishCounterA", doctor, 1, HasLines("libraries         ok: PSAPI.DLL and PDH.DLL have every entry point\r\n"), ""},  // Vista's, optional
        {"PDH_DOUBLE_LACKS", nullptr, " --dll \"" + Directory() + "pdh_full\\pdh.dll\" tVersion", 3, "", "vekrun: the extender does not accept this host\r\n"},
        // Windows' snapshots: its base priorities, and an id a younger process took from an older one's parent.
        {"PDH_DOUBLE_WINDOWS_SNAPSHOT", "1", " --procs --json --fields Priority --match $OLD", 0, "{\"Priority\": \"BelowNormal\"}\r\n", ""},
        {"PDH_DOUBLE_WINDOWS_SNAPSHOT", "$OLD:$ROOT", " --kill --tree --dry-run $ROOT", 0,
         Matches("^would end \\d+ sleeper.exe: --dry-run\r\nwould end $ROOT sleeper.exe: --dry-run\r\n$"), ""},
        {"PDH_DOUBLE_WINDOWS_SNAPSHOT", "reborn:$OLD", " --kill $OLD", 1, "failed $OLD sleeper.exe: gone\r\n", ""},  // never the id's new owner
        {"PDH_DOUBLE_SNAPSHOT_FAILS", "0xC0000022", " --procs", 1, "", "vekrun: the system's process list cannot be read (NTSTATUS 0xC0000022)\r\n"},
        // Counter discovery by PDH's enumeration: paths in English whatever the machine's language.
        {"PDH_DOUBLE_LOCAL_NAMES", nullptr, " --counters", 0, "Widget\r\nGadget\r\n", ""},
        {"PDH_DOUBLE_LOCAL_NAMES", nullptr, " --counters widget", 0, "\\Widget(left)\\Turns\r\n\\Widget(left)\\Spins\r\n\\Widget(right)\\Turns\r\n"
         "\\Widget(right)\\Spins\r\n\\Widget(left#1)\\Turns\r\n\\Widget(left#1)\\Spins\r\n", ""},
        {"PDH_DOUBLE_LOCAL_NAMES", "500|Dingsbums|502|Drehungen", " --counters --csv", 0, "\"Object\"\r\n\"Widget\"\r\n\"Gadget\"\r\n", ""},
        {"PDH_DOUBLE_LOCAL_NAMES", "500|Dingsbums|502|Drehungen", " --counters Widget --match *(right)*", 0, "\\Widget(right)\\Turns\r\n\\Widget(right)\\Spins\r\n", ""},
        {"PDH_DOUBLE_LOCAL_NAMES", nullptr, " --json --counters gadget", 0, "{\"Path\": \"\\\\Gadget\\\\Count\"}\r\n", ""},
        {"PDH_DOUBLE_LOCAL_NAMES", nullptr, " --counters Nothing", 1, "", "vekrun: no object 'Nothing' (PDH status 0xC0000BB8)\r\n"},
        // A counter's path as labels, a quote in one escaped.
        {"PDH_DOUBLE_VALUE", nullptr, " --prom tGetData \\\\DOUBLE\\Widget(le\\\"ft)\\Turns 0", 0,
         HasLines("# TYPE vekrun_pdh_value gauge\r\nvekrun_pdh_value{machine=\"DOUBLE\",object=\"Widget\",instance=\"le\\\"ft\",counter=\"Turns\"} 42\r\n"), ""},
        // A week's capture on the double's clock: a piece a day, 24 rounds each (counted below).
        {"PDH_DOUBLE_CLOCK", "1", " --every 3600 --samples 168 --csv --output $WEEK --rotate 1d tVersion", 0, "", ""},
        // A full disk ends a capture, the rounds written before it kept.
        {"PDH_DOUBLE_DISK_FULL", "3", " --every 0.05 --samples 5 --output $FULL tVersion", 1, "", "vekrun: cannot write $FULL (error 112: Disk full)\r\n"},
        {"PDH_DOUBLE_REFUSE_LOAD", "1", doctor, 1, HasLines("libraries         PROBLEM: PDH.DLL cannot be loaded: \n" + pdh + "PROBLEM: tGetData \\System\\System Up Time: 230:  Could not load PDH.DLL. Repair the system files with 'sfc /scannow' from an elevated prompt.\r\n"), ""},
    };
    // $OLD: a sleeper at below-normal priority; $ROOT: a younger one with a child.
    Sleeper older;
    const vek::HandleGuard setting(OpenProcess(PROCESS_SET_INFORMATION, FALSE, older.Id()));
    SetPriorityClass(setting.Get(), BELOW_NORMAL_PRIORITY_CLASS);
    Sleeper root("tree 1");
    const std::string full = Directory() + "pdh_full\\full.txt";  // the full disk's capture
    const std::string week = Directory() + "pdh_full\\week\\";    // the week's
    CreateDirectoryA(week.c_str(), nullptr);
    DeleteFileA(full.c_str());
    auto mark = [&](std::string text) {
        for (size_t at; (at = text.find("$OLD")) != std::string::npos;) text.replace(at, 4, std::to_string(older.Id()));
        for (size_t at; (at = text.find("$ROOT")) != std::string::npos;) text.replace(at, 5, std::to_string(root.Id()));
        for (size_t at; (at = text.find("$FULL")) != std::string::npos;) text.replace(at, 5, full);
        for (size_t at; (at = text.find("$WEEK")) != std::string::npos;) text.replace(at, 5, week + "up.csv");
        return text;
    };
    for (const auto& row : rows) {
        const std::string value = row.value ? mark(row.value) : "(none)";
        SCOPED_TRACE(std::string(row.variable) + "=" + value + ": vekrun" + mark(row.args));
        SetEnvironmentVariableA(row.variable, row.value ? value.c_str() : nullptr);
        std::string out, err;
        EXPECT_EQ(test::Run("\"" + copy + "\" --dll \"" + Directory() + "vekproc.dll\"" + mark(row.args), &out, &err), row.exit) << err;
        // HasLines: each of the row's lines, whole where it ends in CR.
        Shown shown = row.out;
        shown.text = mark(shown.text);
        EXPECT_TRUE(Shows(out, shown)) << out;
        EXPECT_EQ(err, mark(row.err));
        SetEnvironmentVariableA(row.variable, nullptr);
    }
    // Samples 10 ms apart carry times that rise, where the clocks of the time of day move in
    // Windows' ticks of 15.625 ms but the precise one.
    SetEnvironmentVariableA("PDH_DOUBLE_COARSE_CLOCK", "1");
    std::string out;
    EXPECT_EQ(test::Run("\"" + copy + "\" --dll \"" + Directory() + "vekproc.dll\" --json --every 0.01 --samples 30 tVersion", &out), 0u);
    SetEnvironmentVariableA("PDH_DOUBLE_COARSE_CLOCK", nullptr);
    std::vector<std::string> times;
    for (const std::string& line : Split(out, '\n')) {
        if (line.size() > 40) times.push_back(line.substr(10, 23));  // {"time": "2026-12-09T10:31:02.123
    }
    ASSERT_EQ(times.size(), 30u) << out;
    for (size_t i = 1; i < times.size(); ++i) EXPECT_LT(times[i - 1], times[i]) << out;
    // The week: seven pieces of a day, each its header and 24 rounds, named by their days.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((week + "*.csv").c_str(), &found);
    std::vector<std::string> days;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        days.push_back(found.cFileName);
        FILE* piece = fopen((week + found.cFileName).c_str(), "rb");
        int rounds = -1;  // its header first
        for (int c; piece && (c = fgetc(piece)) != EOF;) rounds += c == '\n';
        if (piece) fclose(piece);
        EXPECT_EQ(rounds, 24) << found.cFileName;
        DeleteFileA((week + found.cFileName).c_str());
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    std::sort(days.begin(), days.end());
    EXPECT_EQ(days.size(), 7u);
    if (!days.empty()) EXPECT_EQ(days[0], "up-20260923-140506-789.csv");
    RemoveDirectoryA(week.c_str());
    // The full disk's capture keeps its header and the two rounds before it, whole.
    FILE* kept = fopen(full.c_str(), "rb");
    int lines = 0;
    for (int c; kept && (c = fgetc(kept)) != EOF;) lines += c == '\n';
    if (kept) fclose(kept);
    EXPECT_EQ(lines, 3);
    DeleteFileA(full.c_str());
    RemoveCopy(copy);
}

TEST_F(WithDouble, DialogParseAndConnectHoldUpUnderLongUseAndBadInput) {
    // Each text, and whether it reads as a mode or format of 0 or 1: as far
    // as it goes, clamped, anything without digits as 0.
    const struct { std::string text; bool flag; } texts[] = {
        {std::string(100000, '9'), false}, {std::string(100000, '\xFF'), true}, {"", true}, {"-", true},
        {"+1", true}, {"-1", false}, {"2", false}, {"-2147483648", false}, {"99999999999999999999", false},
        {std::string(10000, '\\'), true},
    };
    for (const auto& [a, aFlag] : texts) {
        for (const auto& [b, bFlag] : texts) {
            pdhdouble::Forget(*s);
            Outcome o = Browse(a.c_str(), b.c_str());
            EXPECT_EQ(o.calls, 1);
            EXPECT_EQ(o.status == 0 ? "" : o.text, aFlag && bFlag ? "" : "203: Invalid flag(s) specified.")
                << a.substr(0, 20) << " " << b.substr(0, 20);
            if (!(aFlag && bFlag)) EXPECT_EQ(s->callCount, 0) << "refused before any query";
        }
        Outcome parse = host.Call(tParseCntrPath, {a});
        EXPECT_EQ(parse.status == 0, a.size() <= PDH_MAX_COUNTER_PATH) << parse.text;
        EXPECT_EQ(host.Call(tRemoteConn, {a}).value, 1);
    }
    for (int i = 0; i < 1000; ++i) {
        pdhdouble::Forget(*s);
        ASSERT_EQ(Browse("0").status, 0);
        ASSERT_EQ(Browse("1", "1").status, 0);
        ASSERT_EQ(host.Call(tParseCntrPath, {kPath}).status, 0);
        ASSERT_EQ(host.Call(tRemoteConn, {"\\\\FARAWAY"}).status, 0);
    }
    EXPECT_EQ(s->openQueries, 0);
}
