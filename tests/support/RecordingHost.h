// A host callback for the base classes' tests that records every call an effect makes and
// answers what the test chose. The callback type carries no user pointer, so the recorder in
// charge is found through a thread-local pointer that the recorder sets for its own lifetime.
#pragma once

#include <vector>

#include "AEffect.h"

struct HostCall
{
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

class RecordingHost
{
public:
    RecordingHost() : previous(active) { active = this; }
    ~RecordingHost() { active = previous; }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    // Pass this as the effect's audioMasterCallback.
    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt)
    {
        if (active == nullptr)
            return 0;
        active->calls.push_back(HostCall{effect, opcode, index, value, ptr, opt});
        return active->answer;
    }

    std::vector<HostCall> calls;
    VstIntPtr answer = 0;  // what every call answers

private:
    static inline thread_local RecordingHost* active = nullptr;
    RecordingHost* previous;
};
