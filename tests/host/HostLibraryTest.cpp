// The host library against small modules built for it: broken files and entries must give a
// HostError with a clear message (never a crash), and an instrumented effect reports what the host
// sent and answered.
#include "EchoProtocol.h"
#include "VstHost.h"

#include <gtest/gtest.h>

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
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace
{

using khost::HostError;
using khost::PluginInstance;
using khost::PluginModule;

constexpr VstInt32 kAudioMasterGetSampleRate = 16;
constexpr VstInt32 kAudioMasterGetBlockSize = 17;
constexpr VstInt32 kAudioMasterGetTime = 7;  // a service this host does not offer

const std::string kEchoPath = KESTRUNE_VERSION_ECHO_MODULE_PATH;

// The message of the HostError that action throws; fails the test when it throws nothing else.
std::string hostErrorOf(const std::function<void()>& action)
{
    try
    {
        action();
    }
    catch (const HostError& error)
    {
        return error.what();
    }
    catch (const std::exception& error)
    {
        ADD_FAILURE() << "expected HostError, got another exception: " << error.what();
        return std::string();
    }
    ADD_FAILURE() << "expected HostError, nothing was thrown";
    return std::string();
}

// --- the system loader, called directly ------------------------------------------------------------

#if defined(_WIN32)

std::string systemMessage(DWORD code)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text != nullptr ? text : "", length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

// What the system loader itself says about path: the text the host must pass on.
std::string loaderMessage(const std::string& path)
{
    const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(previousMode);
    if (handle != nullptr)
    {
        ::FreeLibrary(handle);
        return "(loaded)";
    }
    return systemMessage(error);
}

// The loader's text for a file that does not exist.
const std::string kMissingFileText = systemMessage(ERROR_MOD_NOT_FOUND);
// A library every process has, named without a folder.
constexpr const char* kSystemLibraryName = "kernel32.dll";

// A direct handle on a fixture module, for reading its exported counters. The host's handle and
// this one refer to the same loaded module, so they see the same state.
class DirectHandle
{
public:
    explicit DirectHandle(const std::string& path) : m_handle(::LoadLibraryA(path.c_str()))
    {
        if (m_handle == nullptr)
            throw std::runtime_error(systemMessage(::GetLastError()));
    }
    ~DirectHandle() { ::FreeLibrary(m_handle); }
    DirectHandle(const DirectHandle&) = delete;
    DirectHandle& operator=(const DirectHandle&) = delete;

    template <class Function>
    Function symbol(const char* name) const
    {
        FARPROC address = ::GetProcAddress(m_handle, name);
        if (address == nullptr)
            throw std::runtime_error(std::string("missing symbol ") + name);
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    }

private:
    HMODULE m_handle;
};

#else

// What the system loader itself says about path: the text the host must pass on.
std::string loaderMessage(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr)
    {
        ::dlclose(handle);
        return "(loaded)";
    }
    return ::dlerror();
}

// The loader's text for a file that does not exist ends with the C library's strerror(ENOENT).
const std::string kMissingFileText = "No such file";
// libm is on the library path of every machine.
constexpr const char* kSystemLibraryName = "libm.so.6";

// A direct handle on a fixture module, for reading its exported counters. The host's handle and
// this one refer to the same loaded object, so they see the same state.
class DirectHandle
{
public:
    explicit DirectHandle(const std::string& path) : m_handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (m_handle == nullptr)
            throw std::runtime_error(::dlerror());
    }
    ~DirectHandle() { ::dlclose(m_handle); }
    DirectHandle(const DirectHandle&) = delete;
    DirectHandle& operator=(const DirectHandle&) = delete;

    template <class Function>
    Function symbol(const char* name) const
    {
        void* address = ::dlsym(m_handle, name);
        if (address == nullptr)
            throw std::runtime_error(std::string("missing symbol ") + name);
        return reinterpret_cast<Function>(address);
    }

private:
    void* m_handle;
};

#endif

echo::EchoEffect& echoOf(const PluginInstance& instance)
{
    return *echo::fromRecord(instance.effect());
}

VstIntPtr askHost(PluginInstance& instance, VstInt32 hostOpcode, VstIntPtr value = 0, void* ptr = nullptr,
                  float opt = 0.0f)
{
    return instance.dispatch(echo::kAskHost, hostOpcode, value, ptr, opt);
}

// --- loading -------------------------------------------------------------------------------------

TEST(ModuleLoading, MissingFileReportsTheLoaderText)
{
    const std::string path = ::testing::TempDir() + "kestrune-no-such-module.so";
    const std::string message = hostErrorOf([&] { PluginModule::load(path); });
    EXPECT_EQ(message, "cannot load " + path + ": " + loaderMessage(path));
    ASSERT_FALSE(kMissingFileText.empty());
    EXPECT_NE(message.find(kMissingFileText), std::string::npos) << message;
}

TEST(ModuleLoading, FileThatIsNotASharedObjectReportsTheLoaderText)
{
    const std::string path = ::testing::TempDir() + "kestrune-not-a-module.so";
    {
        std::ofstream file(path, std::ios::binary);
        file << "This text file only pretends to be a plug-in module.\n";
        for (int line = 0; line < 64; ++line)
            file << "padding so the loader reads a full header, not a short file\n";
    }
    const std::string expected = loaderMessage(path);
    ASSERT_NE(expected, "(loaded)");
    EXPECT_EQ(hostErrorOf([&] { PluginModule::load(path); }), "cannot load " + path + ": " + expected);

    // An empty file is refused just the same.
    const std::string emptyPath = ::testing::TempDir() + "kestrune-empty-module.so";
    std::ofstream(emptyPath, std::ios::binary).close();
    EXPECT_EQ(hostErrorOf([&] { PluginModule::load(emptyPath); }),
              "cannot load " + emptyPath + ": " + loaderMessage(emptyPath));
}

TEST(ModuleLoading, DirectoryAndEmptyPathAreRefused)
{
    const std::string directory = ::testing::TempDir();
    EXPECT_EQ(hostErrorOf([&] { PluginModule::load(directory); }),
              "cannot load " + directory + ": " + loaderMessage(directory));
    // The loader would hand back the test program itself for an empty name.
    EXPECT_EQ(hostErrorOf([] { PluginModule::load(""); }), "cannot load an empty module path");
}

TEST(ModuleLoading, BareFileNameIsNotLookedUpOnTheLibraryPath)
{
    // The system's own library is found by the loader's search; as a bare name it means the file in
    // the working directory, which the working directory of a test does not have.
    const std::string name = kSystemLibraryName;
    const std::string message = hostErrorOf([&] { PluginModule::load(name); });
    EXPECT_EQ(message.rfind("cannot load " + name + ": ", 0), 0u) << message;
}

TEST(ModuleLoading, ModuleWithoutEntryIsRefused)
{
    const std::string path = KESTRUNE_NO_ENTRY_MODULE_PATH;
    EXPECT_EQ(hostErrorOf([&] { PluginModule::load(path); }),
              path + " has no VSTPluginMain entry (nor the older main)");
}

// Runs one block of two channels through an instance and returns the first output sample of each.
std::vector<float> firstOutputs(PluginInstance& instance, float left, float right)
{
    float in1[4] = {left, left, left, left};
    float in2[4] = {right, right, right, right};
    float out1[4] = {};
    float out2[4] = {};
    float* inputs[2] = {in1, in2};
    float* outputs[2] = {out1, out2};
    instance.process(inputs, outputs, 4);
    return {out1[0], out2[3]};
}

TEST(ModuleLoading, ModuleWithOnlyTheOlderMainEntryLoads)
{
    const std::string path = KESTRUNE_MAIN_ENTRY_MODULE_PATH;
    DirectHandle direct(path);
    // The fixture really lacks the newer entry, so only the fallback can have found one.
    EXPECT_THROW(direct.symbol<void*>("VSTPluginMain"), std::runtime_error);

    auto module = PluginModule::load(path);
    EXPECT_EQ(reinterpret_cast<void*>(module->entry()), direct.symbol<void*>("main"));
    PluginInstance instance(module);
    EXPECT_EQ(instance.uniqueId(), fourCharId('L', 'g', 'c', 'y'));
    // The version query reached the host before the record existed, as through the newer entry.
    ASSERT_FALSE(instance.calls().empty());
    EXPECT_EQ(instance.calls().front().opcode, audioMasterVersion);
    instance.start(48000.0f, 4);
    EXPECT_EQ(firstOutputs(instance, 0.75f, -0.5f), (std::vector<float>{0.375f, -0.25f}));
    EXPECT_EQ(instance.close(), 1);
}

TEST(ModuleLoading, NewerEntryWinsWhenBothAreExported)
{
    const std::string path = KESTRUNE_BOTH_ENTRIES_MODULE_PATH;
    DirectHandle direct(path);
    auto module = PluginModule::load(path);
    EXPECT_EQ(reinterpret_cast<void*>(module->entry()), direct.symbol<void*>("VSTPluginMain"));
    EXPECT_NE(direct.symbol<void*>("main"), direct.symbol<void*>("VSTPluginMain"));
    PluginInstance instance(module);
    EXPECT_EQ(instance.uniqueId(), fourCharId('N', 'e', 'w', 'E'));
    instance.start(48000.0f, 4);
    EXPECT_EQ(firstOutputs(instance, 0.75f, -0.5f), (std::vector<float>{1.5f, -1.0f}));
}

TEST(ModuleLoading, LoadedModuleKnowsItsPathAndEntry)
{
    auto module = PluginModule::load(kEchoPath);
    EXPECT_EQ(module->path(), kEchoPath);
    DirectHandle direct(kEchoPath);
    EXPECT_EQ(reinterpret_cast<void*>(module->entry()), direct.symbol<void*>("VSTPluginMain"));
}

// --- creating instances ----------------------------------------------------------------------------

TEST(InstanceCreation, NullRecordIsAnError)
{
    const std::string path = KESTRUNE_NULL_RECORD_MODULE_PATH;
    auto module = PluginModule::load(path);
    EXPECT_EQ(hostErrorOf([&] { PluginInstance instance(module); }), path + ": VSTPluginMain returned no effect");
    // The failed creation kept no reference to the module.
    EXPECT_EQ(module.use_count(), 1);
}

TEST(InstanceCreation, RecordWithoutMagicIsLeftAlone)
{
    const std::string path = KESTRUNE_BAD_MAGIC_MODULE_PATH;
    auto module = PluginModule::load(path);
    EXPECT_EQ(hostErrorOf([&] { PluginInstance instance(module); }),
              path + ": not a VST 2.4 effect (bad magic 0x4E6F7065)");
    EXPECT_EQ(module.use_count(), 1);

    DirectHandle direct(path);
    // Neither its dispatcher (no effClose for a record that is no effect) nor its fields were touched.
    EXPECT_EQ(direct.symbol<int (*)()>("badMagicDispatcherCalls")(), 0);
    EXPECT_EQ(direct.symbol<AEffect* (*)()>("badMagicRecord")()->user, nullptr);
}

TEST(InstanceCreation, NullModuleIsAnError)
{
    EXPECT_EQ(hostErrorOf([] { PluginInstance instance(nullptr); }), "no module to create an effect from");
}

TEST(InstanceCreation, EntryIsToldVersion2400WithANullRecord)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    EXPECT_EQ(echoOf(instance).versionAtEntry, 2400);

    ASSERT_FALSE(instance.calls().empty());
    const khost::HostCall& first = instance.calls().front();
    EXPECT_EQ(first.effect, nullptr);
    EXPECT_EQ(first.opcode, audioMasterVersion);
    EXPECT_EQ(first.index, 0);
    EXPECT_EQ(first.value, 0);
    EXPECT_EQ(first.ptr, nullptr);
    EXPECT_EQ(first.opt, 0.0f);
}

TEST(InstanceCreation, QueriesDuringConstructionBelongToTheNewInstance)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    const echo::EchoEffect& echoEffect = echoOf(instance);
    // The record's user field is not set yet while the entry runs, so only the creation pointer
    // can route these; a fresh host answers its defaults.
    EXPECT_EQ(echoEffect.sampleRateDuringConstruction, 44100);
    EXPECT_EQ(echoEffect.blockSizeDuringConstruction, 1024);

    ASSERT_EQ(instance.calls().size(), 3u);
    EXPECT_EQ(instance.calls()[1].opcode, kAudioMasterGetSampleRate);
    EXPECT_EQ(instance.calls()[1].effect, instance.effect());
    EXPECT_EQ(instance.calls()[2].opcode, kAudioMasterGetBlockSize);
    EXPECT_EQ(instance.calls()[2].effect, instance.effect());
    EXPECT_EQ(instance.effect()->user, &instance);
}

// --- the callback --------------------------------------------------------------------------------

TEST(HostCallback, AnswersWhatWasSetAndZeroForTheRest)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    instance.start(48000.0f, 256);
    EXPECT_EQ(askHost(instance, kAudioMasterGetSampleRate), 48000);
    EXPECT_EQ(askHost(instance, kAudioMasterGetBlockSize), 256);
    EXPECT_EQ(askHost(instance, audioMasterVersion), 2400);

    instance.setSampleRate(96000.0f);
    instance.setBlockSize(4096);
    EXPECT_EQ(askHost(instance, kAudioMasterGetSampleRate), 96000);
    EXPECT_EQ(askHost(instance, kAudioMasterGetBlockSize), 4096);
    EXPECT_EQ(instance.hostSampleRate(), 96000.0f);
    EXPECT_EQ(instance.hostBlockSize(), 4096);

    // Whole hertz, rounded to nearest; no meaningful integer for a rate that is not finite.
    instance.setSampleRate(22050.5f);
    EXPECT_EQ(askHost(instance, kAudioMasterGetSampleRate), 22051);
    instance.setSampleRate(44099.4f);
    EXPECT_EQ(askHost(instance, kAudioMasterGetSampleRate), 44099);
    instance.setSampleRate(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(askHost(instance, kAudioMasterGetSampleRate), 0);
    instance.setSampleRate(std::numeric_limits<float>::infinity());
    EXPECT_EQ(askHost(instance, kAudioMasterGetSampleRate), 0);

    EXPECT_EQ(askHost(instance, audioMasterCurrentId), 0);
    EXPECT_EQ(askHost(instance, audioMasterAutomate, 0, nullptr, 0.75f), 0);
    EXPECT_EQ(askHost(instance, kAudioMasterGetTime, 0xFFFF), 0);
    EXPECT_EQ(askHost(instance, -1), 0);
    EXPECT_EQ(askHost(instance, 1 << 20), 0);
}

TEST(HostCallback, RecordsEveryCallWithItsArguments)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    const std::size_t before = instance.calls().size();
    int marker = 0;
    askHost(instance, audioMasterAutomate, -77, &marker, 0.375f);

    ASSERT_EQ(instance.calls().size(), before + 1);
    const khost::HostCall& call = instance.calls().back();
    EXPECT_EQ(call.effect, instance.effect());
    EXPECT_EQ(call.opcode, audioMasterAutomate);
    EXPECT_EQ(call.index, 0);
    EXPECT_EQ(call.value, -77);
    EXPECT_EQ(call.ptr, &marker);
    EXPECT_EQ(call.opt, 0.375f);
}

TEST(HostCallback, CallsAreRoutedToTheirOwnInstance)
{
    auto module = PluginModule::load(kEchoPath);
    PluginInstance first(module);
    PluginInstance second(module);
    ASSERT_NE(first.effect(), second.effect());
    EXPECT_EQ(first.effect()->user, &first);
    EXPECT_EQ(second.effect()->user, &second);

    first.setSampleRate(32000.0f);
    second.setSampleRate(88200.0f);
    first.setBlockSize(64);
    second.setBlockSize(2048);
    const std::size_t firstCalls = first.calls().size();
    const std::size_t secondCalls = second.calls().size();

    EXPECT_EQ(askHost(second, kAudioMasterGetSampleRate), 88200);
    EXPECT_EQ(askHost(first, kAudioMasterGetSampleRate), 32000);
    EXPECT_EQ(askHost(second, kAudioMasterGetBlockSize), 2048);
    EXPECT_EQ(askHost(first, kAudioMasterGetBlockSize), 64);
    EXPECT_EQ(first.calls().size(), firstCalls + 2);
    EXPECT_EQ(second.calls().size(), secondCalls + 2);
    for (std::size_t index = firstCalls; index < first.calls().size(); ++index)
        EXPECT_EQ(first.calls()[index].effect, first.effect());
    for (std::size_t index = secondCalls; index < second.calls().size(); ++index)
        EXPECT_EQ(second.calls()[index].effect, second.effect());
}

TEST(HostCallback, RecordOfAnotherHostGetsDefaultsAndIsNotRecorded)
{
    // A record whose user field this host never set (as after a foreign host created it).
    AEffect foreign{};
    foreign.magic = kEffectMagic;
    EXPECT_EQ(PluginInstance::hostCallback(&foreign, audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
    EXPECT_EQ(PluginInstance::hostCallback(&foreign, kAudioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 44100);
    EXPECT_EQ(PluginInstance::hostCallback(nullptr, kAudioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 1024);
    EXPECT_EQ(PluginInstance::hostCallback(nullptr, kAudioMasterGetTime, 0, 0, nullptr, 0.0f), 0);
}

// --- driving the record ------------------------------------------------------------------------------

TEST(Lifecycle, StartSendsOpenRateBlockSizeResumeInOrder)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    instance.start(44100.0f, 512);
    instance.suspend();

    const echo::EchoEffect& echoEffect = echoOf(instance);
    ASSERT_EQ(echoEffect.receivedCount, 5);
    const echo::Received* received = echoEffect.received;
    EXPECT_EQ(received[0].opcode, effOpen);
    EXPECT_EQ(received[1].opcode, effSetSampleRate);
    EXPECT_EQ(received[1].opt, 44100.0f);  // the rate travels in opt, not in value
    EXPECT_EQ(received[1].value, 0);
    EXPECT_EQ(received[2].opcode, effSetBlockSize);
    EXPECT_EQ(received[2].value, 512);
    EXPECT_EQ(received[3].opcode, effMainsChanged);
    EXPECT_EQ(received[3].value, 1);
    EXPECT_EQ(received[4].opcode, effMainsChanged);
    EXPECT_EQ(received[4].value, 0);
}

TEST(Lifecycle, CloseSendsEffCloseOnceAndForgetsTheRecord)
{
    DirectHandle direct(kEchoPath);
    auto liveRecords = direct.symbol<echo::LiveRecordsProc>(echo::kLiveRecordsSymbol);
    const int liveBefore = liveRecords();

    PluginInstance instance(PluginModule::load(kEchoPath));
    ASSERT_EQ(liveRecords(), liveBefore + 1);
    EXPECT_TRUE(instance.isOpen());
    EXPECT_EQ(instance.close(), 1);
    EXPECT_EQ(liveRecords(), liveBefore);
    EXPECT_FALSE(instance.isOpen());
    EXPECT_EQ(instance.effect(), nullptr);

    std::vector<float> samples(8, 0.0f);
    float* channels[2] = {samples.data(), samples.data()};
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"dispatch", [&] { instance.dispatch(effOpen); }},
        {"start", [&] { instance.start(44100.0f, 64); }},
        {"open", [&] { instance.open(); }},
        {"setSampleRate", [&] { instance.setSampleRate(48000.0f); }},
        {"setBlockSize", [&] { instance.setBlockSize(64); }},
        {"resume", [&] { instance.resume(); }},
        {"suspend", [&] { instance.suspend(); }},
        {"close", [&] { instance.close(); }},
        {"process", [&] { instance.process(channels, channels, 8); }},
        {"numInputs", [&] { instance.numInputs(); }},
        {"numOutputs", [&] { instance.numOutputs(); }},
        {"numParameters", [&] { instance.numParameters(); }},
        {"numPrograms", [&] { instance.numPrograms(); }},
        {"uniqueId", [&] { instance.uniqueId(); }},
        {"flags", [&] { instance.flags(); }},
        {"setParameter", [&] { instance.setParameter(0, 0.5f); }},
        {"getParameter", [&] { instance.getParameter(0); }},
        {"parameterName", [&] { instance.parameterName(0); }},
        {"parameterLabel", [&] { instance.parameterLabel(0); }},
        {"parameterDisplay", [&] { instance.parameterDisplay(0); }},
        {"parameterIndex", [&] { instance.parameterIndex("Alpha"); }},
        {"setParameter by name", [&] { instance.setParameter("Alpha", 0.5f); }},
    };
    for (const auto& operation : operations)
        EXPECT_EQ(hostErrorOf(operation.second), "effect is closed") << operation.first;
    EXPECT_EQ(liveRecords(), liveBefore);
    // What the host itself knows stays readable.
    EXPECT_EQ(instance.hostSampleRate(), 44100.0f);
    EXPECT_FALSE(instance.calls().empty());
}

TEST(Lifecycle, EffCloseThroughDispatchClosesTheInstance)
{
    DirectHandle direct(kEchoPath);
    auto liveRecords = direct.symbol<echo::LiveRecordsProc>(echo::kLiveRecordsSymbol);
    const int liveBefore = liveRecords();

    PluginInstance instance(PluginModule::load(kEchoPath));
    EXPECT_EQ(instance.dispatch(effClose), 1);
    EXPECT_FALSE(instance.isOpen());
    EXPECT_EQ(liveRecords(), liveBefore);
    EXPECT_EQ(hostErrorOf([&] { instance.dispatch(effClose); }), "effect is closed");
}

TEST(Lifecycle, DestructorClosesOpenInstancesOnly)
{
    DirectHandle direct(kEchoPath);
    auto liveRecords = direct.symbol<echo::LiveRecordsProc>(echo::kLiveRecordsSymbol);
    const int liveBefore = liveRecords();
    {
        auto module = PluginModule::load(kEchoPath);
        PluginInstance closedEarly(module);
        PluginInstance first(module);
        PluginInstance second(module);
        closedEarly.close();
        EXPECT_EQ(liveRecords(), liveBefore + 2);
    }
    EXPECT_EQ(liveRecords(), liveBefore);
}

TEST(Lifecycle, InstanceKeepsItsModuleLoaded)
{
    auto module = PluginModule::load(kEchoPath);
    PluginInstance instance(module);
    EXPECT_EQ(module.use_count(), 2);
    module.reset();
    // The effect's code is still mapped: calls into it work.
    instance.start(44100.0f, 16);
    EXPECT_EQ(askHost(instance, audioMasterVersion), 2400);
}

TEST(Processing, ReachesTheRecordsProcessReplacing)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    instance.start(44100.0f, 4);
    float left[4] = {1.0f, -2.0f, 0.5f, 0.0f};
    float right[4] = {3.0f, 0.25f, -1.0f, 8.0f};
    float outLeft[4] = {};
    float outRight[4] = {};
    float* inputs[2] = {left, right};
    float* outputs[2] = {outLeft, outRight};
    instance.process(inputs, outputs, 4);
    for (int frame = 0; frame < 4; ++frame)
    {
        EXPECT_EQ(outLeft[frame], 2.0f * left[frame]);
        EXPECT_EQ(outRight[frame], 2.0f * right[frame]);
    }
}

TEST(Processing, RefusedWithoutReplacingSupport)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    float samples[2] = {1.0f, 1.0f};
    float sentinel[2] = {-7.0f, -7.0f};
    float* inputs[2] = {samples, samples};
    float* outputs[2] = {sentinel, sentinel};

    instance.effect()->flags &= ~effFlagsCanReplacing;
    EXPECT_EQ(hostErrorOf([&] { instance.process(inputs, outputs, 2); }),
              kEchoPath + ": effect does not announce replacing processing");

    instance.effect()->flags |= effFlagsCanReplacing;
    instance.effect()->processReplacing = nullptr;
    EXPECT_EQ(hostErrorOf([&] { instance.process(inputs, outputs, 2); }), kEchoPath + ": effect has no processReplacing");
    EXPECT_EQ(sentinel[0], -7.0f);
    EXPECT_EQ(sentinel[1], -7.0f);
}

TEST(Processing, RecordWithoutFunctionsGivesErrorsNotCrashes)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    AEffect* effect = instance.effect();
    const AEffectSetParameterProc setParameter = effect->setParameter;
    const AEffectGetParameterProc getParameter = effect->getParameter;
    effect->setParameter = nullptr;
    effect->getParameter = nullptr;
    EXPECT_EQ(hostErrorOf([&] { instance.setParameter(0, 0.5f); }), kEchoPath + ": effect has no setParameter");
    EXPECT_EQ(hostErrorOf([&] { instance.getParameter(0); }), kEchoPath + ": effect has no getParameter");
    effect->setParameter = setParameter;
    effect->getParameter = getParameter;

    const AEffectDispatcherProc dispatcher = effect->dispatcher;
    effect->dispatcher = nullptr;
    EXPECT_EQ(hostErrorOf([&] { instance.open(); }), kEchoPath + ": effect has no dispatcher");
    effect->dispatcher = dispatcher;
}

// --- parameters ---------------------------------------------------------------------------------------

TEST(Parameters, TextQueriesUseAZeroedBufferLargerThanTheInterfaceLimit)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    EXPECT_EQ(instance.parameterName(0), "Alpha");
    EXPECT_EQ(instance.parameterName(1), "Beta");
    EXPECT_EQ(instance.parameterName(2), "");
    EXPECT_EQ(instance.parameterLabel(0), echo::kLongLabel);
    // The effect writes three characters and no terminator.
    EXPECT_EQ(instance.parameterDisplay(1), echo::kUnterminatedDisplay);
    EXPECT_EQ(instance.parameterDisplay(0), "");

    const echo::EchoEffect& echoEffect = echoOf(instance);
    ASSERT_GE(echoEffect.receivedCount, 1);
    const echo::Received& last = echoEffect.received[echoEffect.receivedCount - 1];
    EXPECT_EQ(last.opcode, effGetParamDisplay);
    EXPECT_EQ(last.index, 0);  // the parameter number travels in index
    EXPECT_NE(last.ptr, nullptr);
}

TEST(Parameters, ByIndexReachTheRecord)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    instance.setParameter(1, 0.625f);
    EXPECT_EQ(echoOf(instance).parameters[1], 0.625f);
    EXPECT_EQ(instance.getParameter(1), 0.625f);
    EXPECT_EQ(instance.getParameter(0), 0.0f);
}

TEST(Parameters, ByNameFindsTheExactName)
{
    PluginInstance instance(PluginModule::load(kEchoPath));
    EXPECT_EQ(instance.parameterIndex("Alpha"), 0);
    EXPECT_EQ(instance.parameterIndex("Beta"), 1);
    instance.setParameter("Beta", 0.25f);
    EXPECT_EQ(instance.getParameter(1), 0.25f);
    EXPECT_EQ(instance.getParameter(0), 0.0f);

    EXPECT_EQ(hostErrorOf([&] { instance.parameterIndex("beta"); }), "unknown parameter 'beta' (known: Alpha, Beta)");
    EXPECT_EQ(hostErrorOf([&] { instance.parameterIndex("Alph"); }), "unknown parameter 'Alph' (known: Alpha, Beta)");
    EXPECT_EQ(hostErrorOf([&] { instance.setParameter("", 1.0f); }), "unknown parameter '' (known: Alpha, Beta)");
}

TEST(Instances, ManyOfOneModuleAreIndependentRecords)
{
    auto module = PluginModule::load(kEchoPath);
    std::vector<std::unique_ptr<PluginInstance>> instances;
    for (int count = 0; count < 8; ++count)
        instances.push_back(std::make_unique<PluginInstance>(module));
    for (std::size_t index = 0; index < instances.size(); ++index)
        instances[index]->setParameter(0, static_cast<float>(index) / 8.0f);
    for (std::size_t index = 0; index < instances.size(); ++index)
    {
        EXPECT_EQ(instances[index]->getParameter(0), static_cast<float>(index) / 8.0f);
        for (std::size_t other = index + 1; other < instances.size(); ++other)
            EXPECT_NE(instances[index]->effect(), instances[other]->effect());
    }
}

}  // namespace
