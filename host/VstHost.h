// A small VST 2.4 host: loads a module, creates instances through VSTPluginMain and drives their
// record as a real host does. Shared by the command-line tools, the tests and the
// benchmarks; the plug-in itself never links it.
#pragma once

#include "AEffect.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace khost
{

// Every failure to load or drive a module: the message is meant for a user.
class HostError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One call the effect made to the host callback, with its arguments as received.
struct HostCall
{
    AEffect* effect;  // null for the version query that VSTPluginMain sends before a record exists
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

typedef AEffect* (*PluginEntryProc)(audioMasterCallback audioMaster);

// A loaded module file. Instances keep the module alive through a shared pointer.
class PluginModule
{
public:
    // The entry is VSTPluginMain, or the older name main when a module exports only that. Throws
    // HostError with the loader's own message when the file cannot be loaded, and when it has
    // neither entry. A path without a directory part names a file in the working directory
    // (it is not searched for on the library path).
    static std::shared_ptr<PluginModule> load(const std::string& path);
    ~PluginModule();

    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    const std::string& path() const { return m_path; }
    PluginEntryProc entry() const { return m_entry; }

private:
    PluginModule(std::string path, void* handle, PluginEntryProc entry);

    std::string m_path;
    void* m_handle;
    PluginEntryProc m_entry;
};

// One effect instance, from VSTPluginMain to effClose (the destructor closes it).
class PluginInstance
{
public:
    // Calls the module's entry with this host's callback. Throws HostError for a null record
    // and for a record without the interface's magic number.
    explicit PluginInstance(std::shared_ptr<PluginModule> module);
    ~PluginInstance();

    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // The record, or null once the instance is closed.
    AEffect* effect() const { return m_effect; }
    // Sends one opcode and returns the effect's answer. effClose goes through close().
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);

    // The usual start-up order: open, set rate, set block size, resume.
    void start(float sampleRate, VstInt32 blockSize);
    void open();
    void setSampleRate(float sampleRate);
    void setBlockSize(VstInt32 blockSize);
    void resume();
    void suspend();
    // Sends effClose and returns the effect's answer (1 from a conforming effect); afterwards the
    // record is gone and every call that needs it, close() included, throws HostError.
    VstIntPtr close();
    bool isOpen() const { return m_effect != nullptr; }

    // inputs holds numInputs() channels and outputs numOutputs(), each of at least frames samples;
    // the arguments reach the record's processReplacing unchecked. Throws HostError when the effect
    // does not announce replacing processing or has no such function.
    void process(float** inputs, float** outputs, VstInt32 frames);

    VstInt32 numInputs() const;
    VstInt32 numOutputs() const;
    VstInt32 numParameters() const;
    VstInt32 numPrograms() const;
    VstInt32 uniqueId() const;
    VstInt32 flags() const;

    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index) const;
    // Sends a text query (effGetEffectName, effGetParamName, ...) with a buffer roomier than the
    // interface's limits, which effects exceed often enough; the answer always ends within it.
    std::string queryText(VstInt32 opcode, VstInt32 index = 0);
    std::string parameterName(VstInt32 index);
    std::string parameterLabel(VstInt32 index);
    std::string parameterDisplay(VstInt32 index);
    // Index of the parameter with this name; throws HostError naming the known parameters.
    VstInt32 parameterIndex(const std::string& name);
    void setParameter(const std::string& name, float value);

    // The sample rate and block size this host answers when the effect asks (the rate rounded to
    // whole hertz, 0 when it is not a finite value); setSampleRate and setBlockSize update them.
    float hostSampleRate() const { return m_sampleRate; }
    VstInt32 hostBlockSize() const { return m_blockSize; }

    // Every call the effect made to the host callback since creation, in order.
    const std::vector<HostCall>& calls() const { return m_calls; }

    // The callback this host gives to VSTPluginMain. Calls made while an instance is being created
    // belong to that instance; later ones are routed through the record's user field.
    static VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                  void* ptr, float opt);

private:
    AEffect* requireEffect() const;
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    std::shared_ptr<PluginModule> m_module;
    AEffect* m_effect = nullptr;
    float m_sampleRate = 44100.0f;
    VstInt32 m_blockSize = 1024;
    std::vector<HostCall> m_calls;
};

}  // namespace khost
