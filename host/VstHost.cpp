#include "VstHost.h"

#include "AEffectX.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cmath>
#include <cstdio>
#include <utility>

namespace khost
{

namespace
{

// Room for a text query. Hosts pass a zeroed buffer much larger than kVstMaxParamStrLen because
// effects routinely write longer texts.
constexpr std::size_t kTextBufferSize = 256;

// The instance whose entry call is running on this thread. During VSTPluginMain the effect has no
// record yet (the version query passes null) and the record's user field is not set, so this is
// the only way to find the instance a call belongs to.
thread_local PluginInstance* t_instanceBeingCreated = nullptr;

// --- the platform's loader: the only part a port to another system replaces ---------------------

struct LoadResult
{
    void* handle;
    std::string error;
};

#if defined(_WIN32)

// The system's text for a Win32 error code, without the trailing line break.
std::string systemMessage(DWORD code)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 && text != nullptr ? std::string(text, length) : std::string();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        message = "Windows error " + std::to_string(code);
    return message;
}

LoadResult openLibrary(const std::string& path)
{
    // LoadLibrary searches the system folders for a relative name; a host means the file it was
    // given, so the path is made absolute first. A name without an extension gets a trailing dot,
    // or LoadLibrary would append ".dll".
    char full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return {nullptr, systemMessage(::GetLastError())};
    std::string file(full, length);
    const std::size_t separator = file.find_last_of("\\/");
    const std::size_t name = separator == std::string::npos ? 0 : separator + 1;
    if (name < file.size() && file.find('.', name) == std::string::npos)
        file += '.';

    // No error dialog for a broken file: the failure is reported to the caller instead. Libraries
    // the module needs are looked up beside it first.
    DWORD previousMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE handle = ::LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = ::GetLastError();
    ::SetThreadErrorMode(previousMode, nullptr);
    if (handle != nullptr)
        return {reinterpret_cast<void*>(handle), std::string()};
    return {nullptr, systemMessage(error)};
}

PluginEntryProc findEntry(void* handle, const char* name)
{
    FARPROC symbol = ::GetProcAddress(static_cast<HMODULE>(handle), name);
    return reinterpret_cast<PluginEntryProc>(reinterpret_cast<void (*)()>(symbol));
}

void closeLibrary(void* handle)
{
    ::FreeLibrary(static_cast<HMODULE>(handle));
}

#else

LoadResult openLibrary(const std::string& path)
{
    // dlopen searches the library path for a bare name; a host means the file it was given.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr)
        return {handle, std::string()};
    const char* error = ::dlerror();
    return {nullptr, error != nullptr ? error : "unknown loader error"};
}

// A lookup through the module's handle searches the module and its own dependencies, never the
// program that loads it, so "main" cannot find the host's main().
PluginEntryProc findEntry(void* handle, const char* name)
{
    void* symbol = ::dlsym(handle, name);
    return reinterpret_cast<PluginEntryProc>(symbol);
}

void closeLibrary(void* handle)
{
    ::dlclose(handle);
}

#endif

// --- helpers ----------------------------------------------------------------------------------

// The rate as the integer the callback answers: whole hertz, 0 for a rate with no integer meaning.
VstIntPtr rateAnswer(float sampleRate)
{
    if (!std::isfinite(sampleRate) || std::fabs(sampleRate) >= 2147483648.0f)
        return 0;
    return static_cast<VstIntPtr>(std::lround(sampleRate));
}

// What this host answers to a callback opcode; everything it does not support answers 0.
VstIntPtr answerQuery(VstInt32 opcode, float sampleRate, VstInt32 blockSize)
{
    switch (opcode)
    {
    case audioMasterVersion:
        return kVstVersion;
    case audioMasterCurrentId:
        return 0;  // no shell plug-in is being loaded
    case audioMasterGetSampleRate:
        return rateAnswer(sampleRate);
    case audioMasterGetBlockSize:
        return blockSize;
    default:
        return 0;
    }
}

std::string hex32(VstInt32 value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(value)));
    return text;
}

// Clears the creation pointer however the entry call ends.
class CreationScope
{
public:
    explicit CreationScope(PluginInstance* instance) : m_previous(t_instanceBeingCreated)
    {
        t_instanceBeingCreated = instance;
    }
    ~CreationScope() { t_instanceBeingCreated = m_previous; }

    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;

private:
    PluginInstance* m_previous;
};

}  // namespace

// --- PluginModule -----------------------------------------------------------------------------

std::shared_ptr<PluginModule> PluginModule::load(const std::string& path)
{
    // An empty name would make the loader hand back the running program itself.
    if (path.empty())
        throw HostError("cannot load an empty module path");

    LoadResult loaded = openLibrary(path);
    if (loaded.handle == nullptr)
        throw HostError("cannot load " + path + ": " + loaded.error);

    // Modules built before the entry got its own name export it as main, and some still do.
    PluginEntryProc entry = findEntry(loaded.handle, "VSTPluginMain");
    if (entry == nullptr)
        entry = findEntry(loaded.handle, "main");
    if (entry == nullptr)
    {
        closeLibrary(loaded.handle);
        throw HostError(path + " has no VSTPluginMain entry (nor the older main)");
    }

    try
    {
        return std::shared_ptr<PluginModule>(new PluginModule(path, loaded.handle, entry));
    }
    catch (...)
    {
        closeLibrary(loaded.handle);
        throw;
    }
}

PluginModule::PluginModule(std::string path, void* handle, PluginEntryProc entry)
    : m_path(std::move(path)), m_handle(handle), m_entry(entry)
{
}

PluginModule::~PluginModule()
{
    closeLibrary(m_handle);
}

// --- PluginInstance: creation and the callback -------------------------------------------------

PluginInstance::PluginInstance(std::shared_ptr<PluginModule> module) : m_module(std::move(module))
{
    if (!m_module)
        throw HostError("no module to create an effect from");

    AEffect* effect = nullptr;
    {
        CreationScope scope(this);
        try
        {
            effect = m_module->entry()(&PluginInstance::hostCallback);
        }
        catch (const std::exception& error)
        {
            throw HostError(m_module->path() + ": VSTPluginMain failed: " + error.what());
        }
    }

    if (effect == nullptr)
        throw HostError(m_module->path() + ": VSTPluginMain returned no effect");
    // A record without the magic is not an effect: nothing in it, the dispatcher included, can be
    // trusted, so it is left alone.
    if (effect->magic != kEffectMagic)
        throw HostError(m_module->path() + ": not a VST 2.4 effect (bad magic " + hex32(effect->magic) + ")");

    effect->user = this;
    m_effect = effect;
}

PluginInstance::~PluginInstance()
{
    if (m_effect == nullptr)
        return;
    try
    {
        close();
    }
    catch (...)
    {
        // A destructor has no one to report to; the record is dropped either way.
        m_effect = nullptr;
    }
}

VstIntPtr PluginInstance::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                       void* ptr, float opt)
{
    // While an entry call runs, its record is not validated yet and its user field may hold
    // anything, so every call on this thread belongs to the instance being created. The callback
    // itself is not synchronised: an instance is driven from one thread at a time.
    PluginInstance* instance = t_instanceBeingCreated;
    if (instance == nullptr && effect != nullptr)
        instance = static_cast<PluginInstance*>(effect->user);

    if (instance == nullptr)
    {
        // A record this host did not create: answer as a fresh instance would, without recording.
        return answerQuery(opcode, 44100.0f, 1024);
    }

    instance->m_calls.push_back(HostCall{effect, opcode, index, value, ptr, opt});
    return instance->answer(opcode, index, value, ptr, opt);
}

VstIntPtr PluginInstance::answer(VstInt32 opcode, VstInt32 /*index*/, VstIntPtr /*value*/, void* /*ptr*/,
                                 float /*opt*/)
{
    return answerQuery(opcode, m_sampleRate, m_blockSize);
}

// --- PluginInstance: driving the record --------------------------------------------------------

AEffect* PluginInstance::requireEffect() const
{
    if (m_effect == nullptr)
        throw HostError("effect is closed");
    return m_effect;
}

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    AEffect* effect = requireEffect();
    if (opcode == effClose)
        return close();
    if (effect->dispatcher == nullptr)
        throw HostError(m_module->path() + ": effect has no dispatcher");
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void PluginInstance::start(float sampleRate, VstInt32 blockSize)
{
    open();
    setSampleRate(sampleRate);
    setBlockSize(blockSize);
    resume();
}

void PluginInstance::open()
{
    dispatch(effOpen);
}

void PluginInstance::setSampleRate(float sampleRate)
{
    requireEffect();
    m_sampleRate = sampleRate;
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
}

void PluginInstance::setBlockSize(VstInt32 blockSize)
{
    requireEffect();
    m_blockSize = blockSize;
    dispatch(effSetBlockSize, 0, blockSize);
}

void PluginInstance::resume()
{
    dispatch(effMainsChanged, 0, 1);
}

void PluginInstance::suspend()
{
    dispatch(effMainsChanged, 0, 0);
}

VstIntPtr PluginInstance::close()
{
    AEffect* effect = requireEffect();
    // The record dies inside this call, so the instance forgets it first: nothing can reach it
    // again, even if the dispatcher is missing.
    m_effect = nullptr;
    if (effect->dispatcher == nullptr)
        throw HostError(m_module->path() + ": effect has no dispatcher");
    return effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

void PluginInstance::process(float** inputs, float** outputs, VstInt32 frames)
{
    AEffect* effect = requireEffect();
    if ((effect->flags & effFlagsCanReplacing) == 0)
        throw HostError(m_module->path() + ": effect does not announce replacing processing");
    if (effect->processReplacing == nullptr)
        throw HostError(m_module->path() + ": effect has no processReplacing");
    effect->processReplacing(effect, inputs, outputs, frames);
}

VstInt32 PluginInstance::numInputs() const
{
    return requireEffect()->numInputs;
}

VstInt32 PluginInstance::numOutputs() const
{
    return requireEffect()->numOutputs;
}

VstInt32 PluginInstance::numParameters() const
{
    return requireEffect()->numParams;
}

VstInt32 PluginInstance::numPrograms() const
{
    return requireEffect()->numPrograms;
}

VstInt32 PluginInstance::uniqueId() const
{
    return requireEffect()->uniqueID;
}

VstInt32 PluginInstance::flags() const
{
    return requireEffect()->flags;
}

// --- parameters --------------------------------------------------------------------------------

void PluginInstance::setParameter(VstInt32 index, float value)
{
    AEffect* effect = requireEffect();
    if (effect->setParameter == nullptr)
        throw HostError(m_module->path() + ": effect has no setParameter");
    effect->setParameter(effect, index, value);
}

float PluginInstance::getParameter(VstInt32 index) const
{
    AEffect* effect = requireEffect();
    if (effect->getParameter == nullptr)
        throw HostError(m_module->path() + ": effect has no getParameter");
    return effect->getParameter(effect, index);
}

std::string PluginInstance::queryText(VstInt32 opcode, VstInt32 index)
{
    char text[kTextBufferSize] = {};
    dispatch(opcode, index, 0, text);
    // An effect that fills the whole buffer still yields a terminated text.
    text[kTextBufferSize - 1] = 0;
    return text;
}

std::string PluginInstance::parameterName(VstInt32 index)
{
    return queryText(effGetParamName, index);
}

std::string PluginInstance::parameterLabel(VstInt32 index)
{
    return queryText(effGetParamLabel, index);
}

std::string PluginInstance::parameterDisplay(VstInt32 index)
{
    return queryText(effGetParamDisplay, index);
}

VstInt32 PluginInstance::parameterIndex(const std::string& name)
{
    const VstInt32 count = numParameters();
    std::string known;
    for (VstInt32 index = 0; index < count; ++index)
    {
        const std::string candidate = parameterName(index);
        if (candidate == name)
            return index;
        known += (index == 0 ? "" : ", ") + candidate;
    }
    throw HostError("unknown parameter '" + name + "' (known: " + known + ")");
}

void PluginInstance::setParameter(const std::string& name, float value)
{
    setParameter(parameterIndex(name), value);
}

}  // namespace khost
