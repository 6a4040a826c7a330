// The audio thread's promise, measured: processReplacing of the built module never allocates,
// frees, takes a lock or waits, whatever the input (NaN, infinities, denormals) and whatever the
// host changed between blocks (parameters, sample rate, resume). This program replaces the C
// allocator, operator new/delete and the POSIX lock functions with versions that count the calls
// of a watched thread and then do the real work; the module, loaded with dlopen, binds to them as
// it would to the system's. Waits are the thread's voluntary context switches (getrusage).
// Linux only, and not under a sanitizer, which replaces the allocator itself.
#include "AEffectX.h"
#include "ParameterFacts.h"
#include "TestSeed.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale>
#include <mutex>
#include <new>
#include <random>
#include <thread>
#include <vector>

// --- counting ------------------------------------------------------------------------------------

namespace
{

struct Counts
{
    std::uint64_t allocations = 0;  // malloc, calloc, realloc, the aligned ones, operator new
    std::uint64_t frees = 0;        // free, operator delete
    std::uint64_t locks = 0;        // mutex, read-write lock, spin lock, semaphore and condition waits
};

// Only the thread inside a watch() counts; everything else passes straight through.
thread_local bool t_watching = false;
thread_local Counts t_counts;

void countAllocation()
{
    if (t_watching)
        t_counts.allocations++;
}

void countFree()
{
    if (t_watching)
        t_counts.frees++;
}

void countLock()
{
    if (t_watching)
        t_counts.locks++;
}

long voluntarySwitches()
{
    rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

struct Watched
{
    Counts counts;
    long waits = 0;  // voluntary context switches
};

// Runs body with this thread's counters on and returns what it did.
template <class Body>
Watched watch(Body&& body)
{
    t_counts = Counts();
    const long switchesBefore = voluntarySwitches();
    t_watching = true;
    body();
    t_watching = false;
    Watched result;
    result.waits = voluntarySwitches() - switchesBefore;
    result.counts = t_counts;
    return result;
}

// The next definition of a function after this program's own: the C library's.
template <class Function>
Function next(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr)
    {
        std::fprintf(stderr, "no %s after this program's own\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

// --- the replacements ---------------------------------------------------------------------------
// The allocator goes to glibc's own entry points, which neither recurse into these nor lock
// anything of ours; the lock functions go to the next definition, looked up once at start-up.

extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* pointer);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size)
{
    countAllocation();
    return __libc_malloc(size);
}

void free(void* pointer)
{
    countFree();
    __libc_free(pointer);
}

void* calloc(std::size_t count, std::size_t size)
{
    countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size)
{
    countAllocation();
    return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size)
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size)
{
    countAllocation();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr && size != 0)
        return ENOMEM;
    *result = pointer;
    return 0;
}
}  // extern "C"

namespace
{
using MutexFunction = int (*)(pthread_mutex_t*);
using MutexTimedFunction = int (*)(pthread_mutex_t*, const timespec*);
using RwlockFunction = int (*)(pthread_rwlock_t*);
using SpinFunction = int (*)(pthread_spinlock_t*);
using SemaphoreFunction = int (*)(sem_t*);
using SemaphoreTimedFunction = int (*)(sem_t*, const timespec*);
using ConditionFunction = int (*)(pthread_cond_t*, pthread_mutex_t*);
using ConditionTimedFunction = int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*);

struct LockFunctions
{
    MutexFunction mutexLock = next<MutexFunction>("pthread_mutex_lock");
    MutexFunction mutexTrylock = next<MutexFunction>("pthread_mutex_trylock");
    MutexTimedFunction mutexTimedlock = next<MutexTimedFunction>("pthread_mutex_timedlock");
    RwlockFunction rdlock = next<RwlockFunction>("pthread_rwlock_rdlock");
    RwlockFunction wrlock = next<RwlockFunction>("pthread_rwlock_wrlock");
    RwlockFunction tryrdlock = next<RwlockFunction>("pthread_rwlock_tryrdlock");
    RwlockFunction trywrlock = next<RwlockFunction>("pthread_rwlock_trywrlock");
    SpinFunction spinLock = next<SpinFunction>("pthread_spin_lock");
    SpinFunction spinTrylock = next<SpinFunction>("pthread_spin_trylock");
    SemaphoreFunction semWait = next<SemaphoreFunction>("sem_wait");
    SemaphoreFunction semTrywait = next<SemaphoreFunction>("sem_trywait");
    SemaphoreTimedFunction semTimedwait = next<SemaphoreTimedFunction>("sem_timedwait");
    ConditionFunction condWait = next<ConditionFunction>("pthread_cond_wait");
    ConditionTimedFunction condTimedwait = next<ConditionTimedFunction>("pthread_cond_timedwait");
};

const LockFunctions& lockFunctions()
{
    static const LockFunctions functions;
    return functions;
}

// Looked up before main, while only one thread runs.
const LockFunctions& g_lookedUpAtStart = lockFunctions();
}  // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    countLock();
    return lockFunctions().mutexLock(mutex);
}

int pthread_mutex_trylock(pthread_mutex_t* mutex)
{
    countLock();
    return lockFunctions().mutexTrylock(mutex);
}

int pthread_mutex_timedlock(pthread_mutex_t* mutex, const timespec* until)
{
    countLock();
    return lockFunctions().mutexTimedlock(mutex, until);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* lock)
{
    countLock();
    return lockFunctions().rdlock(lock);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* lock)
{
    countLock();
    return lockFunctions().wrlock(lock);
}

int pthread_rwlock_tryrdlock(pthread_rwlock_t* lock)
{
    countLock();
    return lockFunctions().tryrdlock(lock);
}

int pthread_rwlock_trywrlock(pthread_rwlock_t* lock)
{
    countLock();
    return lockFunctions().trywrlock(lock);
}

int pthread_spin_lock(pthread_spinlock_t* lock)
{
    countLock();
    return lockFunctions().spinLock(lock);
}

int pthread_spin_trylock(pthread_spinlock_t* lock)
{
    countLock();
    return lockFunctions().spinTrylock(lock);
}

int sem_wait(sem_t* semaphore)
{
    countLock();
    return lockFunctions().semWait(semaphore);
}

int sem_trywait(sem_t* semaphore)
{
    countLock();
    return lockFunctions().semTrywait(semaphore);
}

int sem_timedwait(sem_t* semaphore, const timespec* until)
{
    countLock();
    return lockFunctions().semTimedwait(semaphore, until);
}

int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex)
{
    countLock();
    return lockFunctions().condWait(condition, mutex);
}

int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex, const timespec* until)
{
    countLock();
    return lockFunctions().condTimedwait(condition, mutex, until);
}
}  // extern "C"

// operator new and delete in all their forms count once and go to the C library directly, so an
// allocation through new is not counted twice.
namespace
{
void* allocate(std::size_t size)
{
    countAllocation();
    void* pointer = __libc_malloc(size == 0 ? 1 : size);
    if (pointer == nullptr)
        throw std::bad_alloc();
    return pointer;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment)
{
    countAllocation();
    void* pointer = __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
    if (pointer == nullptr)
        throw std::bad_alloc();
    return pointer;
}

void release(void* pointer) noexcept
{
    countFree();
    __libc_free(pointer);
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    countAllocation();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    countAllocation();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { release(pointer); }

// --- the tests ------------------------------------------------------------------------------------

namespace
{

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kDenormal = std::numeric_limits<float>::denorm_min();

// Called through volatile pointers so that the compiler cannot pair up and drop the calls.
void* (*volatile g_malloc)(std::size_t) = std::malloc;
void* (*volatile g_calloc)(std::size_t, std::size_t) = std::calloc;
void* (*volatile g_realloc)(void*, std::size_t) = std::realloc;
void (*volatile g_free)(void*) = std::free;
void* volatile g_sink = nullptr;

// The counters are only worth their zeros if they count: every kind of call made inside a watch,
// by this program and by shared libraries (the module's constructor, libstdc++'s locale lock),
// shows up.
TEST(AudioThreadHygiene, TheCountersSeeAllocationsFreesLocksAndWaits)
{
    const Watched direct = watch([] {
        void* block = g_malloc(32);
        block = g_realloc(block, 64);
        g_free(block);
        g_free(g_calloc(4, 8));
        g_sink = new int(7);
        delete static_cast<int*>(g_sink);
        std::mutex mutex;
        std::lock_guard<std::mutex> hold(mutex);
    });
    EXPECT_EQ(direct.counts.allocations, 4u);  // malloc, realloc, calloc, new
    EXPECT_EQ(direct.counts.frees, 3u);
    EXPECT_EQ(direct.counts.locks, 1u);

    // libstdc++ takes its locale mutex inside the shared library.
    const Watched shared = watch([] { std::locale::global(std::locale::classic()); });
    EXPECT_GE(shared.counts.locks, 1u);

    // Sleeping gives the processor up voluntarily.
    const Watched sleeping = watch([] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    EXPECT_GE(sleeping.waits, 1);

    // The module binds to these definitions as well: creating and closing an instance allocates
    // and frees inside it.
    auto module = khost::PluginModule::load(KESTRUNE_MODULE_PATH);
    AEffect* effect = nullptr;
    const Watched created = watch([&] {
        effect = module->entry()([](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            return opcode == audioMasterVersion ? kVstVersion : 0;
        });
    });
    ASSERT_NE(effect, nullptr);
    EXPECT_GE(created.counts.allocations, 3u);  // the effect, its compressor, its programs
    const Watched closed = watch([&] { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); });
    EXPECT_GE(closed.counts.frees, 3u);
}

enum class Input
{
    Music,
    Silence,
    Denormal,
    NaN,
    Infinite,
    Mixed
};

void fill(std::mt19937& rng, Input kind, float* channel, int frames)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const float bad[] = {kNaN, kInf, -kInf, kDenormal, -kDenormal, 0.0f, 1e30f};
    for (int i = 0; i < frames; i++)
    {
        switch (kind)
        {
        case Input::Music: channel[i] = unit(rng); break;
        case Input::Silence: channel[i] = 0.0f; break;
        case Input::Denormal: channel[i] = kDenormal * static_cast<float>(1 + rng() % 1000) * (rng() % 2 ? 1 : -1); break;
        case Input::NaN: channel[i] = kNaN; break;
        case Input::Infinite: channel[i] = rng() % 2 ? kInf : -kInf; break;
        case Input::Mixed: channel[i] = rng() % 4 == 0 ? bad[rng() % 7] : unit(rng); break;
        }
    }
}

// Thousands of blocks of every kind of input and buffer layout, with the host changing parameters,
// the sample rate and the processing state between them; only the processReplacing calls are
// watched.
TEST(AudioThreadHygiene, ProcessReplacingNeitherAllocatesNorLocksNorWaits)
{
    std::mt19937 rng = kestrune_test::seededGenerator();
    auto module = khost::PluginModule::load(KESTRUNE_MODULE_PATH);
    khost::PluginInstance instance(module);
    instance.start(48000.0f, 4096);
    AEffect* const effect = instance.effect();
    ASSERT_NE(effect, nullptr);

    constexpr int kMaxFrames = 4096;
    std::vector<std::vector<float>> channels(4, std::vector<float>(kMaxFrames));
    std::vector<std::vector<float>> outputs(2, std::vector<float>(kMaxFrames));
    const float rates[] = {8000.0f, 44100.0f, 48000.0f, 96000.0f, 384000.0f, 0.0f, -1.0f, kNaN, kInf, kDenormal};
    const float values[] = {0.0f, 1.0f, 0.5f, -1.0f, 2.0f, kNaN, kInf, -kInf, kDenormal};

    Counts total;
    long waits = 0;
    std::uint64_t frames = 0;
    int sidechainBlocks = 0;
    int nonFiniteBlocks = 0;
    constexpr int kBlocks = 6000;
    for (int block = 0; block < kBlocks; block++)
    {
        // Between blocks, as a host does: new values (out of range and NaN among them), now and
        // then a new sample rate, a suspend and resume, a resume alone.
        const int changes = static_cast<int>(rng() % 4);
        for (int i = 0; i < changes; i++)
        {
            const int index = static_cast<int>(rng() % kref::kParameterCount);
            const float value = rng() % 5 == 0 ? values[rng() % 9] : std::uniform_real_distribution<float>(0, 1)(rng);
            effect->setParameter(effect, index, value);
        }
        switch (rng() % 40)
        {
        case 0: effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, rates[rng() % 10]); break;
        case 1: effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
                effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f); break;
        case 2: effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f); break;
        case 3: effect->dispatcher(effect, effSetProgram, 0, 0, nullptr, 0.0f); break;
        default: break;
        }

        const int size = rng() % 50 == 0 ? 0 : 1 + static_cast<int>(rng() % (rng() % 8 == 0 ? kMaxFrames : 256));
        const Input kind = static_cast<Input>(rng() % 6);
        for (auto& channel : channels)
            fill(rng, rng() % 2 ? kind : Input::Music, channel.data(), size);
        if (kind == Input::NaN || kind == Input::Infinite || kind == Input::Mixed)
            nonFiniteBlocks++;
        float* in[4] = {channels[0].data(), channels[1].data(), channels[2].data(), channels[3].data()};
        float* out[2] = {outputs[0].data(), outputs[1].data()};
        switch (rng() % 3)
        {
        case 0: break;                                  // separate
        case 1: out[0] = in[0]; out[1] = in[1]; break;  // in place
        default: out[0] = in[1]; out[1] = in[0]; break; // crossed
        }
        if (effect->getParameter(effect, 3) >= 0.5f)
            sidechainBlocks++;

        const Watched watched = watch([&] { effect->processReplacing(effect, in, out, size); });
        total.allocations += watched.counts.allocations;
        total.frees += watched.counts.frees;
        total.locks += watched.counts.locks;
        waits += watched.waits;
        frames += static_cast<std::uint64_t>(size);
    }
    std::printf("%d processReplacing calls, %llu frames (%d keyed by the sidechain, %d with non-finite input): "
                "%llu allocations, %llu frees, %llu locks, %ld waits\n",
                kBlocks, static_cast<unsigned long long>(frames), sidechainBlocks, nonFiniteBlocks,
                static_cast<unsigned long long>(total.allocations), static_cast<unsigned long long>(total.frees),
                static_cast<unsigned long long>(total.locks), waits);
    EXPECT_EQ(total.allocations, 0u);
    EXPECT_EQ(total.frees, 0u);
    EXPECT_EQ(total.locks, 0u);
    EXPECT_EQ(waits, 0);
    // Both key sources and bad input really went through.
    EXPECT_GT(sidechainBlocks, kBlocks / 10);
    EXPECT_LT(sidechainBlocks, kBlocks - kBlocks / 10);
    EXPECT_GT(nonFiniteBlocks, kBlocks / 10);
}

}  // namespace
