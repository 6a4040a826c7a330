// The capability vocabulary: what a plug-in may answer to effCanDo, and what it may ask the host.
#pragma once

namespace PlugCanDos
{
extern const char* canDoSendVstEvents;
extern const char* canDoSendVstMidiEvent;
extern const char* canDoReceiveVstEvents;
extern const char* canDoReceiveVstMidiEvent;
extern const char* canDoReceiveVstTimeInfo;
extern const char* canDoOffline;
extern const char* canDoMidiProgramNames;
extern const char* canDoBypass;
}  // namespace PlugCanDos

namespace HostCanDos
{
extern const char* canDoSendVstEvents;
extern const char* canDoSendVstMidiEvent;
extern const char* canDoSendVstTimeInfo;
extern const char* canDoReceiveVstEvents;
extern const char* canDoReceiveVstMidiEvent;
extern const char* canDoReportConnectionChanges;
extern const char* canDoAcceptIOChanges;
extern const char* canDoSizeWindow;
extern const char* canDoOffline;
extern const char* canDoOpenFileSelector;
extern const char* canDoCloseFileSelector;
extern const char* canDoStartStopProcess;
extern const char* canDoShellCategory;
extern const char* canDoSendVstMidiEventFlagIsRealtime;
}  // namespace HostCanDos
