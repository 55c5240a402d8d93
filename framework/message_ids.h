// The ids of the extender's message table: the DLL names its failures by
// them, vekrun and the tests read the texts back by them. Ids are the
// host's and stable.
#pragma once

namespace vek {

// Message ids of the extender's string table.
enum MessageId {
    kMsgSnapshotFailed = 200,
    kMsgOpenProcessFailed = 201,
    kMsgAccessDenied = 202,
    kMsgInvalidFlags = 203,
    kMsgProcInfoFailed = 204,
    kMsgInvalidParameter = 205,
    kMsgModInfoFailed = 206,
    kMsgNoPsapi = 207,
    kMsgOldPsapi = 208,
    kMsgWrongPlatform = 209,
    kMsgBrowseFailed = 210,
    kMsgOldPdh = 211,
    kMsgTerminateFailed = 212,
    kMsgNoCounterIndex = 213,
    kMsgRegistryProblem = 214,
    kMsgListProcFailed = 215,
    kMsgCloseQueryFailed = 217,
    kMsgInvalidHandle = 218,
    kMsgCollectFailed = 220,
    kMsgRemoveCounterFailed = 221,
    kMsgInvalidCounterName = 222,
    kMsgCounterNotFound = 223,
    kMsgBadArgument = 224,
    kMsgInvalidData = 225,
    kMsgBadCounterHandle = 226,
    kMsgInstanceMissing = 227,
    kMsgGetDataFailed = 228,
    kMsgCloseProcFailed = 229,
    kMsgNoPdh = 230,
    kMsgObjectNotFound = 231,
    kMsgBrowseInstanceMissing = 233,
    kMsgRemoteConnFailed = 234,
    kMsgNoMachine = 235,
    kMsgSetPriorityFailed = 236,
    kMsgGetPriorityFailed = 237,
    kMsgNoKernel32 = 238,
    kMsgNoIdProcessCounter = 239,
    kMsgDebugPrivilege = 244,
    kMsgOutOfMemory = 245,
    kMsgParsePathFailed = 246,
    kMsgNoSuchFunction = 901,
    kMsgDescription = 1000,
};

}  // namespace vek
